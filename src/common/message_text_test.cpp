#include "common/message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kelbow {
namespace {

TEST(MessageTextTest, OrdinaryTextAndUtf8StayAsTheyAre) {
  for (const char* text : {"critters.data", "a b/c-d_e.f", "données.csv", "日本.data",
                           "\xf0\x9f\x90\x88", "back\\slash", ""})
    EXPECT_EQ(shownText(text, 4096), text);
}

TEST(MessageTextTest, ControlsAndInvalidUtf8AreEscaped) {
  EXPECT_EQ(shownText("a\tb\nc\rd\x1b[2J\x07\x7f"), "a\\tb\\nc\\rd\\x1b[2J\\x07\\x7f");
  EXPECT_EQ(shownText(std::string("nul\0x", 5)), "nul\\x00x");
  EXPECT_EQ(shownText("\xc2\x9b"
                      "31m"),
            "\\xc2\\x9b31m");                                        // C1 control (CSI)
  EXPECT_EQ(shownText("\xff\xfe"), "\\xff\\xfe");                    // never UTF-8
  EXPECT_EQ(shownText("\xc3"), "\\xc3");                             // cut short
  EXPECT_EQ(shownText("\xc0\xaf"), "\\xc0\\xaf");                    // overlong
  EXPECT_EQ(shownText("\xed\xa0\x80"), "\\xed\\xa0\\x80");           // surrogate
  EXPECT_EQ(shownText("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");  // above U+10FFFF
  const std::string shown = shownText("x\x1b\xff");
  EXPECT_EQ(shownText(shown), shown);
}

TEST(MessageTextTest, LongTextIsCutOnACharacterBoundary) {
  EXPECT_EQ(shownText(std::string(61, 'x')), std::string(60, 'x') + "...");
  EXPECT_EQ(shownText(std::string(60, 'x')), std::string(60, 'x'));
  EXPECT_EQ(shownText("ab\xc3\xa9", 3), "ab...");  // é is not split
  EXPECT_EQ(shownName(std::string(5000, 'n')).size(), 4096u + 3);
}

}  // namespace
}  // namespace kelbow
