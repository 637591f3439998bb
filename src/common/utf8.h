// The one UTF-8 check of the tools: how long the valid UTF-8 sequence at the
// start of a piece of text is, so that every writer (JSON, XML, messages)
// treats invalid bytes alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelbow {

// Length of the valid UTF-8 sequence at the start of `s` (not empty), or 0 when
// the bytes there are not one (overlong forms, surrogates and code points above
// U+10FFFF included). *codePoint receives the code point of a valid sequence.
std::size_t utf8Sequence(std::string_view s, std::uint32_t* codePoint);

}  // namespace kelbow
