// What one clustering leaves for labelling rows: the merges over the starting
// clusters, the starting cluster of every row and the entropy curve. Taken from
// an analysis object once it has merged, so that the object (and with it the
// attribute context of its thread) can go; the labels of every level then come
// from this one run, without clustering again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "summary/member_index.h"

namespace kelbow {

// The label 0 .. k-1 of each of n starting clusters at the level of k clusters
// (1 <= k <= n, merges.size() >= n - k): the first n - k merges replayed, the
// clusters never absorbed numbered in ascending cluster number, as the
// hierarchy snapshots number them.
std::vector<int> startLabels(const std::vector<MergeStep>& merges, int n, int k);

class Hierarchy {
 public:
  Hierarchy() = default;
  // The results of an analysis after agglomerate. On the large-table road the
  // record of the rows moves out of the analysis' tree; labels can be given
  // only when it was kept (AnalysisSettings::keepRows).
  static Hierarchy take(EntropyClustering& analysis);

  // The record of the run that a later tool reads back instead of clustering
  // again: a text line naming the format, then the row and starting-cluster
  // counts, the curve, the merges and each row's starting cluster (4 bytes a
  // row), in this machine's byte order.
  std::string record() const;
  // The hierarchy of a record; false, with err "what is wrong", when the bytes
  // are no whole record of this format (cut, padded, counts out of range, a
  // merge of a cluster already absorbed).
  static bool fromRecord(std::string_view bytes, Hierarchy& h, std::string& err);

  int rowCount() const { return rowCount_; }
  int startCount() const { return static_cast<int>(startSizes_.size()); }
  const std::vector<MergeStep>& merges() const { return merges_; }
  // Normalised expected entropy at k clusters, 1 <= k <= 39.
  float curve(int k) const { return curve_[k]; }
  const float* curveData() const { return curve_; }
  // Whether labels can be given.
  bool rowsKept() const { return rowsKept_; }
  // The starting cluster of data row r.
  int startOfRow(int r) const {
    return direct_ ? r : startTable_.empty() ? startOf_.entryOf(r) : startTable_[r];
  }
  // Rows of each starting cluster.
  const std::vector<int>& startSizes() const { return startSizes_; }

  // The clusters of level k numbered 1 .. k by size, largest first (clusters
  // of one size in the order of their first rows): the number of each
  // starting cluster.
  std::vector<int> startNumbersBySize(int k) const;
  // The same number for every data row (four bytes a row).
  std::vector<int> labels(int k) const;
  // The size of every cluster 1 .. k of level k numbered by size (entry 0 unused).
  std::vector<long long> clusterSizes(int k) const;

 private:
  int rowCount_ = 0;
  bool direct_ = true;
  bool rowsKept_ = true;
  float curve_[40] = {};
  std::vector<MergeStep> merges_;
  std::vector<int> startSizes_;
  std::vector<int> startFirstRow_;
  MemberIndex startOf_;
  std::vector<int> startTable_;  // the starting cluster of each row, when read from a record
};

}  // namespace kelbow
