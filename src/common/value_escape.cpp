#include "common/value_escape.h"

namespace kelbow {

std::string escapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescapeValue(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char n = text[i + 1];
      const char plain = n == 't' ? '\t' : n == 'r' ? '\r' : n == 'n' ? '\n' : n == '\\' ? '\\' : 0;
      if (plain != 0) {
        out += plain;
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace kelbow
