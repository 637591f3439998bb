#include "common/error.h"

#include <cstdio>
#include <cstdlib>

namespace kelbow {

void error(std::string_view message, bool fatal_) {
  std::fwrite(message.data(), 1, message.size(), stderr);
  if (fatal_) std::exit(kFailureStatus);
}

void fatal(std::string_view message) {
  error(message, false);
  std::exit(kFailureStatus);
}

}  // namespace kelbow
