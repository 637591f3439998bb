// Time of the bottom-up merge and its inner operations: the set-up pair costs
// of n one-row clusters, merge steps, and whole merges of n one-row clusters
// (the small-table road) and of 800 clusters of many rows (as the summary tree
// hands them over), on generated tables with planted clusters. The third
// argument picks how the union sums are computed (0 chosen, 1 dense, 2 sparse);
// method 3 is the dense one with the base build of the lane kernels rather
// than the AVX2 build the processor may have.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "common/vector_isa.h"
#include "input/attribute_context.h"
#include "input/tables.h"
#include "merge/merge_loop.h"

namespace {

constexpr int kPlanted = 5;

struct Table {
  std::vector<int> domains;
  std::vector<float> weights;
  std::vector<std::vector<int>> rows;
};

Table makeTable(int rows, int attributes, int domain) {
  Table t{std::vector<int>(attributes, domain), {}, {}};
  t.weights = kelbow::attributeWeights(t.domains);
  std::uint64_t seed = 1;
  auto next = [&seed] {
    return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33;
  };
  t.rows.assign(rows, std::vector<int>(attributes));
  for (int r = 0; r < rows; ++r)
    for (int a = 0; a < attributes; ++a)
      t.rows[r][a] =
          next() % 10 < 7 ? (r % kPlanted + a) % domain : static_cast<int>(next() % domain);
  return t;
}

// Starting clusters of `perCluster` consecutive rows each, under the table's context.
std::vector<std::unique_ptr<kelbow::ClusterSummary>> startingClusters(const Table& t,
                                                                      int perCluster) {
  kelbow::resetAttributeContext();
  const int attributes = static_cast<int>(t.domains.size());
  std::vector<std::unique_ptr<kelbow::ClusterSummary>> clusters;
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    if (r % perCluster == 0)
      clusters.push_back(
          std::make_unique<kelbow::ClusterSummary>(attributes, 0, t.domains.data(), nullptr));
    clusters.back()->addRow(t.rows[r].data(), static_cast<int>(r));
  }
  kelbow::gWeights = t.weights.data();
  for (auto& c : clusters) c->initFromCounts(c->denseCounts().data(), c->rowCount, 0);
  return clusters;
}

kelbow::UnionSums::Method method(const benchmark::State& state) {
  const bool base = state.range(2) == 3;
  kelbow::setWideVectors(!base);
  return base ? kelbow::UnionSums::Method::kDense
              : static_cast<kelbow::UnionSums::Method>(state.range(2));
}

// Arguments: clusters, attributes, method; one-row clusters of domain 6.
void BM_SetUpPairCosts(benchmark::State& state) {
  const Table t = makeTable(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 6);
  auto clusters = startingClusters(t, 1);
  for (auto _ : state) {
    kelbow::MergeLoop loop(clusters, method(state));
    benchmark::DoNotOptimize(loop.setUp());
  }
  kelbow::resetAttributeContext();
}

// The first 100 merges after the set-up (set-up not timed).
void BM_MergeSteps(benchmark::State& state) {
  const Table t = makeTable(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 6);
  for (auto _ : state) {
    state.PauseTiming();
    auto clusters = startingClusters(t, 1);
    kelbow::MergeLoop loop(clusters, method(state));
    loop.setUp();
    state.ResumeTiming();
    float total = 0.0f;
    for (int k = 0; k < 100 && loop.liveCount() > 1; ++k) total += loop.mergeCheapest().cost;
    benchmark::DoNotOptimize(total);
  }
  kelbow::resetAttributeContext();
}

// Arguments: clusters, attributes, method, rows per starting cluster; domain 6
// for one-row clusters, 3 (as in connect-4) for clusters of many rows.
void BM_MergeToOneCluster(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int perCluster = static_cast<int>(state.range(3));
  const Table t =
      makeTable(n * perCluster, static_cast<int>(state.range(1)), perCluster == 1 ? 6 : 3);
  for (auto _ : state) {
    state.PauseTiming();
    auto clusters = startingClusters(t, perCluster);
    state.ResumeTiming();
    kelbow::MergeLoop loop(clusters, method(state));
    float total = loop.setUp();
    while (loop.liveCount() > 1) total += loop.mergeCheapest().cost;
    benchmark::DoNotOptimize(total);
  }
  kelbow::resetAttributeContext();
  state.counters["pair_table_MB"] = static_cast<double>(n) * n * sizeof(float) / 1e6;
}

BENCHMARK(BM_SetUpPairCosts)
    ->Args({1499, 30, 0})
    ->Args({1499, 30, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeSteps)->Args({1499, 30, 0})->Args({1499, 30, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeToOneCluster)
    ->Args({1499, 30, 0, 1})
    ->Args({1499, 60, 0, 1})
    ->Args({1499, 30, 2, 1})
    ->Args({800, 42, 0, 80})
    ->Args({800, 42, 2, 80})
    ->Args({800, 42, 3, 80})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
