#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cluster/cluster_summary.h"
#include "cluster/reference_entropy.h"
#include "cluster/two_attribute_fixture.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {
namespace {

// The three-row example: attributes with domain sizes (2, 3), weights (1, 1/log2 3)
// and the rows A = (0, 2), B = (1, 2), D = (0, 0).
class EntropyTest : public TwoAttributeFixture {};

TEST_F(EntropyTest, OneRowClusterHasEntropyZero) { EXPECT_EQ(row(0, 2, 0)->entropy(), 0.0); }

TEST_F(EntropyTest, UnionsOfTheThreeRowExampleAreExact) {
  auto a = row(0, 2, 0), b = row(1, 2, 1), d = row(0, 0, 2);
  EXPECT_EQ(static_cast<float>(a->unionEntropy(*b)), 1.0f);
  EXPECT_EQ(a->scratchSum, -2.0f);
  EXPECT_EQ(static_cast<float>(a->unionEntropy(*d)), 0.63092977f);
  EXPECT_EQ(static_cast<float>(b->unionEntropy(*d)), 1.6309297f);
}

TEST_F(EntropyTest, ThreeRowExampleMergesToTheExpectedEntropy) {
  auto a = row(0, 2, 0), b = row(1, 2, 1), d = row(0, 0, 2);
  const float first = static_cast<float>(a->unionEntropy(*d) - a->entropy() - d->entropy());
  ASSERT_EQ(first, 0.63092977f);
  a->merge(*d, first);
  EXPECT_EQ(a->storedEntropy, 0.63092977f);
  EXPECT_EQ(a->denseCounts(), (std::vector<int>{2, 0, 1, 0, 1}));

  const double u = a->unionEntropy(*b);
  EXPECT_EQ(static_cast<float>(u), 2.2465141f);
  const float second = static_cast<float>(u - a->storedEntropy - b->storedEntropy);
  EXPECT_EQ(second, 1.6155844f);
  a->merge(*b, second);
  EXPECT_EQ(a->storedEntropy, 2.2465141f);
  // Over the three rows: the expected entropy at one cluster.
  char text[32];
  std::snprintf(text, sizeof text, "%f", static_cast<float>(a->storedEntropy / 3.0));
  EXPECT_STREQ(text, "0.748838");
}

TEST_F(EntropyTest, UnionIsSymmetric) {
  auto a = row(0, 2, 0), b = row(1, 2, 1), d = row(0, 0, 2);
  EXPECT_EQ(a->unionEntropy(*b), b->unionEntropy(*a));
  EXPECT_EQ(a->unionEntropy(*d), d->unionEntropy(*a));
  a->merge(*d, 0.63092977f);
  EXPECT_EQ(a->unionEntropy(*b), b->unionEntropy(*a));
}

TEST_F(EntropyTest, UnionIsSymmetricForLargerClusters) {
  resetAttributeContext();
  const std::vector<int> wide{2, 3, 5, 1, 4};
  const std::vector<float> wideWeights = attributeWeights(wide);
  const std::vector<float> wideLogs = logTable(60);
  gWeights = wideWeights.data();
  std::mt19937 random(7);
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  for (int c = 0; c < 6; ++c) {
    clusters.push_back(std::make_unique<ClusterSummary>(5, 1, wide.data(), wideLogs.data()));
    for (int r = 0; r < 1 + c * 2; ++r) {
      int codes[5];
      for (int a = 0; a < 5; ++a) codes[a] = static_cast<int>(random() % wide[a]);
      clusters.back()->addRow(codes, c * 100 + r);
    }
  }
  for (auto& x : clusters)
    for (auto& y : clusters) EXPECT_EQ(x->unionEntropy(*y), y->unionEntropy(*x));
}

TEST_F(EntropyTest, IdenticalRowsMergeAtNoCost) {
  auto a = row(1, 1, 0), b = row(1, 1, 1);
  EXPECT_EQ(a->unionEntropy(*b), 0.0);
  a->merge(*b, 0.0f);
  EXPECT_EQ(a->entropy(), 0.0);  // two rows alike: evaluated, and 0
}

TEST_F(EntropyTest, OneValuedAttributesContributeNothingWhateverTheirWeight) {
  resetAttributeContext();
  const std::vector<int> withConstant{2, 1, 3};
  const std::vector<float> oddWeights{1.0f, 5.0f,
                                      0.63092977f};  // a weight the test on d = 1 must ignore
  gWeights = oddWeights.data();
  auto make = [&](int a0, int a2) {
    auto s = std::make_unique<ClusterSummary>(3, 1, withConstant.data(), logs.data());
    const int codes[3] = {a0, 0, a2};
    s->initFromRow(codes, 0);
    return s;
  };
  auto a = make(0, 2), b = make(1, 2), d = make(0, 0);
  EXPECT_EQ(static_cast<float>(a->unionEntropy(*b)), 1.0f);
  EXPECT_EQ(static_cast<float>(a->unionEntropy(*d)), 0.63092977f);
  EXPECT_EQ(static_cast<float>(b->unionEntropy(*d)), 1.6309297f);
}

TEST_F(EntropyTest, UnionWithAnEmptySummaryIsTheOwnEntropyFromTheCounts) {
  auto a = row(0, 2, 0), d = row(0, 0, 2);
  a->merge(*d, 0.63092977f);
  a->setStoredEntropy(5.0f);
  const ClusterSummary empty(2, 0, sizes.data(), logs.data());
  EXPECT_EQ(static_cast<float>(a->unionEntropy(empty)), 0.63092977f);
  EXPECT_EQ(a->entropy(), 5.0);  // a positive stored value answers at once
}

TEST_F(EntropyTest, StoredValueThatIsNotPositiveIsRecomputed) {
  auto a = row(0, 2, 0), b = row(1, 2, 1);
  a->merge(*b, 1.0f);
  a->setStoredEntropy(-3.0f);
  EXPECT_EQ(a->entropy(), 1.0);
  a->setStoredEntropy(std::nanf(""));
  EXPECT_EQ(a->entropy(), 1.0);
  a->setStoredEntropy(0.0f);
  EXPECT_EQ(a->entropy(), 1.0);
}

TEST_F(EntropyTest, StoredValueOfASingleRowAnswersWithoutEvaluating) {
  auto a = row(0, 2, 0);
  a->setStoredEntropy(-2.0f);
  EXPECT_EQ(a->entropy(), -2.0);
}

TEST_F(EntropyTest, EntropyWithRowIsTheUnionWithThatRow) {
  auto a = row(0, 2, 0);
  const int codes[2] = {0, 0};
  EXPECT_EQ(static_cast<float>(a->entropyWithRow(codes)), 0.63092977f);
  EXPECT_EQ(a->denseCounts(), (std::vector<int>{1, 0, 0, 0, 1}));
  EXPECT_EQ(a->rowCount, 1);
}

// The sparse walk against the plain dense sum, bit for bit, on clusters of
// random sizes over many table shapes: every union, every entropy and every
// entropy with one more row.
TEST_F(EntropyTest, SparseEvaluationsMatchTheDenseSumBitForBit) {
  const std::vector<std::vector<int>> shapes{
      {2}, {7, 1, 3}, {1, 1, 2}, {6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, {20000}, {3, 500, 1, 2, 40}};
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    SCOPED_TRACE("shape " + std::to_string(s));
    resetAttributeContext();
    const TableShape table = generateShape(11 + s, 60, shapes[s], 4);
    const std::vector<float> w = attributeWeights(table.domains);
    gWeights = w.data();
    const int attributes = static_cast<int>(table.domains.size());
    const int single = static_cast<int>(std::count(table.domains.begin(), table.domains.end(), 1));
    std::vector<std::unique_ptr<ClusterSummary>> clusters;
    for (int r = 0; r < 60;) {  // clusters of 1, 2, 3, ... rows, and one empty
      clusters.push_back(
          std::make_unique<ClusterSummary>(attributes, single, table.domains.data(), nullptr));
      for (int k = 0; k < static_cast<int>(clusters.size()) && r < 60; ++k, ++r)
        clusters.back()->addRow(table.rows[r].data(), r);
    }
    clusters.push_back(
        std::make_unique<ClusterSummary>(attributes, single, table.domains.data(), nullptr));
    const int m = attributes - single;
    for (auto& x : clusters) {
      const std::vector<int> dx = x->denseCounts();
      if (x->rowCount >= 2) {
        EXPECT_EQ(bits(static_cast<float>(x->entropy())),
                  bits(static_cast<float>(
                      -static_cast<double>(referenceSum(dx, x->rowCount, table.domains, w)) / m)));
      }
      std::vector<int> plus = dx;
      for (int a = 0, offset = 0; a < attributes; offset += table.domains[a++])
        ++plus[offset + table.rows[0][a]];
      EXPECT_EQ(
          bits(static_cast<float>(x->entropyWithRow(table.rows[0].data()))),
          bits(static_cast<float>(
              -static_cast<double>(referenceSum(plus, x->rowCount + 1, table.domains, w)) / m)));
      for (auto& y : clusters) {
        std::vector<int> both = dx;
        const std::vector<int> dy = y->denseCounts();
        for (std::size_t v = 0; v < both.size(); ++v) both[v] += dy[v];
        ASSERT_EQ(bits(x->unionSum(*y)),
                  bits(referenceSum(both, x->rowCount + y->rowCount, table.domains, w)))
            << "rows " << x->rowCount << " and " << y->rowCount;
      }
    }
  }
}

}  // namespace
}  // namespace kelbow
