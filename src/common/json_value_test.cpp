#include "common/json_value.h"

#include <gtest/gtest.h>

#include <string>

namespace kelbow {
namespace {

std::string refusal(const std::string& text) {
  JsonValue v;
  std::string err;
  EXPECT_FALSE(parseJson(text, v, err)) << text;
  return err;
}

TEST(JsonValueTest, ReadsNestedValuesWithTheirLines) {
  JsonValue v;
  std::string err;
  ASSERT_TRUE(
      parseJson("{\"a\": [1, -2.5e1, true, null],\n \"b\": \"x\\u00e9\\ud83d\\ude00\\n\"}", v, err))
      << err;
  ASSERT_TRUE(v.isObject());
  const JsonValue* a = v.find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items().size(), 4u);
  EXPECT_EQ(a->items()[1].number(), -25.0);
  EXPECT_EQ(a->items()[1].text(), "-2.5e1");
  EXPECT_TRUE(a->items()[2].boolean());
  EXPECT_EQ(a->items()[3].kind(), JsonValue::Kind::kNull);
  EXPECT_EQ(v.find("b")->string(), "x\xc3\xa9\xf0\x9f\x98\x80\n");
  EXPECT_EQ(v.find("b")->line(), 2);
  EXPECT_EQ(v.find("c"), nullptr);
}

TEST(JsonValueTest, RefusesWhatIsNotStrictJson) {
  EXPECT_EQ(refusal("[1, 2,]"), "line 1: unexpected character ']'");
  EXPECT_EQ(refusal("{\"a\": 1, \"a\": 2}"), "line 1: the member \"a\" appears twice");
  EXPECT_EQ(refusal("[01]"), "line 1: ',' or ']' expected in an array");
  EXPECT_EQ(refusal("\"\\ud800\""), "line 1: a lone surrogate in a \\u escape");
  EXPECT_EQ(refusal("\"a\tb\""), "line 1: a control character inside a string");
  EXPECT_EQ(refusal("\"\xff\""), "line 1: bytes that are not UTF-8 inside a string");
  EXPECT_EQ(refusal("1e999"), "line 1: the number 1e999 is too large");
  EXPECT_EQ(refusal("{}\n{}"), "line 2: something follows the value");
  EXPECT_EQ(refusal(""), "line 1: the document ends where a value should be");
  EXPECT_EQ(refusal(std::string(kJsonDepthLimit + 1, '[')), "line 1: nested too deeply");
}

}  // namespace
}  // namespace kelbow
