// Editing a written document in the tests that read damaged ones back.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kelbow::testing {

// `text` with the first `from` replaced by `to`; a `from` that is not there
// fails the test, so that a damaged document is never the original unawares.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at == std::string::npos) return text;
  return text.replace(at, from.size(), to);
}

}  // namespace kelbow::testing
