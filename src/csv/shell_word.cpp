#include "csv/shell_word.h"

#include <algorithm>

namespace kelbow {

std::string shellWord(std::string_view text) {
  auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_./:@%+=,-").find(c) != std::string_view::npos;
  };
  if (!text.empty() && std::all_of(text.begin(), text.end(), plain)) return std::string(text);
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string columnReference(size_t col, const std::vector<std::string>& names, bool named,
                            bool inList) {
  const std::string& name = names[col];
  const bool usable = named && !name.empty() &&
                      name.find_first_not_of("0123456789") != std::string::npos &&
                      (!inList || name.find(',') == std::string::npos) &&
                      std::count(names.begin(), names.end(), name) == 1;
  return usable ? name : std::to_string(col + 1);
}

std::string columnList(const std::vector<std::string>& names, size_t most) {
  std::string out;
  for (size_t i = 0; i < names.size() && i < most; ++i) {
    if (i > 0) out += ", ";
    out += shellWord(names[i]);
  }
  if (names.size() > most) out += ", ...";
  return out;
}

}  // namespace kelbow
