#include "choose/runs.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "analysis/road.h"

namespace kelbow {

bool clusterRows(const TableDescription& desc, RowSource& rows, const AnalysisSettings& settings,
                 Progress& progress, Hierarchy& out, std::string& err) {
  EntropyClustering analysis(desc, rows, settings, progress);
  if (!loadStartingClusters(analysis, desc.rows, err)) return false;
  analysis.agglomerate(-1);
  out = Hierarchy::take(analysis);
  return true;
}

void runInParallel(int jobs, int threads, const std::function<void(int)>& job) {
  threads = std::max(1, std::min(threads, jobs));
  if (threads == 1) {
    for (int i = 0; i < jobs; ++i) job(i);
    return;
  }
  std::atomic<int> next{0};
  auto worker = [&] {
    for (int i; (i = next.fetch_add(1)) < jobs;) job(i);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
}

}  // namespace kelbow
