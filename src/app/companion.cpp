#include "app/companion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

int companionFailure(std::string_view program, std::string_view message) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(program.size()), program.data(),
               static_cast<int>(message.size()), message.data());
  return kCompanionFailure;
}

int usageFailure(std::string_view program, std::string_view message) {
  return companionFailure(program,
                          std::string(message) + " (see " + std::string(program) + " --help)");
}

int printVersion(std::string_view program) {
  std::printf("%.*s %s\n", static_cast<int>(program.size()), program.data(), kVersion);
  return 0;
}

int writeStandardOutput(std::string_view program, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    return companionFailure(
        program, std::string("standard output: cannot write (") + std::strerror(errno) + ")");
  return 0;
}

int printHelp(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

Scan commonOption(int c, char* const argv[], std::string_view program, std::string_view help) {
  if (c == 'h') {
    printHelp(help);
    return Scan::kDone;
  }
  if (c == kVersionOption) {
    printVersion(program);
    return Scan::kDone;
  }
  usageFailure(program, refusedOption(c, argv));
  return Scan::kRefused;
}

}  // namespace kelbow
