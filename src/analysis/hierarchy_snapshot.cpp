// Hierarchy snapshots: the cluster label of every data row at one level of the
// merge, one "%d\n" line per row in row order.
#include <cstdio>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "common/error.h"

namespace kelbow {

std::string EntropyClustering::snapshotFileName(int k) const {
  return dataFileName + "f" + std::to_string(f) + "nc" + std::to_string(nc) + ".hier" + std::to_string(k);
}

void EntropyClustering::writeHierarchySnapshot(int k) {
  if (snapshotOnlyLevel > 0 && k != snapshotOnlyLevel) return;
  const std::string name = snapshotFileName(k) + snapshotSuffix;
  // Labels number the live clusters in ascending cluster number. A row that no
  // live cluster lists keeps -1, which a consistent clustering never shows.
  std::vector<int> labels(rowCount, -1);
  int label = 0;
  for (int c = 0; c < clusterCount; ++c) {
    if (clusters[c]->id == -1) continue;
    clusters[c]->assignLabel(labels, label);
    ++label;
  }
  std::FILE* out = std::fopen(name.c_str(), "w");
  if (out == nullptr) fatal("can't open snapshot file " + name + "\n");
  for (int l : labels) std::fprintf(out, "%d\n", l);
  if (std::fclose(out) != 0) fatal("can't write snapshot file " + name + "\n");
}

}  // namespace kelbow
