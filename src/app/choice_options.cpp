#include "app/choice_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelbow {

bool parseCount(const char* text, long long lo, long long hi, long long& v) {
  char* end = nullptr;
  errno = 0;
  v = std::strtoll(text, &end, 10);
  return end != text && *end == '\0' && errno == 0 && v >= lo && v <= hi;
}

std::string_view longName(const option* table, int code) {
  for (; table->name != nullptr; ++table)
    if (table->val == code && table->flag == nullptr) return table->name;
  return {};
}

std::string setChoiceOption(std::string_view name, const char* text, ChoiceSettings& s) {
  long long v = 0;
  if (name == "references") {
    if (!parseCount(text, 2, 1000, v)) return "--references takes a number from 2 to 1000";
    s.references = static_cast<int>(v);
  } else if (name == "orders") {
    if (!parseCount(text, 0, 1000, v)) return "--orders takes a number from 0 to 1000";
    s.orders = static_cast<int>(v);
  } else if (name == "seed") {
    if (!parseCount(text, 0, LLONG_MAX, v)) return "--seed takes a whole number of 0 or more";
    s.seed = static_cast<std::uint64_t>(v);
  } else if (name == "reference-rows") {
    if (!parseCount(text, 1, INT_MAX, v))
      return "--reference-rows takes a number from 1 to 2147483647";
    s.referenceRows = v;
  } else if (name == "threads") {
    if (!parseCount(text, 1, 1024, v)) return "--threads takes a number from 1 to 1024";
    s.threads = static_cast<int>(v);
  } else {
    return "--" + std::string(name) + " is no option of the choice";
  }
  return "";
}

}  // namespace kelbow
