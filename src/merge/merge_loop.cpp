#include "merge/merge_loop.h"

#include <algorithm>
#include <chrono>
#include <limits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "input/attribute_context.h"

namespace kelbow {

namespace {
using Clock = std::chrono::steady_clock;

// Cost a partner scan starts from: above every real merge cost.
constexpr float kNoPartnerCost = 1e20f;
// Cost of a cluster with itself and with a merged cluster: never a partner.
constexpr float kNotAPartner = std::numeric_limits<float>::infinity();
// A survivor's partner sums that take less than this on one thread stay on the
// calling thread: handing them over (waking a helper, waiting for its last
// chunk) would cost more than it saves. What a partner costs depends on the
// table (its attributes, their domains, the way the sums are taken), so it is
// measured as the loop goes. On a 2-core machine shared with other work,
// sharing steps of 20 microseconds lost 20-25% of the wall time on 1,499
// rows x 30 attributes, steps of 50 were even, 100 and more never lost.
// Shared out, the partners go in chunks of about kChunkPartners, taken by
// whichever thread is free.
constexpr double kSharedStepNanos = 100000;
constexpr int kChunkPartners = 64;
// Partner scans after a merge of fewer cells than this (each scan reads a
// whole row of costs, a fraction of a nanosecond a cell) stay on the calling
// thread too; shared, they go in chunks of kScanChunkCells.
constexpr long long kSharedScanCells = 524288;
constexpr long long kScanChunkCells = 65536;
// Rows of the set-up's pair table per chunk.
constexpr int kChunkRows = 8;

int chunksOf(long long work, long long chunkWork) {
  const long long chunks = (work + chunkWork - 1) / chunkWork;
  return static_cast<int>(std::clamp<long long>(chunks, 1, WorkerPool::kMostChunks));
}
}  // namespace

MergeLoop::MergeLoop(std::vector<std::unique_ptr<ClusterSummary>>& clusters,
                     UnionSums::Method method, int threads)
    : clusters_(clusters),
      n_(static_cast<int>(clusters.size())),
      costs_(static_cast<std::size_t>(n_) * n_, kNotAPartner),
      sums_(clusters, method),
      bestPairs_(n_),
      liveMarks_(n_, 0),
      heap_(n_),
      live_(n_),
      sharedStepNanos_(kSharedStepNanos),
      sharedScanCells_(kSharedScanCells) {
  for (int c = 0; c < n_; ++c) liveList_.push_back(c);
  if (threads > 1 && n_ > 2) {
    const AttributeContext context = currentAttributeContext();
    pool_ = std::make_unique<WorkerPool>(std::min(threads, n_),
                                         [context] { installAttributeContext(context); });
    sums_.setSpaces(pool_->size());
  }
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
  int partner = -1;
  const float best = scanPartners(c, partner);
  bestPairs_[c].col = partner;
  return best;
}

float MergeLoop::scanPartners(int c, int& found) const {
  float best = kNoPartnerCost;
  int partner = -1;
  // The whole row in column order, as a scan of the live clusters in ascending
  // order would meet them: the diagonal and the columns of merged clusters hold
  // +inf, which is never below a cost found. Blocks whose every cost is at
  // least the best so far (or not a number) are passed over four lanes at a
  // time; a block that holds a lower one is read cost by cost, strictly, so
  // the lowest-numbered of equally cheap partners wins.
  const float* row = &costs_[static_cast<std::size_t>(c) * n_];
  int m = 0;
#ifdef __SSE2__
  for (; m + 8 <= n_; m += 8) {
    const __m128 limit = _mm_set1_ps(best);
    const __m128 lower = _mm_or_ps(_mm_cmplt_ps(_mm_loadu_ps(row + m), limit),
                                   _mm_cmplt_ps(_mm_loadu_ps(row + m + 4), limit));
    if (_mm_movemask_ps(lower) == 0) continue;
    for (int k = m; k < m + 8; ++k)
      if (row[k] < best) best = row[k], partner = k;
  }
#endif
  for (; m < n_; ++m)
    if (row[m] < best) best = row[m], partner = m;
  found = partner;
  return best;
}

void MergeLoop::findPartners(const int* order, int count, float* best, int* partner) const {
  for (int k = 0; k < count; ++k) {
    const int c = order[k];
    best[k] = scanPartners(c, partner[k]);
  }
}

void MergeLoop::findNewPartners(const int* order, int count, bool shared) {
  newBest_.resize(count);
  newPartner_.resize(count);
  if (!shared) {
    findPartners(order, count, newBest_.data(), newPartner_.data());
    return;
  }
  // Each scan reads a whole row of costs.
  const int chunks = chunksOf(static_cast<long long>(count) * n_, kScanChunkCells);
  pool_->run(chunks, [&](int, int chunk) {
    const ItemRange r = shareOf(count, chunk, chunks);
    findPartners(order + r.begin, r.end - r.begin, newBest_.data() + r.begin,
                 newPartner_.data() + r.begin);
  });
}

void MergeLoop::setUpRows(const std::vector<double>& e, int first, int end, int space) {
  std::vector<float> sums;
  for (int a = first; a < end; ++a) {
    const int* partners = liveList_.data() + a + 1;
    const int count = n_ - a - 1;
    sums.resize(count);
    sums_.prepare(a, partners, count, space);
    sums_.sumPrepared(space, 0, count, sums.data(), space);
    const int m = clusters_[a]->informativeCount;
    for (int p = 0; p < count; ++p) {
      const int b = partners[p];
      // U as unionEntropy gives it, then rounded after each step: U, U - E(a), then - E(b).
      const float u = static_cast<float>(-static_cast<double>(sums[p]) / m);
      const float less = static_cast<float>(u - e[a]);
      setCost(a, b, static_cast<float>(less - e[b]));
    }
  }
}

float MergeLoop::setUp() {
  std::vector<double> e(n_);
  for (int c = 0; c < n_; ++c) e[c] = clusters_[c]->entropy();
  // Each pair's cost is written by the one thread that takes its row; the
  // rows go in small chunks, so that the long first rows and the short last
  // ones spread evenly.
  const int rows = std::max(n_ - 1, 0);
  if (pool_ != nullptr) {
    const int chunks = chunksOf(rows, kChunkRows);
    pool_->run(chunks, [&](int member, int chunk) {
      const ItemRange r = shareOf(rows, chunk, chunks);
      setUpRows(e, r.begin, r.end, member);
    });
  } else {
    setUpRows(e, 0, rows, 0);
  }
  // The partner scans read the finished table; the heap takes the records in
  // cluster order, as it always has.
  findNewPartners(liveList_.data(), n_, pool_ != nullptr);
  for (int c = 0; c < n_; ++c) {
    MergePair& r = bestPairs_[c];
    r.row = c;
    r.flag = -1;
    r.col = newPartner_[c];
    r.dwe = newBest_[c];
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
  for (int q : liveList_) costs_[static_cast<std::size_t>(q) * n_ + j] = kNotAPartner;

  // The survivor against every live cluster, from the kept entropy values rather
  // than a recount; one rounding at the end.
  partners_.clear();
  for (int q : liveList_)
    if (q != i) partners_.push_back(q);
  const int count = static_cast<int>(partners_.size());
  unionSums_.resize(count);
  // What every partner's sum reads is made once, here; the partners then go
  // in chunks to whichever thread is free. With helpers at hand, the calling
  // thread times its own sums, so that the next step knows what a partner costs.
  const bool share = pool_ != nullptr && partnerNanos_ * count >= sharedStepNanos_;
  sums_.prepare(i, partners_.data(), count, 0, share ? pool_.get() : nullptr);
  double nanos = 0;
  int timed = 0;
  auto sumOnCaller = [&](int begin, int end) {
    const Clock::time_point start = Clock::now();
    sums_.sumPrepared(0, begin, end, unionSums_.data(), 0);
    nanos += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    timed += end - begin;
  };
  if (share) {
    const int chunks = chunksOf(count, kChunkPartners);
    pool_->run(chunks, [&](int member, int chunk) {
      const ItemRange r = shareOf(count, chunk, chunks);
      if (member == 0)
        sumOnCaller(r.begin, r.end);
      else
        sums_.sumPrepared(0, r.begin, r.end, unionSums_.data(), member);
    });
  } else if (pool_ != nullptr) {
    sumOnCaller(0, count);
  } else {
    sums_.sumPrepared(0, 0, count, unionSums_.data(), 0);
  }
  if (timed > 0) partnerNanos_ = nanos / timed;
  const int m = survivor.informativeCount;
  for (int p = 0; p < count; ++p) {
    const int q = partners_[p];
    const double u = -static_cast<double>(unionSums_[p]) / m;
    setCost(i, q, static_cast<float>(u - survivor.storedEntropy - clusters_[q]->storedEntropy));
  }

  // Only the clusters whose cheapest partner was one of the pair look again; the
  // others keep their record even if the new cluster would now be cheaper. The
  // scans only read the cost table, so they may run side by side; the heap then
  // takes the new records one by one in cluster order, each record keeping its
  // old cost until its turn, exactly as one scan after another would leave it.
  lookAgain_.clear();
  for (int c : liveList_) {
    const MergePair& r = bestPairs_[c];
    if (r.col == i || r.col == j) lookAgain_.push_back(c);
  }
  const int again = static_cast<int>(lookAgain_.size());
  findNewPartners(lookAgain_.data(), again,
                  pool_ != nullptr && static_cast<long long>(again) * n_ >= sharedScanCells_);
  for (int k = 0; k < again; ++k) {
    const int c = lookAgain_[k];
    MergePair& r = bestPairs_[c];
    if (c != i) heap_.removeAt(r.flag);  // the survivor's record left the heap on top
    r.dwe = newBest_[k];
    r.col = newPartner_[k];
    heap_.insert(&r);
  }
  return {i, j, cost};
}

}  // namespace kelbow
