#include "analysis/hierarchy.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "common/error.h"
#include "summary/cf_tree.h"

namespace kelbow {

std::vector<int> startLabels(const std::vector<MergeStep>& merges, int n, int k) {
  if (k < 1 || k > n || static_cast<int>(merges.size()) < n - k)
    fatal("startLabels: no level of " + std::to_string(k) + " clusters was merged\n");
  // Every starting cluster points at the cluster that absorbed it; a survivor
  // keeps its number, so the clusters never absorbed are the live ones.
  std::vector<int> parent(n);
  std::iota(parent.begin(), parent.end(), 0);
  for (int i = 0; i < n - k; ++i) parent[merges[i].absorbed] = merges[i].survivor;
  std::vector<int> labelOf(n, -1);
  int label = 0;
  for (int c = 0; c < n; ++c)
    if (parent[c] == c) labelOf[c] = label++;
  std::vector<int> out(n);
  for (int s = 0; s < n; ++s) {
    int c = s;
    while (parent[c] != c) c = parent[c];
    // Shorten the way for the clusters still to come.
    for (int x = s; parent[x] != c;) {
      const int next = parent[x];
      parent[x] = c;
      x = next;
    }
    out[s] = labelOf[c];
  }
  return out;
}

Hierarchy Hierarchy::take(EntropyClustering& analysis) {
  Hierarchy h;
  h.rowCount_ = analysis.rowCount;
  std::copy(analysis.normalisedCurve, analysis.normalisedCurve + 40, h.curve_);
  h.merges_ = analysis.merges;
  // The clusters have merged by now: the sizes of the starting clusters come
  // from the rows themselves.
  const int n = analysis.clusterCount;
  h.direct_ = analysis.tree == nullptr;
  if (h.direct_) {
    h.startSizes_.assign(n, 1);
    h.startFirstRow_.resize(n);
    std::iota(h.startFirstRow_.begin(), h.startFirstRow_.end(), 0);
    return h;
  }
  if (!analysis.tree->keepMembers) {
    // The curve and the merges without the rows: no labels can be given.
    h.startSizes_.assign(n, 0);
    h.rowsKept_ = false;
    return h;
  }
  h.startOf_ = std::move(analysis.tree->memberIndex);
  h.startSizes_.assign(n, 0);
  h.startFirstRow_.assign(n, -1);
  for (int r = h.rowCount_ - 1; r >= 0; --r) {
    const int s = h.startOf_.entryOf(r);
    ++h.startSizes_[s];
    h.startFirstRow_[s] = r;
  }
  return h;
}

std::vector<int> Hierarchy::startNumbersBySize(int k) const {
  if (!rowsKept_) fatal("Hierarchy: the rows of the starting clusters were not kept\n");
  const int n = startCount();
  const std::vector<int> level = startLabels(merges_, n, k);
  std::vector<long long> size(k, 0);
  std::vector<int> first(k, rowCount_);
  for (int s = 0; s < n; ++s) {
    size[level[s]] += startSizes_[s];
    first[level[s]] = std::min(first[level[s]], startFirstRow_[s]);
  }
  std::vector<int> order(k);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return size[a] != size[b] ? size[a] > size[b] : first[a] < first[b];
  });
  std::vector<int> number(k);
  for (int i = 0; i < k; ++i) number[order[i]] = i + 1;
  std::vector<int> out(n);
  for (int s = 0; s < n; ++s) out[s] = number[level[s]];
  return out;
}

std::vector<int> Hierarchy::labels(int k) const {
  const std::vector<int> ofStart = startNumbersBySize(k);
  std::vector<int> out(rowCount_);
  for (int r = 0; r < rowCount_; ++r) out[r] = ofStart[startOfRow(r)];
  return out;
}

std::vector<long long> Hierarchy::clusterSizes(int k) const {
  const std::vector<int> ofStart = startNumbersBySize(k);
  std::vector<long long> sizes(k + 1, 0);
  for (int s = 0; s < startCount(); ++s) sizes[ofStart[s]] += startSizes_[s];
  return sizes;
}

}  // namespace kelbow
