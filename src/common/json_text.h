// Text as a JSON string, for every JSON the tools write: quotes, backslashes
// and control characters escaped, and bytes that are not valid UTF-8 (a file
// name in another encoding, say) replaced by U+FFFD, so that any JSON reader
// takes the document.
#pragma once

#include <string>
#include <string_view>

namespace kelbow {

// `text` between double quotes, escaped.
std::string jsonString(std::string_view text);

// A number for JSON: `value` with `decimals` digits after the point ('.'
// whatever the locale), or null when it is not finite.
std::string jsonNumber(double value, int decimals);

}  // namespace kelbow
