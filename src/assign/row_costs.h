// What placing one row costs each cluster: the rise of a cluster's entropy
// value when the row joins it, and its fall when the row leaves it. These are
// the values ClusterSummary's entropyWithRow, entropy and removeRow give, to
// the last bit (the same terms, the same order, the same roundings), but each
// cluster keeps, per value slot, its attribute's weighted accumulator with one
// more (and one fewer) row of that value, so that weighing a row is one
// look-up and one addition per attribute, whatever the domain sizes, and no
// cluster keeps its member rows.
#pragma once

#include <vector>

#include "cluster/cluster_summary.h"

namespace kelbow {

// The attributes shared by every cluster: domain sizes, weights, slot offsets.
class RowCostLayout {
 public:
  explicit RowCostLayout(const std::vector<int>& domainSizes);

  int attributeCount() const { return static_cast<int>(sizes_.size()); }
  int valueCount() const { return valueCount_; }
  int domainSize(int a) const { return sizes_[a]; }
  int slotOffset(int a) const { return offsets_[a]; }
  float weight(int a) const { return weights_[a]; }
  // Attributes with more than one value: the divisor m of every entropy value.
  int informativeCount() const { return static_cast<int>(informative_.size()); }
  // Those attributes, in order: the only ones an entropy value sums over.
  const std::vector<int>& informative() const { return informative_; }
  // Attributes whose accumulators are computed row by row rather than kept
  // per slot (the table would cost more than the domain is worth).
  bool wide(int a) const { return wide_[a]; }

 private:
  std::vector<int> sizes_, offsets_;
  std::vector<float> weights_;
  std::vector<char> wide_;
  std::vector<int> informative_;
  int valueCount_ = 0;
};

class ClusterRowCosts {
 public:
  // An empty cluster. With `removals`, the cluster also keeps what removing a
  // row would leave (for moving rows between clusters).
  ClusterRowCosts(const RowCostLayout& layout, bool removals);

  // Counts a row (A codes inside their domains) in or out; call rebuild() before
  // the next evaluation.
  void add(const int* codes);
  void remove(const int* codes);
  // Takes a whole count table (valueCount entries) of n rows.
  void setCounts(const std::vector<int>& counts, int n);
  // Recomputes the accumulators from the counts.
  void rebuild();

  int rows() const { return rows_; }
  // Entropy value E of the cluster.
  double entropy() const;
  // E(cluster + row) - E(cluster). Attributes whose code is negative are left
  // out of both values; with every code given this is entropyWithRow - entropy.
  double increase(const int* codes) const;
  // The same in two steps, for a caller that weighs a row against many
  // clusters at once: `with` is the sum (addToSum, attribute order) of
  // weightedWith over the informative attributes whose code is given.
  float weightedWith(int a, int code) const {
    return layout_.wide(a) ? accumulator(a, code, 1, rows_ + 1)
                           : with_[layout_.slotOffset(a) + code];
  }
  // weightedWith of an attribute that is not wide, by its value slot.
  float weightedWithSlot(int slot) const { return with_[slot]; }
  double increaseFrom(float with, const int* codes, bool complete) const;
  // E(cluster) - E(cluster - row), for a row of the cluster (every code given).
  double decrease(const int* codes) const;

 private:
  // The weighted accumulator of attribute a with `delta` more rows of `code`
  // (no change when code < 0) at `rows` rows in all.
  float accumulator(int a, int code, int delta, int rows) const;

  const RowCostLayout& layout_;
  bool removals_;
  int rows_ = 0;
  std::vector<int> counts_;          // per slot
  std::vector<SlotCount> nonZero_;   // per slot order, codes relative to their attribute
  std::vector<int> attributeStart_;  // first entry of each attribute in nonZero_ (A + 1)
  std::vector<float> base_;          // per attribute, weighted, at rows_
  float baseSum_ = 0.0f;             // S of the cluster
  std::vector<float> with_;          // per slot: weighted, one more row of that value, rows_ + 1
  std::vector<float> without_;       // per slot: weighted, one fewer, rows_ - 1 (removals only)
};

}  // namespace kelbow
