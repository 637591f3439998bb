#include "app/companion.h"

#include <cstdio>

#include "common/version.h"

namespace kelbow {

void resetCompanionScan() {
  ::optind = 0;  // glibc: 0 also resets the scanner's internal state
  ::opterr = 0;
}

std::string refusedOption(int c, char* const argv[]) {
  const std::string word = ::optopt != 0 ? std::string("-") + static_cast<char>(::optopt)
                                         : std::string(argv[::optind - 1]);
  std::string what = c == ':' ? "option " + word + " needs an argument" : "unknown option " + word;
  // "--name=value" names the option without its value.
  if (::optopt == 0) {
    const size_t eq = what.find('=');
    if (eq != std::string::npos) what.erase(eq);
  }
  return what;
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

int printHelp(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

}  // namespace kelbow
