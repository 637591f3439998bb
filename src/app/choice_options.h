// The options of the choice of K that kelbow-choose and kelbow-report share:
// --references, --orders, --seed, --reference-rows and --threads, with one
// range and one message each.
#pragma once

#include <getopt.h>

#include <string>
#include <string_view>

#include "choose/choose.h"

namespace kelbow {

// Whether `text` is a whole decimal number from lo to hi; the number in v.
bool parseCount(const char* text, long long lo, long long hi, long long& v);

// The long name of the option whose code getopt_long returned, from the
// tool's table (empty when it has none).
std::string_view longName(const option* table, int code);

// Sets the choice option `name` (a long name above) from `text`; "" when it
// was taken, else the refusal ("--orders takes a number from 0 to 1000").
std::string setChoiceOption(std::string_view name, const char* text, ChoiceSettings& s);

}  // namespace kelbow
