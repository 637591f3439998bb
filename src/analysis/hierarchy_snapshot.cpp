// Hierarchy snapshots and labels: the cluster of every data row at one level of
// the merge, the clusters of the level numbered 0 .. k-1 in ascending cluster
// number.
#include <vector>

#include "analysis/entropy_clustering.h"
#include "common/error.h"
#include "summary/cf_tree.h"

namespace kelbow {

std::string EntropyClustering::snapshotFileName(int k) const {
  return dataFileName + "f" + std::to_string(f) + "nc" + std::to_string(nc) + ".hier" +
         std::to_string(k);
}

void EntropyClustering::writeHierarchySnapshot(int k) {
  if (!snapshotSink) return;
  if (tree != nullptr && !tree->keepMembers)
    fatal("hierarchy snapshot of " + std::to_string(k) +
          " clusters: the rows of the starting clusters were not kept\n");
  // Labels number the live clusters in ascending cluster number. A row that no
  // live cluster holds gets -1, which a consistent clustering never shows.
  std::vector<int> labels;
  if (tree == nullptr) {
    // One starting cluster per row: the clusters list their rows.
    labels.assign(rowCount, -1);
    int label = 0;
    for (int c = 0; c < clusterCount; ++c) {
      if (clusters[c]->id == -1) continue;
      clusters[c]->assignLabel(labels, label);
      ++label;
    }
  } else {
    // The clusters list the starting clusters they hold, and the tree knows
    // the starting cluster of every row: label the starting clusters, and each
    // row takes its starting cluster's label.
    std::vector<int> ofStart(clusterCount, -1);
    int label = 0;
    for (int c = 0; c < clusterCount; ++c) {
      if (clusters[c]->id == -1) continue;
      for (int s : clusters[c]->members) ofStart[s] = label;
      ++label;
    }
    labels.resize(rowCount);
    for (int r = 0; r < rowCount; ++r) {
      const int s = tree->memberIndex.entryOf(r);
      labels[r] = s >= 0 && s < clusterCount ? ofStart[s] : -1;
    }
  }
  snapshotSink(k, labels);
}

}  // namespace kelbow
