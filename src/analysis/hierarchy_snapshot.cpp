// Hierarchy snapshots: the cluster label of every data row at one level of the
// merge, one "%d\n" line per row in row order.
#include <cstdio>
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
  if (snapshotOnlyLevel > 0 && k != snapshotOnlyLevel) return;
  const std::string name = snapshotFileName(k) + snapshotSuffix;
  if (tree != nullptr && !tree->keepMembers)
    fatal("can't write snapshot file " + name +
          ": the rows of the starting clusters were not kept\n");
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
    labels.assign(clusterCount, -1);
    int label = 0;
    for (int c = 0; c < clusterCount; ++c) {
      if (clusters[c]->id == -1) continue;
      for (int s : clusters[c]->members) labels[s] = label;
      ++label;
    }
  }
  std::FILE* out = std::fopen(name.c_str(), "w");
  if (out == nullptr) fatal("can't open snapshot file " + name + "\n");
  if (tree == nullptr) {
    for (int l : labels) std::fprintf(out, "%d\n", l);
  } else {
    for (int r = 0; r < rowCount; ++r) {
      const int s = tree->memberIndex.entryOf(r);
      std::fprintf(out, "%d\n", s >= 0 && s < clusterCount ? labels[s] : -1);
    }
  }
  if (std::fclose(out) != 0) fatal("can't write snapshot file " + name + "\n");
}

}  // namespace kelbow
