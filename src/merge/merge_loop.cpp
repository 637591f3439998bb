#include "merge/merge_loop.h"

#include <algorithm>

namespace kelbow {

namespace {
// Cost a partner scan starts from: above every real merge cost.
constexpr float kNoPartnerCost = 1e20f;
}  // namespace

MergeLoop::MergeLoop(std::vector<std::unique_ptr<ClusterSummary>>& clusters,
                     UnionSums::Method method)
    : clusters_(clusters),
      n_(static_cast<int>(clusters.size())),
      costs_(static_cast<std::size_t>(n_) * n_, -1.0f),
      sums_(clusters, method),
      bestPairs_(n_),
      liveMarks_(n_, 0),
      heap_(n_),
      live_(n_) {
  for (int c = 0; c < n_; ++c) liveList_.push_back(c);
}

MergePair MergeLoop::pair(int a, int b) const {
  MergePair p;
  p.row = a < b ? a : b;
  p.col = a < b ? b : a;
  p.flag = -1;
  p.dwe = costs_[static_cast<std::size_t>(a) * n_ + b];
  return p;
}

int MergeLoop::pairIndex(int a, int b) const {
  if (a == b) return -1;
  const long long lo = a < b ? a : b;
  const long long hi = a < b ? b : a;
  // Row lo of the upper triangle starts after the lo rows above it.
  return static_cast<int>(lo * (2LL * n_ - lo - 1) / 2 + (hi - lo - 1));
}

float MergeLoop::findBestPartner(int c) {
  float best = kNoPartnerCost;
  int partner = -1;
  const float* row = &costs_[static_cast<std::size_t>(c) * n_];
  // The live clusters in ascending order, as a scan of every column would meet them.
  for (int m : liveList_) {
    if (m == c) continue;
    const float d = row[m];
    if (d < best) {  // strictly: the lowest-numbered of equally cheap partners wins
      best = d;
      partner = m;
    }
  }
  bestPairs_[c].col = partner;
  return best;
}

float MergeLoop::setUp() {
  std::vector<double> e(n_);
  for (int c = 0; c < n_; ++c) e[c] = clusters_[c]->entropy();
  for (int a = 0; a + 1 < n_; ++a) {
    partners_.assign(liveList_.begin() + a + 1, liveList_.end());
    sums_.compute(a, partners_, unionSums_);
    const int m = clusters_[a]->informativeCount;
    for (std::size_t p = 0; p < partners_.size(); ++p) {
      const int b = partners_[p];
      // U as unionEntropy gives it, then rounded after each step: U, U - E(a), then - E(b).
      const float u = static_cast<float>(-static_cast<double>(unionSums_[p]) / m);
      const float less = static_cast<float>(u - e[a]);
      setCost(a, b, static_cast<float>(less - e[b]));
    }
  }
  for (int c = 0; c < n_; ++c) {
    MergePair& r = bestPairs_[c];
    r.row = c;
    r.flag = -1;
    r.dwe = findBestPartner(c);
    heap_.insert(&r);
    liveMarks_[c] = r.col == -1 ? c : r.col;  // any value but -1 means live
  }
  float total = 0.0f;
  for (int c = 0; c < n_; ++c) total = static_cast<float>(e[c] + total);
  return total;
}

MergeLoop::Merge MergeLoop::mergeCheapest() {
  MergePair* top = heap_.extractMin();
  const int i = top->row;
  const int j = top->col;
  const float cost = top->dwe;

  ClusterSummary& survivor = *clusters_[i];
  survivor.merge(*clusters_[j], cost);
  clusters_[j]->markAbsorbed();
  sums_.merged(i, j);
  heap_.removeAt(bestPairs_[j].flag);
  liveMarks_[j] = -1;
  --live_;
  liveList_.erase(std::lower_bound(liveList_.begin(), liveList_.end(), j));

  // The survivor against every live cluster, from the kept entropy values rather
  // than a recount; one rounding at the end.
  partners_.clear();
  for (int q : liveList_)
    if (q != i) partners_.push_back(q);
  sums_.compute(i, partners_, unionSums_);
  const int m = survivor.informativeCount;
  for (std::size_t p = 0; p < partners_.size(); ++p) {
    const int q = partners_[p];
    const double u = -static_cast<double>(unionSums_[p]) / m;
    setCost(i, q, static_cast<float>(u - survivor.storedEntropy - clusters_[q]->storedEntropy));
  }

  // Only the clusters whose cheapest partner was one of the pair look again; the
  // others keep their record even if the new cluster would now be cheaper.
  for (int c : liveList_) {
    MergePair& r = bestPairs_[c];
    if (r.col != i && r.col != j) continue;
    if (c != i) heap_.removeAt(r.flag);  // the survivor's record left the heap on top
    r.dwe = findBestPartner(c);
    heap_.insert(&r);
  }
  return {i, j, cost};
}

}  // namespace kelbow
