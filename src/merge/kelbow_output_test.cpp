#include "merge/kelbow_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kelbow {
namespace {

class KelbowOutputTest : public testing::Test {
 protected:
  // The block as written to a stream.
  std::string block(const std::string& name) {
    std::FILE* out = std::tmpfile();
    if (out == nullptr) return "no temporary file";
    writeKelbowBlock(out, name, curve);
    std::string text(std::ftell(out), '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    return text;
  }
  static std::string zeros(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "0.000000\n";
    return text;
  }

  float curve[kCurveSize] = {};
};

TEST_F(KelbowOutputTest, LinearAndQuadraticCurvesGiveZero) {
  for (int k = 0; k < kCurveSize; ++k) curve[k] = static_cast<float>(100 - 2 * k);
  for (int t = 1; t <= kKelbowValues; ++t)
    EXPECT_EQ(kelbowValue(curve, t), 0.0) << "linear, t=" << t;
  for (int k = 0; k < kCurveSize; ++k) curve[k] = static_cast<float>(k * k);
  for (int t = 1; t <= kKelbowValues; ++t)
    EXPECT_EQ(kelbowValue(curve, t), 0.0) << "quadratic, t=" << t;
}

TEST_F(KelbowOutputTest, CubicCurveGivesItsNegatedThirdDifference) {
  // The third forward difference of k^3 is 6 everywhere.
  for (int k = 0; k < kCurveSize; ++k) curve[k] = static_cast<float>(k * k * k);
  for (int t = 1; t <= kKelbowValues; ++t) EXPECT_EQ(kelbowValue(curve, t), -6.0) << "t=" << t;
}

TEST_F(KelbowOutputTest, ProductsAreFormedInDouble) {
  // 3 * 16777215 = 50331645 needs 26 bits; in single precision it would round to 50331644.
  curve[2] = 16777215.0f;
  EXPECT_EQ(kelbowValue(curve, 1), -50331645.0);
}

TEST_F(KelbowOutputTest, BlockIsTheNameTheWordAndTwentyNineValues) {
  for (int k = 0; k < kCurveSize; ++k) curve[k] = static_cast<float>(k * k * k);
  std::string expected = "dir/data set.txt\nkelbow\n";
  for (int t = 1; t <= kKelbowValues; ++t) expected += "-6.000000\n";
  EXPECT_EQ(block("dir/data set.txt"), expected);
}

TEST_F(KelbowOutputTest, BlockReadsOnlyEntriesOneToThirtyTwo) {
  curve[0] = 1e30f;
  for (int k = 33; k < kCurveSize; ++k) curve[k] = 1e30f;
  EXPECT_EQ(block("d"), "d\nkelbow\n" + zeros(29));
}

TEST_F(KelbowOutputTest, TinyNegativeValuesPrintAsNegativeZero) {
  // c(4) = 1e-7 gives v(1) = -c(4), v(2) = 3 c(4), v(3) = -3 c(4), v(4) = c(4).
  curve[4] = 1e-7f;
  EXPECT_EQ(block("d"), "d\nkelbow\n-0.000000\n0.000000\n-0.000000\n0.000000\n" + zeros(25));
}

TEST_F(KelbowOutputTest, ValuesArePrintedWithoutNarrowingToFloat) {
  // 2^24 + 3 is exact in double; as a float it would print 16777220.
  curve[1] = 16777216.0f;
  curve[3] = 1.0f;
  EXPECT_EQ(block("d"), "d\nkelbow\n16777219.000000\n-3.000000\n1.000000\n" + zeros(26));
}

}  // namespace
}  // namespace kelbow
