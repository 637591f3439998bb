#include "assign/assigner.h"

#include <cmath>

#include "cluster/entropy_terms.h"

namespace kelbow {

Assigner::Assigner(const Model& model)
    : layout_(std::make_unique<RowCostLayout>(model.domainSizes())) {
  clusters_.reserve(model.clusterCount());
  for (int c = 0; c < model.clusterCount(); ++c) {
    clusters_.emplace_back(*layout_, false);
    clusters_.back().setCounts(model.clusterCounts(c), model.clusterRows(c));
    clusters_.back().rebuild();
  }
}

void Assigner::rises(const int* codes, std::vector<double>& out) const {
  // Every cluster's sum runs over the attributes in the same order as
  // ClusterRowCosts::increase; the clusters side by side only let the
  // processor overlap their additions.
  const size_t k = clusters_.size();
  thread_local std::vector<float> with;
  with.assign(k, 0.0f);
  bool complete = true;
  for (int a : layout_->informative()) {
    const int code = codes[a];
    if (code < 0) {
      complete = false;
      continue;
    }
    if (layout_->wide(a)) {
      for (size_t c = 0; c < k; ++c)
        with[c] = addToSum(clusters_[c].weightedWith(a, code), with[c]);
    } else {
      const int slot = layout_->slotOffset(a) + code;
      for (size_t c = 0; c < k; ++c)
        with[c] = addToSum(clusters_[c].weightedWithSlot(slot), with[c]);
    }
  }
  out.resize(k);
  for (size_t c = 0; c < k; ++c) out[c] = clusters_[c].increaseFrom(with[c], codes, complete);
}

Assignment Assigner::assign(const int* codes, std::vector<double>* shares) const {
  Assignment result;
  bool known = false;
  for (int a = 0; a < layout_->attributeCount(); ++a) known = known || codes[a] >= 0;
  if (shares != nullptr) shares->assign(clusters_.size(), 0.0);
  if (!known) return result;
  thread_local std::vector<double> rise;
  rises(codes, rise);
  // A strict comparison keeps the first of equal rises: the lower number.
  int best = 0;
  for (int c = 1; c < clusterCount(); ++c)
    if (rise[c] < rise[best]) best = c;
  double second = HUGE_VAL;
  for (int c = 0; c < clusterCount(); ++c)
    if (c != best && rise[c] < second) second = rise[c];
  result.cluster = best;
  result.margin = clusterCount() > 1 ? second - rise[best] : 0.0;
  if (shares != nullptr) {
    // The rise is the row's cost in normalised bits per attribute; summed over
    // the attributes it is a code length, and a cluster that needs b more bits
    // for the row is taken to be 2^b times less likely to hold it.
    const int m = layout_->informativeCount();
    double total = 0;
    for (int c = 0; c < clusterCount(); ++c)
      total += (*shares)[c] = std::exp2(-m * (rise[c] - rise[best]));
    for (double& s : *shares) s /= total;
  }
  return result;
}

}  // namespace kelbow
