// One cluster of data rows: its row count, how many of its rows take each value
// of each attribute, and which rows it holds. The merge loop works on these;
// the loaders make the starting ones.
//
// The counts are kept sparse: only the value slots with a non-zero count, in
// slot order. A one-row cluster holds one entry per attribute, whatever the
// domain sizes, and every evaluation walks only the non-zero slots, which are
// the only ones that contribute to an entropy value.
//
// All summaries of a run share the attribute context of input/attribute_context.h,
// which the first summary constructed while gValueCount is 0 captures.
#pragma once

#include <vector>

#include "cluster/member_set.h"

namespace kelbow {

// The count of one value slot (slot = offset of the attribute + code).
struct SlotCount {
  int slot;
  int count;
  bool operator==(const SlotCount&) const = default;
};

class ClusterSummary {
 public:
  // An empty summary (no rows, id -1). Captures the attribute context from these
  // arguments when none is set; informativeCount always comes from them.
  ClusterSummary(int attributeCount, int singleValuedCount, const int* domainSizes,
                 const float* logTable);
  virtual ~ClusterSummary() = default;
  ClusterSummary(const ClusterSummary&) = delete;

  // Copies every field but the scratch table, which means nothing between calls.
  virtual ClusterSummary& operator=(const ClusterSummary& other);

  // Makes this fresh summary the one-row cluster of row `rowNumber` with codes (A entries).
  void initFromRow(const int* codes, int rowNumber);
  // Takes a ready dense count table (gValueCount entries) of n rows; computes storedEntropy.
  void initFromCounts(const int* table, int n, int newId);

  // Entropy value E of the cluster (stored value when positive or when under two rows).
  double entropy();
  // Entropy value of the union with `other`.
  double unionEntropy(const ClusterSummary& other);
  // The weighted sum S of the union with `other` (the entropy value is -S / m);
  // leaves scratchSum alone.
  float unionSum(const ClusterSummary& other) const;
  // Entropy value of the cluster with one more row of `codes`.
  double entropyWithRow(const int* codes);

  // Absorbs `other` (left unchanged); `cost` is the merge cost of the pair, so the
  // union's entropy value is kept as cost + E(other) + E(this) without a recount.
  void merge(const ClusterSummary& other, float cost);
  // Marks this summary as merged away: id -1, no members; counts stay.
  void markAbsorbed();

  // Member rows, ascending. Fatal "labels and rows unmatched" when the number of
  // members differs from rowCount.
  std::vector<int> labels() const;
  // Sets labelTable[r] = label for every member row r.
  void assignLabel(std::vector<int>& labelTable, int label) const;

  // Row-level operations of the incremental procedures.
  void addRow(const int* codes, int rowNumber);
  void removeRow(const int* codes, int rowNumber);  // fatal on a non-member or negative count
  int randomMember() const;                         // needs at least one member
  void setStoredEntropy(float value) { storedEntropy = value; }
  float rowProbability(const int* codes) const;
  double squaredCountsPerRow() const;

  // The non-zero counts in slot order.
  const std::vector<SlotCount>& nonZeroCounts() const { return counts_; }
  // Rows in value slot `slot`.
  int count(int slot) const;
  // All gValueCount counts, zeros included.
  std::vector<int> denseCounts() const;

  // The fields are the cluster's record; the merge loop reads storedEntropy and
  // id, the tree's extraction fills members directly.
  float storedEntropy = 0.0f;  // E as kept by initFromCounts or merge
  float scratchSum = 0.0f;     // weighted sum of the last evaluation
  int rowCount = 0;
  int informativeCount = 0;  // attributes with more than one value: the divisor m
  int id = -1;               // -1 when not filled or merged away
  MemberSet members;         // row numbers, ascending

 private:
  // Sets the count of `slot`, keeping the entries in slot order and non-zero.
  void setCount(int slot, int count);

  std::vector<SlotCount> counts_;  // non-zero counts, ascending slots
};

}  // namespace kelbow
