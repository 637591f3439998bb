#include "common/message_text.h"

namespace kelbow {

namespace {

// Length of the valid UTF-8 sequence at the start of `s` that is not a control
// character (C1 controls are U+0080..U+009F), or 0.
std::size_t printableSequence(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c >= 0x20 && c < 0x7f) return 1;
  std::size_t n = 0;
  unsigned min = 0, cp = 0;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2, min = 0x80, cp = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3, min = 0x800, cp = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3f);
  }
  const bool surrogate = cp >= 0xd800 && cp <= 0xdfff;
  if (cp < min || cp > 0x10ffff || surrogate || cp <= 0x9f) return 0;
  return n;
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
