// The state of one bottom-up merge: the cost of every pair of clusters, each
// live cluster's cheapest partner in a heap, and the live marks. One call of
// EntropyClustering::agglomerate drives one MergeLoop from n clusters to one.
//
// The pair costs are kept in a full n x n table (both halves equal), so that the
// partner scan of a cluster reads one contiguous row.
#pragma once

#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "common/large_pages.h"
#include "common/worker_pool.h"
#include "merge/merge_heap.h"
#include "merge/union_sums.h"

namespace kelbow {

class MergeLoop {
 public:
  // Works on the given starting clusters, all live; they must outlive the loop.
  // `method` chooses how the union sums are computed (every method gives the same
  // values). With `threads` above 1 the pair costs of the set-up and of every
  // merge, and the partner scans after it, are shared out over that many
  // threads (the calling one among them, the others reading this thread's
  // attribute context); every cost, every partner and so the order of merges
  // are those of one thread.
  explicit MergeLoop(std::vector<std::unique_ptr<ClusterSummary>>& clusters,
                     UnionSums::Method method = UnionSums::Method::kChoose, int threads = 1);

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

  // Number of the pair {a, b}, a != b, among the n(n-1)/2 pairs, counted row by
  // row above the diagonal; -1 for a == b.
  int pairIndex(int a, int b) const;
  // Cheapest live partner of c (the lowest-numbered on a tie), written into c's
  // record; returns its cost, or 1e20 (partner -1) when c has no live partner.
  float findBestPartner(int c);

  // Shares out every step however few its partners (normally a step of few
  // stays on the calling thread): how tests reach the shared steps on small tables.
  void shareEveryStep() { sharedStepNanos_ = 0, sharedScanCells_ = 0; }

  int liveCount() const { return live_; }
  bool isLive(int c) const { return liveMarks_[c] != -1; }
  // The record of the pair {a, b}: lower cluster, higher cluster, no heap slot, cost.
  MergePair pair(int a, int b) const;
  bool denseSums() const { return sums_.dense(); }
  const MergePair& bestPair(int c) const { return bestPairs_[c]; }
  const MergeHeap& heap() const { return heap_; }

 private:
  // The set-up's pair costs of the rows first .. end - 1 (e: every cluster's
  // entropy value), summed in work space `space`.
  void setUpRows(const std::vector<double>& e, int first, int end, int space);
  // findBestPartner without writing the record: the partner into `partner`.
  float scanPartners(int c, int& partner) const;
  // Cheapest partners of the clusters at order[0 .. count - 1] into best and partner.
  void findPartners(const int* order, int count, float* best, int* partner) const;
  // findPartners into newBest_ and newPartner_, shared out over the team when
  // `shared` (the scans only read the cost table, so they may run side by side).
  void findNewPartners(const int* order, int count, bool shared);

  void setCost(int a, int b, float cost) {
    costs_[static_cast<std::size_t>(a) * n_ + b] = cost;
    costs_[static_cast<std::size_t>(b) * n_ + a] = cost;
  }

  std::vector<std::unique_ptr<ClusterSummary>>& clusters_;
  int n_;
  // n x n pair costs; the diagonal and the columns of merged clusters hold +inf
  std::vector<float, LargePageAllocator<float>> costs_;
  std::vector<int> liveList_;  // live clusters, ascending
  UnionSums sums_;
  std::vector<int> partners_;  // work lists of one evaluation round
  std::vector<float> unionSums_;
  std::vector<MergePair> bestPairs_;  // one record per cluster; the heap points into it
  std::vector<int> liveMarks_;        // -1 once merged away
  MergeHeap heap_;
  int live_;
  std::unique_ptr<WorkerPool> pool_;  // null on one thread
  // A survivor's partner sums are shared out when they would take at least
  // sharedStepNanos_ on one thread, at the cost per partner last measured
  // (partnerNanos_, 0 before the first merge). Timing decides only who
  // computes a sum, never its value.
  double sharedStepNanos_;
  double partnerNanos_ = 0;
  long long sharedScanCells_;   // least cells of shared partner scans
  std::vector<int> lookAgain_;  // clusters whose partner the last merge took
  std::vector<float> newBest_;
  std::vector<int> newPartner_;
};

}  // namespace kelbow
