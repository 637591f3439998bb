// Names and pieces of file content quoted into a message, made safe to show on
// a terminal: control characters (C0, DEL, C1), and bytes that are not valid
// UTF-8, are escaped (\t \n \r, else \xHH), and a long piece is cut with "...".
// Ordinary printable text, UTF-8 included, comes back unchanged, so the tool's
// fixed messages stay as they are for ordinary names. Every tool uses these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelbow {

// Longest name shown whole: longer than any path the system opens.
inline constexpr std::size_t kShownNameLimit = 4096;
// Longest piece of file content (a value, a line) shown whole.
inline constexpr std::size_t kShownTextLimit = 60;

// `text` escaped; when it holds more than `limit` bytes, its first characters
// (at most `limit` bytes of them) and "...". The result never holds a control
// character or invalid UTF-8, and showing it again with a limit no smaller
// than its length changes nothing.
std::string shownText(std::string_view text, std::size_t limit = kShownTextLimit);

// A file name for a message: shownText with kShownNameLimit.
inline std::string shownName(std::string_view name) { return shownText(name, kShownNameLimit); }

}  // namespace kelbow
