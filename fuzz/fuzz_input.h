// The input of the harnesses: a description, then a NUL byte, then a data
// file. Without a NUL the whole input is the description and the data is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kelbow::fuzzing {

struct FuzzInput {
  std::string_view description;
  std::string_view data;
};

inline FuzzInput splitInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(bytes), size);
  const std::size_t nul = all.find('\0');
  if (nul == std::string_view::npos) return {all, {}};
  return {all.substr(0, nul), all.substr(nul + 1)};
}

// A broken promise of the code under test: ends the run as a finding.
#define KELBOW_FUZZ_CHECK(condition)                                                       \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "check failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

}  // namespace kelbow::fuzzing
