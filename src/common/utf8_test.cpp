#include "common/utf8.h"

#include <gtest/gtest.h>

#include "common/json_text.h"

namespace kelbow {
namespace {

TEST(Utf8Sequence, TakesValidSequencesAndRefusesEveryFormOfInvalidOne) {
  std::uint32_t cp = 0;
  EXPECT_EQ(utf8Sequence("a", &cp), 1u);
  EXPECT_EQ(utf8Sequence("\xC3\xA9x", &cp), 2u);  // é
  EXPECT_EQ(cp, 0xE9u);
  EXPECT_EQ(utf8Sequence("\xF0\x9F\x98\x80", &cp), 4u);  // U+1F600
  EXPECT_EQ(cp, 0x1F600u);
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE9",
                          "\xC3", "\x80", "\xFF"})
    EXPECT_EQ(utf8Sequence(bad, &cp), 0u) << bad;
}

TEST(JsonString, EscapesControlsAndReplacesInvalidBytes) {
  EXPECT_EQ(jsonString("caf\xE9 \"x\"\\\n\t\x01\x7F"
                       "\xC3\xA9"),
            "\"caf\xEF\xBF\xBD \\\"x\\\"\\\\\\n\\t\\u0001\\u007f\xC3\xA9\"");
  EXPECT_EQ(jsonNumber(-0.0000001, 6), "0.000000");
  EXPECT_EQ(jsonNumber(1.0 / 0.0, 3), "null");
}

}  // namespace
}  // namespace kelbow
