// The weighted sums S of the unions of one cluster with many partners: what the
// merge loop needs for the set-up pair costs and, after every merge, for the
// survivor against every live cluster. Each sum is bit for bit the one
// ClusterSummary::unionSum gives for the same pair.
//
// When the domains are small, the sums come from a dense copy of every
// cluster's counts. A partner of one or two rows needs only one term per
// attribute from a table of "this cluster plus one row of that code" (or "plus
// two rows of these codes"), built once per call for all such partners; other
// partners are summed several at a time, one lane each, every lane doing the
// same operations in the same order as the sparse walk. Otherwise each union is
// walked on the clusters' sparse lists.
#pragma once

#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "common/worker_pool.h"

namespace kelbow {

class UnionSums {
 public:
  enum class Method { kChoose, kDense, kSparse };

  // Reads the clusters' counts and the attribute context (weights included);
  // the clusters must outlive this object. kChoose takes the dense copy when
  // the domains are small and the copy fits in a modest amount of memory.
  explicit UnionSums(const std::vector<std::unique_ptr<ClusterSummary>>& clusters,
                     Method method = Method::kChoose);

  bool dense() const { return dense_; }

  // Partners summed side by side in one pass.
  static constexpr int kLanes = 8;

  // An informative attribute as the sums read it.
  struct Attribute {
    int offset;  // first value slot
    int domain;
    float weight;
    int pairOffset;  // first entry in the two-row table: d (d + 1) / 2 entries per attribute
  };

  // sums[p] = S of the union of cluster x with cluster partners[p]; x must not be a partner.
  void compute(int x, const std::vector<int>& partners, std::vector<float>& sums);

  // The same in two steps, so that the partners can be shared out over
  // threads: prepare takes x and its `count` partners (which must stay put)
  // into work space `space` and builds what all of them read; sumPrepared
  // then writes sums[p] for the partners p in begin .. end - 1 of the work
  // space `prepared`, working in the work space `space`. Calls in different
  // work spaces may run at once on different threads, also several
  // sumPrepared of one prepared work space; every sum is the one compute
  // gives, however the partners are shared out.
  // With a `pool`, prepare shares its own work out over it.
  void prepare(int x, const int* partners, int count, int space, WorkerPool* pool = nullptr);
  void sumPrepared(int prepared, int begin, int end, float* sums, int space);
  // Makes room for `count` work spaces (at least 1).
  void setSpaces(int count);
  int spaces() const { return static_cast<int>(spaces_.size()); }

  // Cluster j has just been merged into cluster i (after ClusterSummary::merge).
  void merged(int i, int j);

 private:
  // Partners of one row, of two rows, and all others.
  enum Shape : char { kOther = 0, kOneRow = 1, kTwoRows = 2 };

  // A work space: what prepare builds for all partners of x, and the scratch
  // of the sums of some of them.
  struct Space {
    int x = 0;
    const int* partners = nullptr;
    int count = 0;
    std::vector<int> own;            // the counts of x
    std::vector<float> oneRowTerms;  // weighted term of x plus one row, per value slot
    // Weighted term of x plus two rows, per attribute and code pair.
    std::vector<float> twoRowTerms;
    std::vector<int> byShape[3];  // partner positions split by shape
    std::vector<int> order;       // the positions of byShape[0 ..]: one-row, two-row, others
    int bound[4] = {};            // where each shape's positions start in order (others last)
    // Scratch of sumPrepared.
    std::vector<int> partnerAt;  // per column: the partner's place in the call, or -1
    std::vector<int> cols;       // the partners' columns, ascending
    std::vector<int> ids;
    std::vector<float> out;
  };

  void noteShape(int c);
  // The counts of cluster x, all gValueCount slots, copied out of the pool.
  const int* ownCounts(int x, Space& space) const;
  // True when building the table of x (its counts `row`) for partners of `rows`
  // rows pays for `partners` of them.
  bool tableWorthIt(const int* row, int rows, int partners) const;
  // The terms of the informative attributes first .. end - 1.
  void buildTable(int x, const int* row, int rows, Space& space, int first, int end) const;
  void sumTablePartners(const std::vector<float>& table, const int* q, int count, float* out) const;
  void sumDenseLanes(int x, const int* own, const int* q, int count, float* out,
                     Space& space) const;

  const std::vector<std::unique_ptr<ClusterSummary>>& clusters_;
  int n_;
  int valueCount_;
  bool dense_ = false;
  std::vector<Attribute> informative_;  // attributes of more than one value, in order
  // Dense only: the counts of the live clusters, slot-major (slot v of the
  // cluster in column c at v * stride_ + c); the live clusters hold the first
  // columns_ columns.
  std::vector<int> pool_;
  std::size_t stride_ = 0;
  std::vector<int> rows_;       // row count of every column
  std::vector<int> column_;     // column of every cluster; -1 once merged away
  std::vector<int> clusterAt_;  // cluster of every column
  int columns_ = 0;
  int pairCount_ = 0;  // entries of the two-row table

  std::vector<char> shape_;  // Shape of every cluster (dense only)
  // Of a one- or two-row cluster: its entry in the table of its shape, per informative attribute.
  std::vector<int> tableIndex_;
  std::vector<Space> spaces_;
};

}  // namespace kelbow
