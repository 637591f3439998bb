#include "app/companion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/error.h"
#include "common/message_text.h"
#include "common/temporary_files.h"
#include "common/version.h"

namespace kelbow {

void resetCompanionScan() {
  ::optind = 0;  // glibc: 0 also resets the scanner's internal state
  ::opterr = 0;
}

std::string refusedOption(int c, char* const argv[]) {
  // A long option is named as it was written, without "=value"; a short one by
  // its letter (it may sit in a cluster such as -qx).
  const std::string_view last = ::optind > 0 ? argv[::optind - 1] : "";
  std::string word;
  if (last.starts_with("--")) {
    word = last.substr(0, last.find('='));
  } else {
    word = std::string("-") + static_cast<char>(::optopt);
  }
  return c == ':' ? "option " + word + " needs an argument" : "unknown option " + word;
}

void startCompanion(const char* program) {
  setProgramName(program);
  guardStandardDescriptors();
  installOutOfMemoryHandler();
  installTemporaryCleanup();
  // A file-size limit fails the write (EFBIG) and is reported like a full
  // disk, instead of ending the process with its files half-made.
  ::signal(SIGXFSZ, SIG_IGN);
}

int companionFailure(std::string_view program, std::string_view message) {
  // Names and file content reach the line unescaped from everywhere; here they
  // are made safe for a terminal, and a runaway line is cut.
  const std::string shown = shownText(message, kShownMessageLimit);
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(),
               shown.c_str());
  return kCompanionFailure;
}

int usageFailure(std::string_view program, std::string_view message) {
  return companionFailure(program,
                          std::string(message) + " (see " + std::string(program) + " --help)");
}

int printVersion(std::string_view program) {
  return writeStandardOutput(program, std::string(program) + " " + kVersion + "\n");
}

int writeStandardOutput(std::string_view program, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return checkStandardOutput(program);
}

std::string standardOutputProblem() {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return "";
  int reason = errno;
  if (reason == 0) {
    // An earlier write failed and its reason is gone; a descriptor that is
    // closed (or open for reading only) still tells its own.
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) reason = EBADF;
  }
  std::string text = "standard output: cannot write";
  if (reason != 0) text += std::string(" (") + std::strerror(reason) + ")";
  return text;
}

int checkStandardOutput(std::string_view program) {
  const std::string problem = standardOutputProblem();
  return problem.empty() ? 0 : companionFailure(program, problem);
}

int printHelp(std::string_view program, std::string_view text) {
  return writeStandardOutput(program, text);
}

Scan commonOption(int c, char* const argv[], std::string_view program, std::string_view help) {
  if (c == 'h') return printHelp(program, help) == 0 ? Scan::kDone : Scan::kRefused;
  if (c == kVersionOption) return printVersion(program) == 0 ? Scan::kDone : Scan::kRefused;
  usageFailure(program, refusedOption(c, argv));
  return Scan::kRefused;
}

}  // namespace kelbow
