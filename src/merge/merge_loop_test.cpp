#include "merge/merge_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cluster/reference_entropy.h"
#include "common/vector_isa.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {
namespace {

class MergeLoopTest : public testing::Test {
 protected:
  void TearDown() override {
    clusters.clear();
    resetAttributeContext();
  }

  // One starting cluster per row, under the attribute context of `domainSizes`.
  void build(const std::vector<int>& domainSizes, const std::vector<std::vector<int>>& rows) {
    clusters.clear();
    resetAttributeContext();
    sizes = domainSizes;
    weights = attributeWeights(sizes);
    logs = logTable(static_cast<int>(rows.size()));
    const int attributes = static_cast<int>(sizes.size());
    const int single = static_cast<int>(std::count(sizes.begin(), sizes.end(), 1));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      clusters.push_back(
          std::make_unique<ClusterSummary>(attributes, single, sizes.data(), logs.data()));
      clusters.back()->initFromRow(rows[r].data(), static_cast<int>(r));
    }
    gWeights = weights.data();
  }

  // The three-row example: A = (0, 2), B = (1, 2), D = (0, 0).
  void buildThreeRowExample() { build({2, 3}, {{0, 2}, {1, 2}, {0, 0}}); }

  int n() const { return static_cast<int>(clusters.size()); }

  // First live partner of c with the strictly smallest pair cost, scanning upward.
  int cheapestPartner(const MergeLoop& loop, int c) const {
    float best = 1e20f;
    int partner = -1;
    for (int m = 0; m < n(); ++m) {
      if (m == c || !loop.isLive(m)) continue;
      if (loop.pair(c, m).dwe < best) {
        best = loop.pair(c, m).dwe;
        partner = m;
      }
    }
    return partner;
  }

  // Live marks, heap contents and positions, and each record against the pair table.
  void ExpectConsistent(const MergeLoop& loop) {
    int live = 0, rows = 0;
    std::vector<int> clusterInSlot(n() + 1, -1);
    for (int c = 0; c < n(); ++c) {
      const MergePair& r = loop.bestPair(c);
      EXPECT_EQ(loop.isLive(c), clusters[c]->id != -1) << "cluster " << c;
      if (!loop.isLive(c)) {
        EXPECT_EQ(r.flag, -1) << "dead cluster " << c << " still in the heap";
        continue;
      }
      ++live;
      rows += clusters[c]->rowCount;
      EXPECT_EQ(r.row, c);
      ASSERT_TRUE(r.flag >= 1 && r.flag <= loop.heap().size())
          << "cluster " << c << " flag " << r.flag;
      EXPECT_EQ(clusterInSlot[r.flag], -1) << "two records claim slot " << r.flag;
      clusterInSlot[r.flag] = c;
      if (loop.liveCount() == 1) continue;
      ASSERT_TRUE(r.col >= 0 && r.col < n() && r.col != c)
          << "cluster " << c << " partner " << r.col;
      EXPECT_TRUE(loop.isLive(r.col)) << "cluster " << c << " points at dead " << r.col;
      EXPECT_EQ(r.dwe, loop.pair(c, r.col).dwe) << "cluster " << c;
    }
    EXPECT_EQ(live, loop.liveCount());
    EXPECT_EQ(loop.heap().size(), live);
    EXPECT_EQ(rows, n());
    for (int s = 2; s <= loop.heap().size(); ++s)
      EXPECT_LE(loop.bestPair(clusterInSlot[s / 2]).dwe, loop.bestPair(clusterInSlot[s]).dwe)
          << "slot " << s;
  }

  std::vector<int> sizes;
  std::vector<float> weights;
  std::vector<float> logs;
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
};

TEST_F(MergeLoopTest, PairIndexIsASymmetricBijectionOntoTheUpperTriangle) {
  for (int count : {1, 2, 3, 5, 8}) {
    build({2}, std::vector<std::vector<int>>(count, {0}));
    const MergeLoop loop(clusters);
    std::set<int> seen;
    for (int a = 0; a < count; ++a) {
      EXPECT_EQ(loop.pairIndex(a, a), -1);
      for (int b = a + 1; b < count; ++b) {
        const int index = loop.pairIndex(a, b);
        EXPECT_EQ(loop.pairIndex(b, a), index);
        EXPECT_TRUE(index >= 0 && index < count * (count - 1) / 2)
            << a << "," << b << " -> " << index;
        EXPECT_TRUE(seen.insert(index).second) << a << "," << b << " -> " << index << " twice";
      }
    }
    EXPECT_EQ(static_cast<int>(seen.size()), count * (count - 1) / 2);
  }
}

TEST_F(MergeLoopTest, SetUpStoresThePairCostsOfTheThreeRowExample) {
  buildThreeRowExample();
  MergeLoop loop(clusters);
  EXPECT_EQ(loop.setUp(), 0.0f);  // one-row clusters
  EXPECT_EQ(loop.pair(0, 1).dwe, 1.0f);
  EXPECT_EQ(loop.pair(0, 2).dwe, 0.63092977f);
  EXPECT_EQ(loop.pair(1, 2).dwe, 1.6309297f);
  EXPECT_EQ(loop.bestPair(0).col, 2);
  EXPECT_EQ(loop.bestPair(1).col, 0);
  EXPECT_EQ(loop.bestPair(2).col, 0);
  ExpectConsistent(loop);
}

TEST_F(MergeLoopTest, SetUpRoundsThePairCostAfterEachSubtraction) {
  // Starting clusters of two rows each, as the summary tree hands them over:
  // rows (1, 1), (1, 2) and rows (1, 0), (1, 2), each with E = 0.63092977, and
  // U = 1.8927894 for the four rows. U - E rounds to 1.2618597 before the second
  // E is taken off, giving 0.63092989; one rounding at the end would give 0.63092983.
  build({2, 3}, {});
  logs = logTable(4);
  const int first[5] = {0, 2, 0, 1, 1};
  const int second[5] = {0, 2, 1, 0, 1};
  for (const int* table : {first, second}) {
    clusters.push_back(std::make_unique<ClusterSummary>(2, 0, sizes.data(), logs.data()));
    clusters.back()->initFromCounts(table, 2, n() - 1);
  }
  ASSERT_EQ(clusters[0]->storedEntropy, 0.63092977f);
  ASSERT_EQ(clusters[1]->storedEntropy, 0.63092977f);
  ASSERT_EQ(static_cast<float>(clusters[0]->unionEntropy(*clusters[1])), 1.8927894f);
  MergeLoop loop(clusters);
  EXPECT_EQ(loop.setUp(), 2 * 0.63092977f);
  EXPECT_EQ(loop.pair(0, 1).dwe, 0.63092989f);
}

TEST_F(MergeLoopTest, ThreeRowExampleMergesDIntoAThenB) {
  buildThreeRowExample();
  MergeLoop loop(clusters);
  loop.setUp();
  const MergeLoop::Merge first = loop.mergeCheapest();
  EXPECT_EQ(first.survivor, 0);
  EXPECT_EQ(first.absorbed, 2);
  EXPECT_EQ(first.cost, 0.63092977f);
  ExpectConsistent(loop);
  const MergeLoop::Merge second = loop.mergeCheapest();
  EXPECT_EQ(second.survivor, 0);
  EXPECT_EQ(second.absorbed, 1);
  EXPECT_EQ(second.cost, 1.6155844f);
  EXPECT_EQ(clusters[0]->storedEntropy, 2.2465141f);
  EXPECT_EQ(clusters[0]->members, (MemberSet{0, 1, 2}));
  ExpectConsistent(loop);
}

TEST_F(MergeLoopTest, TwoClustersMergeOnceIntoClusterZero) {
  build({2, 3}, {{1, 2}, {0, 2}});
  MergeLoop loop(clusters);
  loop.setUp();
  EXPECT_EQ(loop.bestPair(0).dwe, loop.bestPair(1).dwe);  // both carry the one pair's cost
  const MergeLoop::Merge merged = loop.mergeCheapest();
  EXPECT_EQ(merged.survivor, 0);
  EXPECT_EQ(merged.absorbed, 1);
  EXPECT_EQ(merged.cost, 1.0f);
  EXPECT_EQ(loop.liveCount(), 1);
  EXPECT_FALSE(loop.isLive(1));
  EXPECT_EQ(clusters[1]->id, -1);
  // The last survivor has no partner left; its record goes back with cost 1e20.
  EXPECT_EQ(loop.bestPair(0).col, -1);
  EXPECT_EQ(loop.bestPair(0).dwe, 1e20f);
  ExpectConsistent(loop);
}

TEST_F(MergeLoopTest, PartnerTiesGoToTheLowestCluster) {
  // Rows 0, 2 and 3 are alike; row 1 differs from all of them equally.
  build({2, 3}, {{0, 0}, {1, 1}, {0, 0}, {0, 0}});
  MergeLoop loop(clusters);
  loop.setUp();
  EXPECT_EQ(loop.bestPair(0).col, 2);
  EXPECT_EQ(loop.bestPair(1).col, 0);
  EXPECT_EQ(loop.bestPair(2).col, 0);
  EXPECT_EQ(loop.bestPair(3).col, 0);
  EXPECT_EQ(loop.bestPair(3).dwe, 0.0f);
}

TEST_F(MergeLoopTest, PartnerScanSkipsDeadClusters) {
  // Rows 1 and 2 are alike and merge first; cluster 0 then has only cluster 1,
  // dearer than its pair with cluster 2 was before the merge.
  build({2, 3}, {{0, 0}, {1, 1}, {1, 1}});
  MergeLoop loop(clusters);
  loop.setUp();
  const float withTwo = loop.pair(0, 2).dwe;
  const MergeLoop::Merge merged = loop.mergeCheapest();
  ASSERT_EQ(merged.survivor, 1);
  ASSERT_EQ(merged.absorbed, 2);
  ASSERT_LT(withTwo, loop.pair(0, 1).dwe);
  EXPECT_EQ(loop.bestPair(0).col, 1);
  EXPECT_EQ(loop.bestPair(0).dwe, 2.2465141f);
  EXPECT_EQ(loop.findBestPartner(0), 2.2465141f);
  EXPECT_EQ(loop.bestPair(0).col, 1);
}

TEST_F(MergeLoopTest, OneClusterHasNoPartner) {
  build({2}, {{1}});
  MergeLoop loop(clusters);
  EXPECT_EQ(loop.setUp(), 0.0f);
  EXPECT_EQ(loop.findBestPartner(0), 1e20f);
  EXPECT_EQ(loop.bestPair(0).col, -1);
  EXPECT_EQ(loop.liveCount(), 1);
}

// Random small tables merged down to one cluster, on one thread or two, every
// step checked: the cheapest record goes, only the records that pointed at the merged pair are
// repaired (to the first cheapest live partner), and the others stay as they were.
TEST_F(MergeLoopTest, EveryMergeKeepsTheHeapAndPartnersConsistent) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int count = 2 + static_cast<int>(random() % 14);
    std::vector<int> domains(1 + random() % 3);
    for (int& d : domains) d = 1 + static_cast<int>(random() % 4);
    domains[0] = std::max(domains[0], 2);  // at least one attribute to cluster on
    std::vector<std::vector<int>> rows(count);
    for (auto& r : rows)
      for (int d : domains) r.push_back(static_cast<int>(random() % d));
    build(domains, rows);

    // Odd seeds share every step out over two threads.
    MergeLoop loop(clusters, UnionSums::Method::kChoose, 1 + seed % 2);
    loop.shareEveryStep();
    loop.setUp();
    ExpectConsistent(loop);
    while (loop.liveCount() > 1) {
      std::vector<MergePair> before;
      float cheapest = 1e30f;
      for (int c = 0; c < count; ++c) {
        before.push_back(loop.bestPair(c));
        if (loop.isLive(c)) cheapest = std::min(cheapest, before[c].dwe);
      }
      const int liveBefore = loop.liveCount();
      const MergeLoop::Merge m = loop.mergeCheapest();
      EXPECT_EQ(m.cost, cheapest);
      EXPECT_EQ(m.cost, before[m.survivor].dwe);
      EXPECT_EQ(m.absorbed, before[m.survivor].col);
      EXPECT_EQ(loop.liveCount(), liveBefore - 1);
      ExpectConsistent(loop);
      for (int c = 0; c < count; ++c) {
        if (!loop.isLive(c) || loop.liveCount() == 1) continue;
        const MergePair& now = loop.bestPair(c);
        if (c == m.survivor || before[c].col == m.survivor || before[c].col == m.absorbed) {
          EXPECT_EQ(now.col, cheapestPartner(loop, c)) << "repaired cluster " << c;
        } else {
          EXPECT_EQ(now.col, before[c].col) << "untouched cluster " << c;
          EXPECT_EQ(now.dwe, before[c].dwe) << "untouched cluster " << c;
        }
      }
      if (HasFailure()) return;  // one broken step is enough to read
    }
  }
}

// Whole merge runs on generated tables of many shapes, with the union sums
// computed every way the loop knows, on one thread and shared out over two and
// three: every set-up pair cost and, after every merge, every cost of the
// survivor against a live cluster equals the plain dense evaluation bit for
// bit, and every way merges the same pairs.
TEST_F(MergeLoopTest, EveryCostOfWholeRunsMatchesTheDenseReference) {
  struct Case {
    std::vector<int> domains;
    int rows;
    int rowsPerCluster;  // above 1: starting clusters of several rows, as the tree gives them
    int scale;           // every count times this: clusters beyond the logarithm cache
  };
  const std::vector<Case> cases{{{6, 6, 6, 6, 6, 6, 6, 6}, 90, 1, 1},
                                {{2, 1, 3, 1}, 40, 1, 1},
                                {{3, 3, 3, 3, 3, 3}, 120, 4, 1},
                                {{20000}, 50, 1, 1},
                                {{900, 2}, 60, 3, 1},
                                {{1, 2}, 12, 1, 1},
                                {{5, 40, 7}, 70, 2, 1},
                                {{3, 3, 2, 3}, 90, 3, 9000}};
  using Method = UnionSums::Method;
  struct Way {
    Method method;
    bool wide;        // the AVX2 build of the lanes where the processor has it, else the base build
    int threads = 1;  // above 1: every step shared out over that many threads
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    const TableShape table = generateShape(31 + c, cases[c].rows, cases[c].domains, 5);
    std::vector<std::vector<MergeLoop::Merge>> runs;
    for (const Way way :
         {Way{Method::kDense, true}, Way{Method::kDense, false}, Way{Method::kSparse, true},
          Way{Method::kChoose, true}, Way{Method::kChoose, false}, Way{Method::kDense, true, 2},
          Way{Method::kSparse, true, 3}, Way{Method::kChoose, false, 2}}) {
      const Method method = way.method;
      setWideVectors(way.wide);
      SCOPED_TRACE("case " + std::to_string(c) + " method " +
                   std::to_string(static_cast<int>(method)) + (way.wide ? "" : ", base build") +
                   ", threads " + std::to_string(way.threads));
      build(table.domains, {});
      const int attributes = static_cast<int>(sizes.size());
      const int single = static_cast<int>(std::count(sizes.begin(), sizes.end(), 1));
      const int m = attributes - single;
      for (int r = 0; r < cases[c].rows; ++r) {
        if (r % cases[c].rowsPerCluster == 0)
          clusters.push_back(
              std::make_unique<ClusterSummary>(attributes, single, sizes.data(), nullptr));
        clusters.back()->addRow(table.rows[r].data(), r);
      }
      for (auto& cluster : clusters) {
        std::vector<int> counts = cluster->denseCounts();
        for (int& k : counts) k *= cases[c].scale;
        cluster->initFromCounts(counts.data(), cluster->rowCount * cases[c].scale, 0);
      }
      auto unionSum = [&](int a, int b) {
        // Counts past the logarithm cache: against the plain sparse walk, which
        // the entropy tests hold to the reference (whose own log table would be huge).
        if (cases[c].scale > 1) return clusters[a]->unionSum(*clusters[b]);
        std::vector<int> both = clusters[a]->denseCounts();
        const std::vector<int> other = clusters[b]->denseCounts();
        for (std::size_t v = 0; v < both.size(); ++v) both[v] += other[v];
        return referenceSum(both, clusters[a]->rowCount + clusters[b]->rowCount, sizes, weights);
      };
      MergeLoop loop(clusters, method, way.threads);
      loop.shareEveryStep();
      if (method != Method::kChoose) {
        EXPECT_EQ(loop.denseSums(), method == Method::kDense);
      }
      loop.setUp();
      for (int a = 0; a < n(); ++a)
        for (int b = a + 1; b < n(); ++b) {
          const float u = static_cast<float>(-static_cast<double>(unionSum(a, b)) / m);
          const float less = static_cast<float>(u - clusters[a]->entropy());
          ASSERT_EQ(bits(loop.pair(a, b).dwe),
                    bits(static_cast<float>(less - clusters[b]->entropy())))
              << "pair " << a << "," << b;
        }
      runs.emplace_back();
      while (loop.liveCount() > 1) {
        const MergeLoop::Merge merged = loop.mergeCheapest();
        runs.back().push_back(merged);
        const ClusterSummary& s = *clusters[merged.survivor];
        for (int q = 0; q < n(); ++q) {
          if (q == merged.survivor || !loop.isLive(q)) continue;
          const double u = -static_cast<double>(unionSum(merged.survivor, q)) / m;
          ASSERT_EQ(bits(loop.pair(merged.survivor, q).dwe),
                    bits(static_cast<float>(u - s.storedEntropy - clusters[q]->storedEntropy)))
              << "survivor " << merged.survivor << " partner " << q;
        }
      }
    }
    setWideVectors(true);
    for (std::size_t r = 1; r < runs.size(); ++r)
      for (std::size_t k = 0; k < runs[0].size(); ++k) {
        EXPECT_EQ(runs[r][k].survivor, runs[0][k].survivor) << "case " << c << " step " << k;
        EXPECT_EQ(runs[r][k].absorbed, runs[0][k].absorbed) << "case " << c << " step " << k;
        EXPECT_EQ(bits(runs[r][k].cost), bits(runs[0][k].cost)) << "case " << c << " step " << k;
      }
  }
}

}  // namespace
}  // namespace kelbow
