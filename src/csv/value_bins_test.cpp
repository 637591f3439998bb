#include "csv/value_bins.h"

#include <gtest/gtest.h>

namespace kelbow {
namespace {

std::vector<std::string> labels(const ValueBins& b) {
  std::vector<std::string> out;
  for (int i = 0; i < b.size(); ++i) out.push_back(b.label(i));
  return out;
}

TEST(ValueBinsTest, QuantileEdgesFallBetweenValuesAndJoinOnTies) {
  ValueDistribution ages;
  for (int age = 20; age < 60; ++age) ages.add(age);  // 40 values, one each
  const ValueBins four = ValueBins::quantiles(ages, 4);
  EXPECT_EQ(labels(four),
            (std::vector<std::string>{"[20, 30)", "[30, 40)", "[40, 50)", "[50, 59]"}));
  EXPECT_EQ(four.binOf(20), 0);
  EXPECT_EQ(four.binOf(29.5), 0);
  EXPECT_EQ(four.binOf(30), 1);
  EXPECT_EQ(four.binOf(59), 3);

  // Half the rows are 0: the edges that would fall inside the tie are one.
  ValueDistribution income;
  for (int i = 0; i < 50; ++i) income.add(0);
  for (int i = 1; i <= 50; ++i) income.add(1000.0 * i + 0.25);
  const ValueBins b = ValueBins::quantiles(income, 4);
  EXPECT_EQ(labels(b),
            (std::vector<std::string>{"[0, 1000)", "[1000, 26000)", "[26000, 50000.25]"}));

  // Negative numbers and decimals; the edges read as short decimals.
  ValueDistribution small;
  for (double v : {-2.75, -1.5, -1.25, -0.5, 0.125, 0.25, 1.5, 2.0}) small.add(v);
  EXPECT_EQ(labels(ValueBins::quantiles(small, 2)),
            (std::vector<std::string>{"[-2.75, 0)", "[0, 2]"}));
}

TEST(ValueBinsTest, CutsOutsideTheRangeMakeNoBins) {
  ValueDistribution v;
  for (double x : {12.0, 18.0, 25.0, 33.0}) v.add(x);
  const ValueBins b =
      ValueBins::cut(v, {0, 10, 20, 30, 40, 50}, {"0", "10", "20", "30", "40", "50"});
  EXPECT_EQ(labels(b), (std::vector<std::string>{"[12, 20)", "[20, 30)", "[30, 33]"}));
  EXPECT_EQ(b.binOf(12), 0);
  EXPECT_EQ(b.binOf(20), 1);
  EXPECT_EQ(b.binOf(33), 2);
}

TEST(ValueBinsTest, PastTheExactCountsTheSketchKeepsRanksCloseAndIsDeterministic) {
  // 1,000,000 distinct values in a scrambled order: the sketch takes over.
  constexpr int kRows = 1000000;
  ValueDistribution a, b;
  for (long long i = 0; i < kRows; ++i) {
    const double v = static_cast<double>((i * 7919) % kRows);
    a.add(v);
    b.add(v);
  }
  EXPECT_FALSE(a.exact());
  EXPECT_EQ(a.count(), kRows);
  EXPECT_EQ(a.min(), 0);
  EXPECT_EQ(a.max(), kRows - 1);
  long long weight = 0;
  for (const auto& [v, n] : a.weighted()) weight += n;
  EXPECT_EQ(weight, kRows);
  const ValueBins q = ValueBins::quantiles(a, 10);
  ASSERT_EQ(q.size(), 10);
  for (int j = 1; j < 10; ++j)  // uniform values: the edge j sits near rank j/10
    EXPECT_NEAR(q.edges()[j - 1], kRows * j / 10.0, kRows * 0.005) << j;
  EXPECT_EQ(q.edges(), ValueBins::quantiles(b, 10).edges());
}

TEST(ValueBinsTest, ConsecutiveIntegersAreTold) {
  ValueDistribution run, gap, repeat;
  for (int i = 5; i < 30; ++i) run.add(i), gap.add(i == 17 ? 40 : i), repeat.add(i / 2);
  EXPECT_TRUE(run.consecutiveIntegers());
  EXPECT_FALSE(gap.consecutiveIntegers());
  EXPECT_FALSE(repeat.consecutiveIntegers());
}

}  // namespace
}  // namespace kelbow
