// Time of the bottom-up merge on the small-table road: n one-row clusters of a
// generated table with planted clusters, merged down to one (set-up included).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "input/attribute_context.h"
#include "input/tables.h"
#include "merge/merge_loop.h"

namespace {

constexpr int kAttributes = 20;
constexpr int kDomain = 6;
constexpr int kPlanted = 5;

void BM_MergeToOneCluster(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<int> domains(kAttributes, kDomain);
  const std::vector<float> weights = kelbow::attributeWeights(domains);
  const std::vector<float> logs = kelbow::logTable(n);
  std::uint64_t seed = 1;
  auto next = [&seed] { return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33; };
  std::vector<std::vector<int>> rows(n, std::vector<int>(kAttributes));
  for (int r = 0; r < n; ++r)
    for (int a = 0; a < kAttributes; ++a)
      rows[r][a] = next() % 10 < 8 ? (r % kPlanted + a) % kDomain : static_cast<int>(next() % kDomain);

  for (auto _ : state) {
    state.PauseTiming();
    kelbow::resetAttributeContext();
    std::vector<std::unique_ptr<kelbow::ClusterSummary>> clusters;
    for (int r = 0; r < n; ++r) {
      clusters.push_back(std::make_unique<kelbow::ClusterSummary>(kAttributes, 0, domains.data(), logs.data()));
      clusters.back()->initFromRow(rows[r].data(), r);
    }
    kelbow::gWeights = weights.data();
    state.ResumeTiming();

    kelbow::MergeLoop loop(clusters);
    float total = loop.setUp();
    while (loop.liveCount() > 1) total += loop.mergeCheapest().cost;
    benchmark::DoNotOptimize(total);
  }
  kelbow::resetAttributeContext();
  state.counters["pair_table_MB"] = static_cast<double>(n) * (n - 1) / 2 * sizeof(kelbow::MergePair) / 1e6;
}

BENCHMARK(BM_MergeToOneCluster)->Arg(200)->Arg(800)->Arg(1499)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
