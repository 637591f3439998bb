#include "assign/row_costs.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "cluster/cluster_summary.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {
namespace {

// Three clusters of random rows over attributes of every kind: one-valued,
// two-valued, small, and one wide enough to be weighed row by row.
class RowCostsTest : public testing::Test {
 protected:
  void SetUp() override {
    resetAttributeContext();
    weights = attributeWeights(sizes);
    logs = logTable(kRows + 2);
    gWeights = weights.data();
    std::mt19937 random(17);
    for (int r = 0; r < kRows; ++r) {
      std::vector<int> row;
      // Skewed codes, so that clusters hold repeated values and empty slots.
      for (int d : sizes) row.push_back(static_cast<int>(random() % d) * (random() % 3 == 0));
      rows.push_back(row);
    }
  }
  void TearDown() override { resetAttributeContext(); }

  std::unique_ptr<ClusterSummary> summary() {
    return std::make_unique<ClusterSummary>(static_cast<int>(sizes.size()), 1, sizes.data(),
                                            logs.data());
  }

  static constexpr int kRows = 90;
  std::vector<int> sizes{3, 1, 2, 7, 300, 5};
  std::vector<float> weights, logs;
  std::vector<std::vector<int>> rows;
};

TEST_F(RowCostsTest, RisesAndFallsAreTheSummarysToTheLastBit) {
  const RowCostLayout layout(sizes);
  ASSERT_TRUE(layout.wide(4));
  ASSERT_FALSE(layout.wide(3));
  std::vector<std::unique_ptr<ClusterSummary>> summaries;
  std::vector<ClusterRowCosts> costs;
  // Clusters of 0, 1, 2 and many rows: the small ones take the shortcuts.
  const int ends[] = {0, 1, 3, kRows};
  for (int c = 0; c < 3; ++c) {
    summaries.push_back(summary());
    costs.emplace_back(layout, true);
    for (int r = ends[c]; r < ends[c + 1]; ++r) {
      summaries[c]->addRow(rows[r].data(), r);
      costs[c].add(rows[r].data());
    }
    costs[c].rebuild();
    EXPECT_EQ(costs[c].entropy(), summaries[c]->entropy()) << c;
  }
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      const double with = summaries[c]->entropyWithRow(rows[r].data());
      EXPECT_EQ(costs[c].increase(rows[r].data()), with - summaries[c]->entropy()) << r << " " << c;
    }
  }
  // Taking out each row of the large cluster in turn.
  for (int r = ends[2]; r < kRows; r += 7) {
    ClusterSummary copy(static_cast<int>(sizes.size()), 1, sizes.data(), logs.data());
    copy = *summaries[2];
    const double before = copy.entropy();
    copy.removeRow(rows[r].data(), r);
    EXPECT_EQ(costs[2].decrease(rows[r].data()), before - copy.entropy()) << r;
  }
}

TEST_F(RowCostsTest, ALeftOutAttributeIsLeftOutOfBothValues) {
  // The rise without attribute 3 is the rise in the table without that
  // attribute, over the other divisor.
  std::vector<int> fewer = sizes;
  fewer.erase(fewer.begin() + 3);
  const RowCostLayout all(sizes), less(fewer);
  ClusterRowCosts a(all, false), b(less, false);
  for (const auto& row : rows) {
    a.add(row.data());
    std::vector<int> cut = row;
    cut.erase(cut.begin() + 3);
    b.add(cut.data());
  }
  a.rebuild();
  b.rebuild();
  for (const auto& row : rows) {
    std::vector<int> unknown = row, cut = row;
    unknown[3] = -1;
    cut.erase(cut.begin() + 3);
    EXPECT_NEAR(a.increase(unknown.data()) * all.informativeCount(),
                b.increase(cut.data()) * less.informativeCount(), 1e-9);
  }
}

}  // namespace
}  // namespace kelbow
