#include "common/message_text.h"

#include <cstdint>

#include "common/utf8.h"

namespace kelbow {

namespace {

// Length of the valid UTF-8 sequence at the start of `s` that is not a control
// character (C1 controls are U+0080..U+009F), or 0.
std::size_t printableSequence(std::string_view s) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  if (c >= 0x20 && c < 0x7f) return 1;
  std::uint32_t cp = 0;
  const std::size_t n = utf8Sequence(s, &cp);
  return n > 1 && cp > 0x9f ? n : 0;
}

void escapeByte(unsigned char c, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
  }
}

}  // namespace

std::string shownText(std::string_view text, std::size_t limit) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t n = printableSequence(text.substr(i));
    const std::size_t take = n == 0 ? 1 : n;
    if (i + take > limit) {
      out += "...";
      return out;
    }
    if (n == 0) {
      escapeByte(static_cast<unsigned char>(text[i]), out);
    } else {
      out.append(text, i, n);
    }
    i += take;
  }
  return out;
}

}  // namespace kelbow
