#include "merge/union_sums.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "cluster/entropy_terms.h"
#include "common/vector_isa.h"
#include "input/attribute_context.h"

#if KELBOW_HAS_WIDE_BUILD
#include <immintrin.h>
#endif

namespace kelbow {

namespace {

// The dense copy is taken when the domains average at most this many values
// (so a dense pass costs little more than a sparse walk) ...
constexpr int kDenseSlotsPerAttribute = 16;
// ... and the copy of all clusters holds at most this many counts (64 MB).
constexpr long long kDensePoolCells = 1LL << 24;

// Independent evaluations side by side, so that their rounding chains overlap.
template <class T>
using Lanes = std::array<T, UnionSums::kLanes>;

// Calls f(0), ..., f(kLanes - 1), unrolled, so that each lane stays in registers.
template <class F, std::size_t... L>
inline void forEachLane(F&& f, std::index_sequence<L...>) {
  (f(static_cast<int>(L)), ...);
}
template <class F>
inline void forLanes(F&& f) {
  forEachLane(f, std::make_index_sequence<UnionSums::kLanes>());
}

// What the vector kernel reads: the slot-major pool of counts (slot v of the
// cluster in column c at v * stride + c), the rows of every column, and the
// counts and rows of the cluster x whose unions are summed.
using DenseAttribute = UnionSums::Attribute;
struct DenseView {
  const int* pool;
  std::size_t stride;
  const int* rows;
  const int* own;
  int ownRows;
  const DenseAttribute* attributes;
  int attributeCount;
  const float* logCache;  // log2Count of every count below kLog2CacheSize
};

// Partners of one call of the vector kernel.
constexpr int kDenseLanes = 16;

// The terms of x plus one or two rows are built on several threads, in
// kAttributeChunks chunks, when there are at least kSharedAttributes attributes.
constexpr int kSharedAttributes = 8;
constexpr int kAttributeChunks = 8;
#define KELBOW_LANE_KERNELS "merge/union_lanes_kernels.inc"
#include "common/lane_builds.inc"
#undef KELBOW_LANE_KERNELS

}  // namespace

UnionSums::UnionSums(const std::vector<std::unique_ptr<ClusterSummary>>& clusters, Method method)
    : clusters_(clusters), n_(static_cast<int>(clusters.size())), valueCount_(gValueCount) {
  int offset = 0, pairs = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    const int d = gDomainSizes[a];
    if (d != 1) {
      informative_.push_back({offset, d, gWeights != nullptr ? gWeights[a] : 0.0f, pairs});
      pairs += d * (d + 1) / 2;
    }
    offset += d;
  }
  const long long cells = static_cast<long long>(n_) * valueCount_;
  const long long slotsPerAttribute = static_cast<long long>(kDenseSlotsPerAttribute) *
                                      std::max<std::size_t>(informative_.size(), 1);
  dense_ =
      method == Method::kDense ||
      (method == Method::kChoose && valueCount_ <= slotsPerAttribute && cells <= kDensePoolCells);
  pairCount_ = pairs;
  setSpaces(1);
  if (!dense_) return;

  // Spare columns past the last let a block of lanes read whole vectors.
  stride_ = static_cast<std::size_t>(n_) + kDenseLanes;
  pool_.assign(stride_ * valueCount_, 0);
  rows_.assign(stride_, 0);
  column_.resize(n_);
  clusterAt_.resize(n_);
  columns_ = n_;
  shape_.assign(n_, kOther);
  tableIndex_.assign(static_cast<std::size_t>(n_) * informative_.size(), 0);
  for (int c = 0; c < n_; ++c) {
    column_[c] = c;
    clusterAt_[c] = c;
    rows_[c] = clusters_[c]->rowCount;
    for (const SlotCount& e : clusters_[c]->nonZeroCounts())
      pool_[static_cast<std::size_t>(e.slot) * stride_ + c] = e.count;
    noteShape(c);
  }
}

void UnionSums::setSpaces(int count) {
  spaces_.resize(std::max(count, 1));
  if (!dense_) return;
  for (Space& space : spaces_) {
    space.own.assign(valueCount_, 0);
    space.partnerAt.assign(n_, -1);
    space.oneRowTerms.assign(valueCount_, 0.0f);
    space.twoRowTerms.assign(pairCount_, 0.0f);
  }
}

const int* UnionSums::ownCounts(int x, Space& space) const {
  const std::size_t c = static_cast<std::size_t>(column_[x]);
  int* own = space.own.data();
  for (int v = 0; v < valueCount_; ++v) own[v] = pool_[static_cast<std::size_t>(v) * stride_ + c];
  return own;
}

namespace {

// Entry of the code pair u <= v among the d (d + 1) / 2 pairs of a domain of d codes.
int pairEntry(int u, int v, int d) { return u * (2 * d - u + 1) / 2 + (v - u); }

}  // namespace

void UnionSums::noteShape(int c) {
  // One or two rows, each attribute's counts adding up to the row count within
  // its own slots: then the union with any cluster x is x plus those rows.
  const ClusterSummary& cluster = *clusters_[c];
  const int rows = cluster.rowCount;
  shape_[c] = kOther;
  if (rows != 1 && rows != 2) return;
  const std::vector<SlotCount>& entries = cluster.nonZeroCounts();
  std::size_t e = 0;
  int offset = 0, t = 0;
  int* index = &tableIndex_[static_cast<std::size_t>(c) * informative_.size()];
  for (int a = 0; a < gAttributeCount; ++a) {
    const int d = gDomainSizes[a];
    int codes[2], held = 0, sum = 0;
    for (; e < entries.size() && entries[e].slot < offset + d; ++e) {
      if (held == 2 || entries[e].count < 1) return;
      codes[held++] = entries[e].slot - offset;
      sum += entries[e].count;
    }
    if (sum != rows) return;
    if (d != 1) {
      const Attribute& at = informative_[t];
      index[t++] =
          rows == 1 ? offset + codes[0] : at.pairOffset + pairEntry(codes[0], codes[held - 1], d);
    }
    offset += d;
  }
  if (e == entries.size()) shape_[c] = rows == 1 ? kOneRow : kTwoRows;
}

void UnionSums::merged(int i, int j) {
  if (!dense_) return;
  // j's column is added into i's; the last live column then fills j's place,
  // so that the live clusters keep the first columns and blocks of partners
  // stay consecutive.
  const std::size_t into = column_[i];
  const std::size_t from = column_[j];
  const std::size_t last = static_cast<std::size_t>(--columns_);
  for (int v = 0; v < valueCount_; ++v) {
    int* slot = &pool_[static_cast<std::size_t>(v) * stride_];
    slot[into] += slot[from];
    slot[from] = slot[last];
    slot[last] = 0;
  }
  rows_[into] = clusters_[i]->rowCount;
  rows_[from] = rows_[last];
  rows_[last] = 0;
  const int moved = clusterAt_[last];
  clusterAt_[from] = moved;
  column_[moved] = static_cast<int>(from);
  column_[j] = -1;
  noteShape(i);
}

bool UnionSums::tableWorthIt(const int* row, int rows, int partners) const {
  // Each entry costs a walk over the z codes x holds plus the added ones; every
  // partner it serves saves a dense pass over the attribute's d slots.
  long long build = 0, pass = 0;
  for (const Attribute& t : informative_) {
    int held = 0;
    for (int v = 0; v < t.domain; ++v) held += row[t.offset + v] != 0;
    const long long entries =
        rows == 1 ? t.domain : static_cast<long long>(t.domain) * (t.domain + 1) / 2;
    build += entries * (held + rows);
    pass += t.domain;
  }
  return build <= pass * partners;
}

namespace {

// The accumulator of one attribute of x plus extra rows: x's non-zero codes
// `held` (ascending) with counts[u], merged in code order with the added codes
// `extra` (ascending) and their counts, as the sparse walk of the union goes.
float accumulateWithExtra(const int* counts, const std::vector<int>& held, const int* extra,
                          const int* extraCount, int extras, double rowLog) {
  float acc = 0.0f;
  int e = 0;
  for (int u : held) {
    for (; e < extras && extra[e] < u; ++e) acc = addCountTerm(acc, extraCount[e], rowLog);
    int k = counts[u];
    if (e < extras && extra[e] == u) k += extraCount[e++];
    if (k != 0) acc = addCountTerm(acc, k, rowLog);
  }
  for (; e < extras; ++e) acc = addCountTerm(acc, extraCount[e], rowLog);
  return acc;
}

}  // namespace

void UnionSums::buildTable(int x, const int* row, int rows, Space& space, int first,
                           int end) const {
  const double rowLog = log2Count(clusters_[x]->rowCount + rows);
  std::vector<int> held;
  for (int a = first; a < end; ++a) {
    const Attribute& t = informative_[a];
    const int* counts = row + t.offset;
    held.clear();
    for (int u = 0; u < t.domain; ++u)
      if (counts[u] != 0) held.push_back(u);
    for (int u = 0; u < t.domain; ++u) {
      if (rows == 1) {
        const int one = 1;
        space.oneRowTerms[t.offset + u] =
            weightAttribute(accumulateWithExtra(counts, held, &u, &one, 1, rowLog), t.weight);
        continue;
      }
      for (int v = u; v < t.domain; ++v) {
        const int codes[2] = {u, v};
        const int twice[1] = {2}, once[2] = {1, 1};
        const float acc = u == v ? accumulateWithExtra(counts, held, codes, twice, 1, rowLog)
                                 : accumulateWithExtra(counts, held, codes, once, 2, rowLog);
        space.twoRowTerms[t.pairOffset + pairEntry(u, v, t.domain)] =
            weightAttribute(acc, t.weight);
      }
    }
  }
}

void UnionSums::sumTablePartners(const std::vector<float>& table, const int* q, int count,
                                 float* out) const {
  const std::size_t width = informative_.size();
  for (int b = 0; b < count; b += kLanes) {
    Lanes<const int*> index;
    for (int l = 0; l < kLanes; ++l)
      index[l] = &tableIndex_[static_cast<std::size_t>(q[std::min(b + l, count - 1)]) * width];
    Lanes<float> sum{};
    for (std::size_t t = 0; t < width; ++t)
      forLanes([&](int l) { sum[l] = addToSum(table[index[l][t]], sum[l]); });
    for (int l = 0; l < kLanes && b + l < count; ++l) out[b + l] = sum[l];
  }
}

void UnionSums::sumDenseLanes(int x, const int* own, const int* q, int count, float* out,
                              Space& space) const {
  // The partners in column order, so that blocks of them are mostly
  // consecutive columns; each sum goes back to its partner's place.
  std::vector<int>& partnerAt = space.partnerAt;
  std::vector<int>& cols = space.cols;
  for (int p = 0; p < count; ++p) partnerAt[column_[q[p]]] = p;
  cols.clear();
  for (int c = 0; c < columns_; ++c)
    if (partnerAt[c] >= 0) cols.push_back(c);
  const DenseView view{pool_.data(),
                       stride_,
                       rows_.data(),
                       own,
                       clusters_[x]->rowCount,
                       informative_.data(),
                       static_cast<int>(informative_.size()),
                       gLog2Cache.values};
  float block[kDenseLanes];
  for (int b = 0; b < count; b += kDenseLanes) {
    const int k = std::min(kDenseLanes, count - b);
#if KELBOW_HAS_WIDE_BUILD
    if (wideVectors())
      wide::denseBlock(view, cols.data() + b, k, block);
    else
#endif
      base::denseBlock(view, cols.data() + b, k, block);
    for (int l = 0; l < k; ++l) out[partnerAt[cols[b + l]]] = block[l];
  }
  for (int c : cols) partnerAt[c] = -1;
}

void UnionSums::compute(int x, const std::vector<int>& partners, std::vector<float>& sums) {
  const int count = static_cast<int>(partners.size());
  sums.resize(count);
  prepare(x, partners.data(), count, 0);
  sumPrepared(0, 0, count, sums.data(), 0);
}

void UnionSums::prepare(int x, const int* partners, int count, int at, WorkerPool* pool) {
  Space& space = spaces_[at];
  space.x = x;
  space.partners = partners;
  space.count = count;
  if (!dense_) return;
  for (std::vector<int>& positions : space.byShape) positions.clear();
  for (int p = 0; p < count; ++p) space.byShape[static_cast<int>(shape_[partners[p]])].push_back(p);
  const int* row = ownCounts(x, space);
  for (const int rows : {1, 2}) {
    std::vector<int>& own = space.byShape[rows];
    if (own.empty() || tableWorthIt(row, rows, static_cast<int>(own.size()))) continue;
    space.byShape[kOther].insert(space.byShape[kOther].end(), own.begin(), own.end());
    own.clear();
  }
  space.order.clear();
  int g = 0;
  for (const int shape : {kOneRow, kTwoRows, kOther}) {
    space.bound[g++] = static_cast<int>(space.order.size());
    const std::vector<int>& positions = space.byShape[shape];
    space.order.insert(space.order.end(), positions.begin(), positions.end());
    if (shape == kOther || positions.empty()) continue;
    // Each attribute's terms are written by the one thread that takes it.
    const int attributes = static_cast<int>(informative_.size());
    if (pool != nullptr && attributes >= kSharedAttributes) {
      const int chunks = std::min(attributes, kAttributeChunks);
      pool->run(chunks, [&](int, int chunk) {
        const ItemRange r = shareOf(attributes, chunk, chunks);
        buildTable(x, row, shape, space, r.begin, r.end);
      });
    } else {
      buildTable(x, row, shape, space, 0, attributes);
    }
  }
  space.bound[g] = static_cast<int>(space.order.size());
}

void UnionSums::sumPrepared(int prepared, int begin, int end, float* sums, int at) {
  const Space& p = spaces_[prepared];
  if (!dense_) {
    const ClusterSummary& cx = *clusters_[p.x];
    for (int k = begin; k < end; ++k) sums[k] = cx.unionSum(*clusters_[p.partners[k]]);
    return;
  }
  Space& space = spaces_[at];
  int g = 0;
  for (const int shape : {kOneRow, kTwoRows, kOther}) {
    const int lo = std::max(begin, p.bound[g]);
    const int hi = std::min(end, p.bound[g + 1]);
    ++g;
    if (lo >= hi) continue;
    const int m = hi - lo;
    space.ids.resize(m);
    space.out.resize(m);
    for (int k = 0; k < m; ++k) space.ids[k] = p.partners[p.order[lo + k]];
    if (shape == kOther)
      sumDenseLanes(p.x, p.own.data(), space.ids.data(), m, space.out.data(), space);
    else
      sumTablePartners(shape == kOneRow ? p.oneRowTerms : p.twoRowTerms, space.ids.data(), m,
                       space.out.data());
    for (int k = 0; k < m; ++k) sums[p.order[lo + k]] = space.out[k];
  }
}

}  // namespace kelbow
