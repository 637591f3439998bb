#include "common/error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/message_text.h"
#include "common/temporary_files.h"

namespace kelbow {

namespace {

const char* gProgramName = "kelbow";
bool gPrefixed = false;

[[noreturn]] void endRun() { std::exit(kFailureStatus); }

void outOfMemory() {
  // Nothing here allocates: the run's temporaries go, the line is written as
  // it stands and the process ends at once, without running the destructors of
  // a half-built state.
  removeTemporaries();
  std::fflush(stdout);
  std::fputs(gProgramName, stderr);
  std::fputs(": out of memory\n", stderr);
  std::_Exit(kFailureStatus);
}

// True when every byte of `message` is printable ASCII, a tab or a line end:
// then it is written as it stands.
bool plain(std::string_view message) {
  for (char c : message)
    if ((c < 0x20 || c > 0x7e) && c != '\n' && c != '\t') return false;
  return true;
}

}  // namespace

void error(std::string_view message, bool fatal_) {
  std::fflush(stdout);
  if (plain(message) && !gPrefixed) {
    std::fwrite(message.data(), 1, message.size(), stderr);
  } else {
    // Whatever reached the message unescaped (a name, a piece of a file) is
    // escaped line by line, so nothing in it can steer a terminal.
    std::string shown;
    const std::string prefix = std::string(gProgramName) + ": ";
    for (std::size_t start = 0; start < message.size();) {
      std::size_t end = message.find('\n', start);
      if (end == std::string_view::npos) end = message.size();
      const std::string_view line = message.substr(start, end - start);
      if (gPrefixed && !line.starts_with(prefix)) shown += prefix;
      shown += shownText(line, message.size());
      if (end < message.size()) shown += '\n';
      start = end + 1;
    }
    std::fwrite(shown.data(), 1, shown.size(), stderr);
  }
  if (fatal_) endRun();
}

void fatal(std::string_view message) {
  error(message, false);
  endRun();
}

void setProgramName(const char* name) { gProgramName = name; }
void prefixMessages() { gPrefixed = true; }
const char* programName() { return gProgramName; }

void reportFileFailure(std::string_view fixedMessage, const std::string& fileName, int errnum) {
  error(fixedMessage, false);
  error(
      std::string(gProgramName) + ": " + shownName(fileName) + ": " + std::strerror(errnum) + "\n",
      false);
}

void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void installOutOfMemoryHandler() { std::set_new_handler(outOfMemory); }

}  // namespace kelbow
