#include "plot/peaks.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "input/kelbow_block.h"

namespace kelbow {
namespace {

using Curve = std::array<double, kKelbowValueCount>;

std::vector<int> candidates(const Curve& v) {
  std::vector<int> ks;
  for (const Peak& p : findPeaks(v)) ks.push_back(p.k);
  return ks;
}

// A flat curve with the given values set at lines t (1-based).
Curve curveWith(std::initializer_list<std::pair<int, double>> points) {
  Curve v{};
  for (auto [t, value] : points) v[t - 1] = value;
  return v;
}

TEST(PeaksTest, ValueAboveBothNeighboursIsAPeakAtKOneAboveItsLine) {
  auto peaks = findPeaks(curveWith({{6, 0.5}}));
  ASSERT_EQ(peaks.size(), 1u);
  EXPECT_EQ(peaks[0].k, 7);
  EXPECT_EQ(peaks[0].value, 0.5);
}

TEST(PeaksTest, EqualNeighbourMakesNoPeak) {
  EXPECT_EQ(candidates(curveWith({{6, 0.5}, {7, 0.5}})), std::vector<int>{});
  EXPECT_EQ(candidates(Curve{}), std::vector<int>{});
  EXPECT_EQ(candidates(curveWith({{1, 0.5}, {2, 0.5}})), std::vector<int>{});
}

TEST(PeaksTest, FirstLineIsAPeakWhenAboveTheSecond) {
  EXPECT_EQ(candidates(curveWith({{1, 0.1}})), std::vector<int>{2});
  EXPECT_EQ(candidates(curveWith({{1, -0.1}})), std::vector<int>{});
  // A curve that only falls peaks at its first line.
  Curve falling;
  for (int t = 0; t < kKelbowValueCount; ++t) falling[t] = -t;
  EXPECT_EQ(candidates(falling), std::vector<int>{2});
}

TEST(PeaksTest, LastLineIsNeverAPeak) {
  EXPECT_EQ(candidates(curveWith({{29, 0.9}})), std::vector<int>{});
  EXPECT_EQ(candidates(curveWith({{28, 0.9}})), std::vector<int>{29});
  Curve rising;
  for (int t = 0; t < kKelbowValueCount; ++t) rising[t] = t;
  EXPECT_EQ(candidates(rising), std::vector<int>{});
}

TEST(PeaksTest, HighestPeakComesFirst) {
  Curve v = curveWith({{3, 0.2}, {10, -0.001}, {12, 0.7}, {20, 0.0003}});
  v[8] = v[10] = -0.01;  // lines 9 and 11: a peak below zero on line 10
  EXPECT_EQ(candidates(v), (std::vector<int>{13, 4, 21, 11}));
}

TEST(PeaksTest, EqualPeaksPutTheSmallerKFirst) {
  EXPECT_EQ(candidates(curveWith({{20, 0.3}, {5, 0.3}, {1, 0.3}, {12, 0.3}, {8, 0.4}})),
            (std::vector<int>{9, 2, 6, 13, 21}));
}

TEST(PeaksTest, StrongPeaksReachATenthOfTheHighestAndOneThousandth) {
  struct Case {
    Curve curve;
    std::vector<bool> strong;  // by peak, highest first
  } cases[] = {
      {curveWith({{3, 0.1}, {9, 0.01}, {12, 0.0099}, {20, -0.5}, {22, -0.4}}),
       {true, true, false, false}},
      {curveWith({{3, 0.005}, {9, 0.001}, {12, 0.00099}}), {true, true, false}},
      {curveWith({{3, 0.0008}, {9, 0.0007}}), {false, false}},
      // A damaged file's values, far beyond any the tool writes, judged alike.
      {curveWith({{3, 2.2e12}, {9, 2.2e11}, {12, 2.1e11}}), {true, true, false}},
  };
  for (const Case& c : cases) {
    std::vector<bool> strong;
    for (const Peak& p : findPeaks(c.curve)) strong.push_back(p.strong);
    EXPECT_EQ(strong, c.strong);
  }
  EXPECT_EQ(candidatesLine(findPeaks(curveWith({{3, 0.100374}, {1, 0.056263}, {7, 0.000456}}))),
            "candidates: 4 (0.100374) 2 (0.056263); weak: 8 (0.000456)");
  EXPECT_EQ(candidatesLine(findPeaks(curveWith({{3, 0.0002}}))),
            "candidates: none; weak: 4 (0.000200)");
  EXPECT_EQ(candidatesLine(findPeaks(Curve{})), "candidates: none");
}

// Curves like those of tables with K planted clusters: a small wobble that dies
// away, and one clear peak on line K - 1. Candidate K must come first for every
// K the block can signal by a peak.
TEST(PeaksTest, PlantedPeakOnLineKMinusOneGivesCandidateKFirst) {
  uint32_t state = 12345;
  auto noise = [&] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1u << 24) - 0.5;
  };
  for (int k = 2; k <= kKelbowValueCount; ++k) {
    Curve v;
    for (int t = 0; t < kKelbowValueCount; ++t) v[t] = 0.004 * noise() / (1 + t);
    v[k - 2] = 0.05 + 0.01 * noise();
    auto peaks = findPeaks(v);
    ASSERT_FALSE(peaks.empty()) << "K=" << k;
    EXPECT_EQ(peaks[0].k, k);
    EXPECT_EQ(peaks[0].value, v[k - 2]);
  }
}

}  // namespace
}  // namespace kelbow
