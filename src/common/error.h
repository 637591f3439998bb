// The tool's one reporting routine for fixed messages and fatal failures.
// Every internal consistency failure and every refused input ends here.
#pragma once

#include <string_view>

namespace kelbow {

// Status of every run that ends without appending its kelbow block.
inline constexpr int kFailureStatus = 1;

// Writes `message` to standard error exactly as given (no newline is added).
// When `fatal` is true the process then ends with kFailureStatus; open stdio
// streams are flushed by the exit, as they are on every other exit.
void error(std::string_view message, bool fatal);

// Shorthand for error(message, true) that the compiler knows does not return.
[[noreturn]] void fatal(std::string_view message);

}  // namespace kelbow
