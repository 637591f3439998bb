// What characterises each cluster of one labelling of a table, for
// kelbow-profile: its size, the values that set it apart from the whole table,
// its mode per attribute and its missing values; and, against known classes,
// the contingency table, purity and adjusted Rand index.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelbow {

// Value counts of every cluster, attribute by attribute and code by code in
// the flat slot layout (slot of code v of attribute a: d_0 + ... + d_(a-1) + v).
// Dense while clusters x slots stays small, sparse beyond.
class ClusterCounts {
 public:
  ClusterCounts(int clusters, const std::vector<int>& domainSizes);

  // Counts one row of cluster c with `codes` (one code per attribute).
  void add(int c, const int* codes);

  long long count(int c, int slot) const;
  long long overall(int slot) const { return overall_[slot]; }
  long long size(int c) const { return sizes_[c]; }
  long long rows() const { return rows_; }
  int slotOf(int a, int code) const { return offsets_[a] + code; }
  int clusters() const { return static_cast<int>(sizes_.size()); }
  const std::vector<int>& domainSizes() const { return domainSizes_; }

 private:
  std::vector<int> domainSizes_;
  std::vector<int> offsets_;
  int slots_ = 0;
  bool dense_;
  std::vector<int32_t> dense_counts_;
  std::vector<std::unordered_map<int, int32_t>> sparse_;
  std::vector<long long> overall_;
  std::vector<long long> sizes_;
  long long rows_ = 0;
};

// One value's standing in a cluster.
struct ValueStanding {
  int attribute = 0;
  int code = 0;
  long long count = 0;      // rows of the cluster with this value
  double share = 0;         // count / cluster size
  double overallShare = 0;  // rows of the table with this value / all rows
  double lift = 0;          // share / overallShare
  double z = 0;             // over-representation in standard deviations (testValue)
  double pValue = 1;        // its one-sided p-value; filled by testDistinctiveValues
};

struct ClusterProfile {
  int cluster = 0;  // index into the clusters (labels in ascending order)
  long long size = 0;
  double share = 0;                        // size / rows
  std::vector<ValueStanding> distinctive;  // most distinctive first, at most `top`
  std::vector<ValueStanding> modes;        // one per attribute; code -1 when all missing
  std::vector<ValueStanding> missing;      // attributes with missing values (code -1)
};

// Profiles every cluster. A value is distinctive when its share in the cluster
// is above its share in the table; values rank by that difference, then by lift,
// then attribute and code. `isMissing[a][code]` marks missing markers: they are
// counted per attribute and never ranked or taken as a mode. A mode is the most
// frequent other value, ties to the smaller code.
std::vector<ClusterProfile> profileClusters(const ClusterCounts& counts,
                                            const std::vector<std::vector<bool>>& isMissing,
                                            int top);

// Clusters against known classes.
struct ClassAgreement {
  std::vector<std::vector<long long>> table;  // [cluster][class] row counts
  double purity = 0;                          // sum over clusters of the largest class count / rows
  double adjustedRandIndex = 0;               // 1 for identical partitions, about 0 for chance
};

// The adjusted Rand index of two partitions given by their contingency table
// (rows of one partition against columns of the other): 1 for identical
// partitions, about 0 for chance; 1 when both are trivial alike (one block
// each, or all singletons).
double adjustedRandIndex(const std::vector<std::vector<long long>>& table);

// Purity and adjusted Rand index of a contingency table ([cluster][class] row counts).
ClassAgreement agreementOf(std::vector<std::vector<long long>> table);

// `clusterOfRow` and `classOfRow` hold one index per row, below `clusters`
// and `classes`. When both partitions are trivial alike (one block each, or
// all singletons) the adjusted Rand index is taken as 1.
ClassAgreement compareWithClasses(const std::vector<int>& clusterOfRow,
                                  const std::vector<int>& classOfRow, int clusters, int classes);

}  // namespace kelbow
