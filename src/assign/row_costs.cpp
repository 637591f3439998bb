#include "assign/row_costs.h"

#include "cluster/entropy_terms.h"
#include "input/tables.h"

namespace kelbow {

namespace {

// Beyond this many terms per slot table an attribute is weighed row by row.
constexpr long long kWideTableTerms = 1 << 14;

}  // namespace

RowCostLayout::RowCostLayout(const std::vector<int>& domainSizes) : sizes_(domainSizes) {
  for (size_t a = 0; a < sizes_.size(); ++a) {
    const int d = sizes_[a];
    offsets_.push_back(valueCount_);
    valueCount_ += d;
    weights_.push_back(attributeWeight(d));
    // A slot table costs about d * d terms to fill; a row weighed alone costs
    // the cluster's non-zero counts of the attribute, at most d.
    wide_.push_back(static_cast<long long>(d) * d > kWideTableTerms);
    if (d > 1) informative_.push_back(static_cast<int>(a));
  }
}

ClusterRowCosts::ClusterRowCosts(const RowCostLayout& layout, bool removals)
    : layout_(layout),
      removals_(removals),
      counts_(layout.valueCount(), 0),
      attributeStart_(layout.attributeCount() + 1, 0),
      base_(layout.attributeCount(), 0.0f),
      with_(layout.valueCount(), 0.0f),
      without_(removals ? layout.valueCount() : 0, 0.0f) {}

void ClusterRowCosts::add(const int* codes) {
  for (int a = 0; a < layout_.attributeCount(); ++a) ++counts_[layout_.slotOffset(a) + codes[a]];
  ++rows_;
}

void ClusterRowCosts::remove(const int* codes) {
  for (int a = 0; a < layout_.attributeCount(); ++a) --counts_[layout_.slotOffset(a) + codes[a]];
  --rows_;
}

void ClusterRowCosts::setCounts(const std::vector<int>& counts, int n) {
  counts_ = counts;
  rows_ = n;
}

float ClusterRowCosts::accumulator(int a, int code, int delta, int rows) const {
  // The terms of the summary's weighted sum for this attribute, codes in
  // order, zero counts skipped, the changed count in its place.
  const double rowLog = log2Count(rows);
  const SlotCount* e = nonZero_.data() + attributeStart_[a];
  const SlotCount* end = nonZero_.data() + attributeStart_[a + 1];
  float acc = 0.0f;
  bool placed = code < 0;
  for (; e != end; ++e) {
    if (!placed && code < e->slot) {
      acc = addCountTerm(acc, delta, rowLog);
      placed = true;
    }
    int k = e->count;
    if (!placed && code == e->slot) {
      k += delta;
      placed = true;
    }
    if (k != 0) acc = addCountTerm(acc, k, rowLog);
  }
  if (!placed) acc = addCountTerm(acc, delta, rowLog);
  return weightAttribute(acc, layout_.weight(a));
}

void ClusterRowCosts::rebuild() {
  nonZero_.clear();
  for (int a = 0; a < layout_.attributeCount(); ++a) {
    attributeStart_[a] = static_cast<int>(nonZero_.size());
    const int offset = layout_.slotOffset(a);
    for (int v = 0; v < layout_.domainSize(a); ++v)
      if (counts_[offset + v] != 0) nonZero_.push_back({v, counts_[offset + v]});
  }
  attributeStart_[layout_.attributeCount()] = static_cast<int>(nonZero_.size());
  baseSum_ = 0.0f;
  for (int a = 0; a < layout_.attributeCount(); ++a) {
    const int d = layout_.domainSize(a);
    if (d == 1) continue;  // a one-valued attribute carries nothing, as in the summary
    base_[a] = accumulator(a, -1, 0, rows_);
    baseSum_ = addToSum(base_[a], baseSum_);
    if (layout_.wide(a)) continue;
    const int offset = layout_.slotOffset(a);
    for (int v = 0; v < d; ++v) {
      with_[offset + v] = accumulator(a, v, 1, rows_ + 1);
      if (removals_ && counts_[offset + v] > 0)
        without_[offset + v] = accumulator(a, v, -1, rows_ - 1);
    }
  }
}

double ClusterRowCosts::entropy() const {
  // A cluster under two rows has the value 0 without an evaluation, as a
  // summary's entropy() gives it (its sum is 0 anyway).
  if (rows_ < 2) return 0.0;
  return -static_cast<double>(baseSum_) / layout_.informativeCount();
}

double ClusterRowCosts::increase(const int* codes) const {
  float with = 0.0f;
  bool complete = true;
  for (int a : layout_.informative()) {
    if (codes[a] < 0) {
      complete = false;
      continue;
    }
    with = addToSum(weightedWith(a, codes[a]), with);
  }
  return increaseFrom(with, codes, complete);
}

double ClusterRowCosts::increaseFrom(float with, const int* codes, bool complete) const {
  const int m = layout_.informativeCount();
  // With every attribute known the sum without the row is the cluster's own;
  // else it is summed over the known attributes, in the same order.
  double before = entropy();
  if (!complete) {
    float without = 0.0f;
    for (int a : layout_.informative())
      if (codes[a] >= 0) without = addToSum(base_[a], without);
    before = -static_cast<double>(without) / m;
  }
  return -static_cast<double>(with) / m - before;
}

double ClusterRowCosts::decrease(const int* codes) const {
  const int m = layout_.informativeCount();
  float without = 0.0f;
  for (int a = 0; a < layout_.attributeCount(); ++a) {
    if (layout_.domainSize(a) == 1) continue;
    without = addToSum(layout_.wide(a) ? accumulator(a, codes[a], -1, rows_ - 1)
                                       : without_[layout_.slotOffset(a) + codes[a]],
                       without);
  }
  const double after = rows_ - 1 < 2 ? 0.0 : -static_cast<double>(without) / m;
  return entropy() - after;
}

}  // namespace kelbow
