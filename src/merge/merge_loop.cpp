#include "merge/merge_loop.h"

namespace kelbow {

namespace {
// Cost a partner scan starts from: above every real merge cost.
constexpr float kNoPartnerCost = 1e20f;
}  // namespace

MergeLoop::MergeLoop(std::vector<std::unique_ptr<ClusterSummary>>& clusters)
    : clusters_(clusters),
      n_(static_cast<int>(clusters.size())),
      pairTable_(static_cast<std::size_t>(n_) * (n_ > 0 ? n_ - 1 : 0) / 2),
      bestPairs_(n_),
      liveMarks_(n_, 0),
      heap_(n_),
      live_(n_) {}

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
  for (int m = 0; m < n_; ++m) {
    if (m == c || liveMarks_[m] == -1) continue;
    const float d = pairTable_[pairIndex(c, m)].dwe;
    if (d < best) {  // strictly: the lowest-numbered of equally cheap partners wins
      best = d;
      partner = m;
    }
  }
  bestPairs_[c].col = partner;
  return best;
}

float MergeLoop::setUp() {
  for (int a = 0; a + 1 < n_; ++a) {
    for (int b = a + 1; b < n_; ++b) {
      ClusterSummary& ca = *clusters_[a];
      ClusterSummary& cb = *clusters_[b];
      // Rounded to single precision after each step: U, U - E(a), then - E(b).
      const float u = static_cast<float>(ca.unionEntropy(cb));
      const float less = static_cast<float>(u - ca.entropy());
      MergePair& p = pairTable_[pairIndex(a, b)];
      p.row = a;
      p.col = b;
      p.flag = -1;
      p.dwe = static_cast<float>(less - cb.entropy());
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
  for (int c = 0; c < n_; ++c) total = static_cast<float>(clusters_[c]->entropy() + total);
  return total;
}

float MergeLoop::costAgainstSurvivor(ClusterSummary& s, int q) {
  const ClusterSummary& other = *clusters_[q];
  // The kept entropy values, not a recount; one rounding at the end.
  return static_cast<float>(s.unionEntropy(other) - s.storedEntropy - other.storedEntropy);
}

MergeLoop::Merge MergeLoop::mergeCheapest() {
  MergePair* top = heap_.extractMin();
  const int i = top->row;
  const int j = top->col;
  const float cost = top->dwe;

  ClusterSummary& survivor = *clusters_[i];
  survivor.merge(*clusters_[j], cost);
  clusters_[j]->markAbsorbed();
  heap_.removeAt(bestPairs_[j].flag);
  liveMarks_[j] = -1;
  --live_;

  for (int m = i + 1; m < n_; ++m) {
    if (liveMarks_[m] == -1) continue;
    MergePair& p = pairTable_[pairIndex(i, m)];
    p.dwe = costAgainstSurvivor(survivor, p.col);
  }
  for (int m = 0; m < i; ++m) {
    if (liveMarks_[m] == -1) continue;
    MergePair& p = pairTable_[pairIndex(m, i)];
    p.dwe = costAgainstSurvivor(survivor, p.row);
  }

  // Only the clusters whose cheapest partner was one of the pair look again; the
  // others keep their record even if the new cluster would now be cheaper.
  for (int c = 0; c < n_; ++c) {
    if (liveMarks_[c] == -1) continue;
    MergePair& r = bestPairs_[c];
    if (r.col != i && r.col != j) continue;
    if (c != i) heap_.removeAt(r.flag);  // the survivor's record left the heap on top
    r.dwe = findBestPartner(c);
    heap_.insert(&r);
  }
  return {i, j, cost};
}

}  // namespace kelbow
