// The state of one bottom-up merge: the cost of every pair of clusters, each
// live cluster's cheapest partner in a heap, and the live marks. One call of
// EntropyClustering::agglomerate drives one MergeLoop from n clusters to one.
#pragma once

#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "merge/merge_heap.h"

namespace kelbow {

class MergeLoop {
 public:
  // Works on the given starting clusters, all live; they must outlive the loop.
  explicit MergeLoop(std::vector<std::unique_ptr<ClusterSummary>>& clusters);

  // Computes every pair cost, finds each cluster's cheapest partner and fills the
  // heap. Returns the starting summed entropy value (sum of E over the clusters).
  float setUp();

  struct Merge {
    int survivor;
    int absorbed;
    float cost;
  };
  // Merges the cheapest pair: the cluster whose record is on top absorbs its
  // partner. Updates the pair costs against the survivor and repairs the partners
  // of the clusters that pointed at either. Requires liveCount() > 1.
  Merge mergeCheapest();

  // Slot of the pair {a, b}, a != b, in the pair table; -1 for a == b.
  // Only the pairs above the diagonal are stored.
  int pairIndex(int a, int b) const;
  // Cheapest live partner of c (the lowest-numbered on a tie), written into c's
  // record; returns its cost, or 1e20 (partner -1) when c has no live partner.
  float findBestPartner(int c);

  int liveCount() const { return live_; }
  bool isLive(int c) const { return liveMarks_[c] != -1; }
  const MergePair& pair(int a, int b) const { return pairTable_[pairIndex(a, b)]; }
  const MergePair& bestPair(int c) const { return bestPairs_[c]; }
  const MergeHeap& heap() const { return heap_; }

 private:
  // Cost of merging live cluster q into the survivor s, from the kept entropy values.
  float costAgainstSurvivor(ClusterSummary& s, int q);

  std::vector<std::unique_ptr<ClusterSummary>>& clusters_;
  int n_;
  std::vector<MergePair> pairTable_;  // n(n-1)/2 records, row < col
  std::vector<MergePair> bestPairs_;  // one record per cluster; the heap points into it
  std::vector<int> liveMarks_;        // -1 once merged away
  MergeHeap heap_;
  int live_;
};

}  // namespace kelbow
