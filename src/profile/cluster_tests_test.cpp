#include "profile/cluster_tests.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace kelbow {
namespace {

TEST(ClusterTestsTest, TailsMatchTheirTables) {
  EXPECT_NEAR(normalUpperTail(1.6448536), 0.05, 1e-7);
  EXPECT_NEAR(normalUpperTail(0), 0.5, 1e-15);
  // The 5% and 0.1% points of chi-square with 1, 2 and 30 degrees of freedom,
  // on both sides of the switch between series and fraction.
  EXPECT_NEAR(chiSquareUpperTail(3.841459, 1), 0.05, 1e-6);
  EXPECT_NEAR(chiSquareUpperTail(5.991465, 2), 0.05, 1e-6);
  EXPECT_NEAR(chiSquareUpperTail(43.772972, 30), 0.05, 1e-6);
  EXPECT_NEAR(chiSquareUpperTail(59.703083, 30), 0.001, 1e-7);
  EXPECT_NEAR(chiSquareUpperTail(10.827566, 1), 0.001, 1e-8);
  EXPECT_EQ(chiSquareUpperTail(0, 3), 1.0);
  EXPECT_GE(chiSquareUpperTail(1e6, 4), 0.0);
  EXPECT_LT(chiSquareUpperTail(1e6, 4), 1e-300);
}

TEST(ClusterTestsTest, ValueTestByHandAndItsEdges) {
  // 8 of a cluster's 10 rows hold a value that 20 of 100 rows hold: expected 2,
  // variance 10 * 0.2 * 0.8 * 90 / 99 = 1.4545..., z = 6 / sqrt(1.4545...).
  double z = 0, p = 0;
  testValue(8, 10, 20, 100, z, p);
  EXPECT_NEAR(z, 6 / std::sqrt(16.0 * 90 / 990), 1e-12);
  EXPECT_NEAR(p, normalUpperTail(z), 1e-15);
  testValue(2, 10, 20, 100, z, p);  // just as often as overall
  EXPECT_EQ(z, 0);
  EXPECT_EQ(p, 0.5);
  // Nothing to test: a value in every row, in none, a cluster of every row.
  for (auto [count, size, total, rows] : {std::array<long long, 4>{10, 10, 100, 100},
                                          {0, 10, 0, 100},
                                          {20, 100, 20, 100},
                                          {1, 1, 1, 1}}) {
    testValue(count, size, total, rows, z, p);
    EXPECT_EQ(z, 0);
    EXPECT_EQ(p, 1);
  }
}

TEST(ClusterTestsTest, VariablesRankByCramersV) {
  // Attribute 0 tells the cluster exactly; attribute 1 is independent of it;
  // attribute 2 is the cluster but for one row, and code 2 of it is missing;
  // attribute 3 holds one value.
  ClusterCounts counts(2, {2, 2, 3, 1});
  const int rows[8][4] = {{0, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}, {0, 1, 2, 0},
                          {1, 0, 1, 0}, {1, 1, 1, 0}, {1, 0, 0, 0}, {1, 1, 1, 0}};
  for (int r = 0; r < 8; ++r) counts.add(r < 4 ? 0 : 1, rows[r]);
  const std::vector<std::vector<bool>> missing = {
      {false, false}, {false, false}, {false, false, true}, {false}};
  const std::vector<VariableSeparation> v = rankVariables(counts, missing);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].attribute, 0);
  EXPECT_DOUBLE_EQ(v[0].chiSquare, 8);
  EXPECT_EQ(v[0].degrees, 1);
  EXPECT_DOUBLE_EQ(v[0].cramersV, 1);
  EXPECT_NEAR(v[0].pValue, chiSquareUpperTail(8, 1), 1e-15);
  // Attribute 2 on its 7 known rows: {3, 0} against {1, 3}; expected
  // 3*4/7, 3*3/7, 4*4/7, 4*3/7.
  EXPECT_EQ(v[1].attribute, 2);
  const double e[4] = {12.0 / 7, 9.0 / 7, 16.0 / 7, 12.0 / 7};
  const double o[4] = {3, 0, 1, 3};
  double chi = 0;
  for (int i = 0; i < 4; ++i) chi += (o[i] - e[i]) * (o[i] - e[i]) / e[i];
  EXPECT_NEAR(v[1].chiSquare, chi, 1e-12);
  EXPECT_NEAR(v[1].cramersV, std::sqrt(chi / 7), 1e-12);
  EXPECT_EQ(v[2].attribute, 1);
  EXPECT_EQ(v[2].chiSquare, 0);
  EXPECT_EQ(v[2].pValue, 1);
  EXPECT_EQ(v[3].attribute, 3);
  EXPECT_EQ(v[3].degrees, 0);
  EXPECT_EQ(v[3].cramersV, 0);
}

TEST(ClusterTestsTest, TypicalRowsAreTheMostProbableTiesToTheEarlier) {
  ClusterCounts counts(2, {3, 2});
  const int rows[6][2] = {{0, 0}, {0, 0}, {1, 0}, {0, 1}, {2, 1}, {2, 1}};
  const int cluster[6] = {0, 0, 0, 0, 1, 1};
  for (int r = 0; r < 6; ++r) counts.add(cluster[r], rows[r]);
  TypicalRows typical(counts, 2);
  for (int r = 0; r < 6; ++r) typical.add(r, cluster[r], rows[r]);
  const std::vector<TypicalRows::Row> first = typical.of(0);
  ASSERT_EQ(first.size(), 2u);
  // Rows 0 and 1 hold the cluster's most common values (3/4, 3/4); rows 2 and 3
  // one rare value each.
  EXPECT_EQ(first[0].row, 0);
  EXPECT_EQ(first[1].row, 1);
  EXPECT_DOUBLE_EQ(first[0].score, std::log(0.75));
  EXPECT_EQ(first[1].codes, (std::vector<int>{0, 0}));
  const std::vector<TypicalRows::Row> second = typical.of(1);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].row, 4);
  EXPECT_EQ(second[0].score, 0);
  EXPECT_TRUE(TypicalRows(counts, 0).of(0).empty());
}

}  // namespace
}  // namespace kelbow
