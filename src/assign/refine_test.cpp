#include "assign/refine.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "assign/assigner.h"
#include "cluster/cluster_summary.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {
namespace {

class RowTable final : public TrainingRows {
 public:
  int rowCount() const override { return static_cast<int>(rows.size()); }
  void codes(int r, int* out) const override {
    for (size_t a = 0; a < rows[r].size(); ++a) out[a] = rows[r][a];
  }
  std::vector<std::vector<int>> rows;
};

// Rows of `k` planted groups (each attribute takes its group's value unless
// noise strikes), in a shuffled order, with a start that splits them badly.
struct Planted {
  Planted(int n, int k, double noise, unsigned seed, std::vector<int> domains) : sizes(domains) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    for (int r = 0; r < n; ++r) {
      const int group = static_cast<int>(random() % k);
      std::vector<int> row;
      for (int d : sizes)
        row.push_back(u(random) < noise ? static_cast<int>(random() % d) : group % d);
      table.rows.push_back(row);
      start.push_back((group + (u(random) < 0.3)) % k);
    }
  }
  std::vector<int> sizes;
  RowTable table;
  std::vector<int> start;
};

// What refinement does, with the cluster room's summaries and their row
// operations: the reference the lean costs must match move for move.
std::vector<int> refineWithSummaries(const Planted& p, int k, int passes) {
  resetAttributeContext();
  const std::vector<float> weights = attributeWeights(p.sizes);
  const std::vector<float> logs = logTable(p.table.rowCount() + 1);
  gWeights = weights.data();
  int single = 0;
  for (int d : p.sizes) single += d == 1;
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  for (int c = 0; c < k; ++c)
    clusters.push_back(std::make_unique<ClusterSummary>(static_cast<int>(p.sizes.size()), single,
                                                        p.sizes.data(), logs.data()));
  std::vector<int> labels = p.start;
  for (int r = 0; r < p.table.rowCount(); ++r)
    clusters[labels[r]]->addRow(p.table.rows[r].data(), r);
  for (int pass = 0; pass < passes; ++pass) {
    for (int r = 0; r < p.table.rowCount(); ++r) {
      ClusterSummary& own = *clusters[labels[r]];
      if (own.rowCount < 2) continue;
      const int* codes = p.table.rows[r].data();
      const double before = own.entropy();
      own.removeRow(codes, r);
      double least = before - own.entropy();
      int best = labels[r];
      for (int c = 0; c < k; ++c) {
        if (c == labels[r]) continue;
        const double rise = clusters[c]->entropyWithRow(codes) - clusters[c]->entropy();
        if (rise < least) least = rise, best = c;
      }
      clusters[best]->addRow(codes, r);
      labels[r] = best;
    }
  }
  resetAttributeContext();
  return labels;
}

TEST(RefineTest, MovesAsTheSummariesDoAndNeverRaisesTheEntropy) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const int k = 2 + static_cast<int>(seed % 4);
    const Planted p(300, k, 0.2 + 0.08 * seed, seed, {4, 1, 3, 6, 2, 5, 4, 3});
    std::vector<int> labels = p.start;
    const RefineResult first = refine(p.table, p.sizes, k, labels, 2);
    EXPECT_EQ(labels, refineWithSummaries(p, k, first.passes)) << seed;
    EXPECT_GT(first.moved, 0);
    EXPECT_LT(first.entropyAfter, first.entropyBefore);
    // Going on from there: the entropy never rises and the run settles.
    const RefineResult rest = refine(p.table, p.sizes, k, labels, 100);
    EXPECT_TRUE(rest.settled) << seed;
    EXPECT_LE(rest.entropyAfter, rest.entropyBefore);
    EXPECT_EQ(rest.entropyBefore, first.entropyAfter);
    std::vector<int> again = p.start;
    refine(p.table, p.sizes, k, again, 102);
    EXPECT_EQ(again, labels) << "not deterministic";
    // Every cluster keeps a row, and the settled labels are what assigning the
    // training rows with their own model gives back.
    const Assigner assigner(trainModel(p.table, Encoding::ofCodes(p.sizes), k, labels));
    std::vector<int> sizes(k, 0);
    for (int r = 0; r < p.table.rowCount(); ++r) {
      ++sizes[labels[r]];
      EXPECT_EQ(assigner.assign(p.table.rows[r].data()).cluster, labels[r]) << seed << " " << r;
    }
    for (int s : sizes) EXPECT_GT(s, 0);
  }
}

TEST(RefineTest, TheLastRowOfAClusterStays) {
  Planted p(40, 2, 0.0, 3, {3, 3});
  std::vector<int> labels(40, 0);
  labels[7] = 1;  // alone, and alike the rows of the other cluster
  p.table.rows[7] = p.table.rows[0];
  refine(p.table, p.sizes, 2, labels, 5);
  EXPECT_EQ(labels[7], 1);
}

TEST(AssignerTest, TiesGoToTheLowerClusterAndUnknownsAreLeftOut) {
  Encoding e = Encoding::ofCodes({2, 3, 2});
  Model twins(e, 3);
  const int a[] = {0, 1, 1}, b[] = {1, 2, 0};
  for (int c : {0, 1}) twins.addRow(c, a), twins.addRow(c, b);
  twins.addRow(2, b);
  twins.addRow(2, b);
  const Assigner assigner(twins);
  std::vector<double> shares;
  const Assignment tie = assigner.assign(a, &shares);
  EXPECT_EQ(tie.cluster, 0);
  EXPECT_EQ(tie.margin, 0.0);
  EXPECT_DOUBLE_EQ(shares[0], shares[1]);
  EXPECT_DOUBLE_EQ(shares[0] + shares[1] + shares[2], 1.0);
  EXPECT_LT(shares[2], shares[0]);
  EXPECT_EQ(assigner.assign(b).cluster, 2);
  EXPECT_GT(assigner.assign(b).margin, 0.0);
  // Only the last attribute known: the twins tie, cluster 3 never saw the value.
  const int vague[] = {-1, -1, 1};
  const Assignment partial = assigner.assign(vague);
  EXPECT_EQ(partial.cluster, 0);
  EXPECT_EQ(partial.margin, 0.0);
  const int none[] = {-1, -1, -1};
  EXPECT_EQ(assigner.assign(none, &shares).cluster, -1);
  EXPECT_EQ(shares, std::vector<double>(3, 0.0));
}

// The assigner sums every cluster's cost side by side; each must still be the
// cluster's own increase to the last bit, with a wide attribute (weighed row
// by row), a one-value attribute and unknown codes.
TEST(AssignerTest, RisesAreEachClustersOwnIncreaseBitForBit) {
  const int k = 4;
  const Planted p(400, k, 0.35, 9, {5, 1, 300, 3, 7});
  const Model model = trainModel(p.table, Encoding::ofCodes(p.sizes), k, p.start);
  const Assigner assigner(model);
  const RowCostLayout layout(p.sizes);
  ASSERT_TRUE(layout.wide(2));
  std::vector<ClusterRowCosts> own;
  for (int c = 0; c < k; ++c) {
    own.emplace_back(layout, false);
    own.back().setCounts(model.clusterCounts(c), model.clusterRows(c));
    own.back().rebuild();
  }
  std::vector<double> rises;
  for (int r = 0; r < 60; ++r) {
    std::vector<int> codes = p.table.rows[r];
    if (r % 3 == 1) codes[r % 5] = -1;
    if (r % 4 == 2) codes[2] = -1;
    assigner.rises(codes.data(), rises);
    for (int c = 0; c < k; ++c) EXPECT_EQ(rises[c], own[c].increase(codes.data())) << r << " " << c;
  }
}

}  // namespace
}  // namespace kelbow
