// The tool's one reporting routine for fixed messages and fatal failures.
// Every internal consistency failure ends here; refused input comes back to
// the run driver as an error, which it reports through error().
#pragma once

#include <string>
#include <string_view>

namespace kelbow {

// Status of every run that ends without appending its kelbow block.
inline constexpr int kFailureStatus = 1;

// Writes `message` to standard error exactly as given (no newline is added),
// after flushing standard output so that the message never lands inside a
// progress line. When `fatal` is true the process then ends with
// kFailureStatus; open stdio streams are flushed by the exit.
void error(std::string_view message, bool fatal);

// Shorthand for error(message, true) that the compiler knows does not return.
[[noreturn]] void fatal(std::string_view message);

// The name that starts the tool's own message lines ("kelbow" unless a run
// driver sets another).
void setProgramName(const char* name);
const char* programName();

// From now on every line that error() writes starts with "PROGRAM: " (added
// where it is not there yet): the companions' form of the fixed messages.
void prefixMessages();

// Writes `fixedMessage` and then the line "PROGRAM: FILE: reason", the reason
// being the system's text for `errnum`.
void reportFileFailure(std::string_view fixedMessage, const std::string& fileName, int errnum);

// Descriptors 0, 1 and 2 that are closed are opened on /dev/null for reading,
// so that no file the run opens takes their place, and writing to a closed
// standard output still fails (EBADF) as it should.
void guardStandardDescriptors();

// From now on a failed allocation anywhere ends the process with the line
// "PROGRAM: out of memory" on standard error and kFailureStatus, after the
// run's temporary files are removed.
void installOutOfMemoryHandler();

}  // namespace kelbow
