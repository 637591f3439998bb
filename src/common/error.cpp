#include "common/error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kelbow {

namespace {

const char* gProgramName = "kelbow";

[[noreturn]] void endRun() { std::exit(kFailureStatus); }

void outOfMemory() {
  // Nothing here allocates: the line is written as it stands and the process
  // ends at once, without running the destructors of a half-built state.
  std::fflush(stdout);
  std::fputs(gProgramName, stderr);
  std::fputs(": out of memory\n", stderr);
  std::_Exit(kFailureStatus);
}

}  // namespace

void error(std::string_view message, bool fatal_) {
  std::fflush(stdout);
  std::fwrite(message.data(), 1, message.size(), stderr);
  if (fatal_) endRun();
}

void fatal(std::string_view message) {
  error(message, false);
  endRun();
}

void setProgramName(const char* name) { gProgramName = name; }
const char* programName() { return gProgramName; }

void reportFileFailure(std::string_view fixedMessage, const std::string& fileName, int errnum) {
  error(fixedMessage, false);
  error(std::string(gProgramName) + ": " + fileName + ": " + std::strerror(errnum) + "\n", false);
}

void installOutOfMemoryHandler() { std::set_new_handler(outOfMemory); }


}  // namespace kelbow
