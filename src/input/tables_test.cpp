#include "input/tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kelbow {
namespace {

TEST(AttributeWeightTest, OneValuedAttributeWeighsNothing) { EXPECT_EQ(attributeWeight(1), 0.0f); }

TEST(AttributeWeightTest, IsTheReciprocalOfLog2RoundedOnce) {
  EXPECT_EQ(attributeWeight(2), 1.0f);
  EXPECT_EQ(attributeWeight(3), 0.63092977f);
  EXPECT_EQ(attributeWeight(4), 0.5f);
  EXPECT_EQ(attributeWeight(10), 0.30103001f);
  EXPECT_EQ(attributeWeight(256), 0.125f);
}

TEST(AttributeWeightTest, WeightsFollowAttributeOrder) {
  EXPECT_EQ(attributeWeights({4, 1, 2, 3}), (std::vector<float>{0.5f, 0.0f, 1.0f, 0.63092977f}));
}

TEST(LogTableTest, HoldsLog2OfEveryCountWithZeroAtZero) {
  EXPECT_EQ(logTable(4), (std::vector<float>{0.0f, 0.0f, 1.0f, 1.5849625f, 2.0f}));
}

TEST(LogTableTest, PowersOfTwoAreExact) {
  const std::vector<float> table = logTable(1024);
  ASSERT_EQ(table.size(), 1025u);
  for (int k = 1, e = 0; k <= 1024; k *= 2, ++e)
    EXPECT_EQ(table[k], static_cast<float>(e)) << "k=" << k;
}

TEST(LogTableTest, TableForNoRowsHoldsOnlyEntryZero) {
  EXPECT_EQ(logTable(0), std::vector<float>{0.0f});
}

TEST(LogTableTest, ExtendingKeepsEarlierEntries) {
  // Entry 2 carries a marker that a recomputation would overwrite.
  std::vector<float> table{0.0f, 0.0f, 7.0f};
  extendLogTable(table, 4);
  EXPECT_EQ(table, (std::vector<float>{0.0f, 0.0f, 7.0f, 1.5849625f, 2.0f}));
}

TEST(LogTableTest, ExtendingToASmallerCountChangesNothing) {
  std::vector<float> table = logTable(4);
  extendLogTable(table, 2);
  EXPECT_EQ(table, logTable(4));
}

TEST(LogTableTest, ExtendingAnEmptyTableStartsWithZero) {
  std::vector<float> table;
  extendLogTable(table, 2);
  EXPECT_EQ(table, (std::vector<float>{0.0f, 0.0f, 1.0f}));
}

TEST(LogTableTest, Log2CountMatchesTheTableOnBothSidesOfTheCache) {
  const int top = kLog2CacheSize + 4096;
  const std::vector<float> table = logTable(top);
  for (int k = 0; k <= top; ++k) ASSERT_EQ(log2Count(k), table[k]) << "k=" << k;
  // Far beyond any table: the same expression, so powers of two stay exact.
  EXPECT_EQ(log2Count(1 << 30), 30.0f);
  EXPECT_EQ(log2Count(2147483647), static_cast<float>(std::log(2147483647.0) / std::log(2.0)));
}

}  // namespace
}  // namespace kelbow
