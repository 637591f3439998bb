#include "merge/union_sums.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "cluster/entropy_terms.h"
#include "input/attribute_context.h"

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

// Four lanes as one vector: widened to double, each lane's step is the scalar
// step of addCountTerm (the same operations in the same order, rounded once to
// single precision), so the vector gives every lane the scalar's bits.
typedef int Counts __attribute__((vector_size(4 * sizeof(int))));
typedef float Quad __attribute__((vector_size(4 * sizeof(float))));
typedef double Wide __attribute__((vector_size(4 * sizeof(double))));
constexpr int kQuads = UnionSums::kLanes / 4;

// On x86-64 the lanes are also compiled for AVX2, taken at run time where the
// processor has it: the same operations on wider registers, so the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KELBOW_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define KELBOW_WIDE_VECTORS
#endif

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
  const long long slotsPerAttribute =
      static_cast<long long>(kDenseSlotsPerAttribute) * std::max<std::size_t>(informative_.size(), 1);
  dense_ = method == Method::kDense ||
           (method == Method::kChoose && valueCount_ <= slotsPerAttribute && cells <= kDensePoolCells);
  if (!dense_) return;

  pool_.assign(static_cast<std::size_t>(cells), 0);
  shape_.assign(n_, kOther);
  tableIndex_.assign(static_cast<std::size_t>(n_) * informative_.size(), 0);
  oneRowTerms_.assign(valueCount_, 0.0f);
  twoRowTerms_.assign(pairs, 0.0f);
  for (int c = 0; c < n_; ++c) {
    int* row = &pool_[static_cast<std::size_t>(c) * valueCount_];
    for (const SlotCount& e : clusters_[c]->nonZeroCounts()) row[e.slot] = e.count;
    noteShape(c);
  }
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
      index[t++] = rows == 1 ? offset + codes[0]
                             : at.pairOffset + pairEntry(codes[0], codes[held - 1], d);
    }
    offset += d;
  }
  if (e == entries.size()) shape_[c] = rows == 1 ? kOneRow : kTwoRows;
}

void UnionSums::merged(int i, int j) {
  if (!dense_) return;
  int* into = &pool_[static_cast<std::size_t>(i) * valueCount_];
  const int* from = &pool_[static_cast<std::size_t>(j) * valueCount_];
  for (int s = 0; s < valueCount_; ++s) into[s] += from[s];
  noteShape(i);
}

bool UnionSums::tableWorthIt(int x, int rows, int partners) const {
  // Each entry costs a walk over the z codes x holds plus the added ones; every
  // partner it serves saves a dense pass over the attribute's d slots.
  const int* row = &pool_[static_cast<std::size_t>(x) * valueCount_];
  long long build = 0, pass = 0;
  for (const Attribute& t : informative_) {
    int held = 0;
    for (int v = 0; v < t.domain; ++v) held += row[t.offset + v] != 0;
    const long long entries = rows == 1 ? t.domain : static_cast<long long>(t.domain) * (t.domain + 1) / 2;
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

void UnionSums::buildTable(int x, int rows) {
  const int* row = &pool_[static_cast<std::size_t>(x) * valueCount_];
  const double rowLog = log2Count(clusters_[x]->rowCount + rows);
  std::vector<int> held;
  for (const Attribute& t : informative_) {
    const int* counts = row + t.offset;
    held.clear();
    for (int u = 0; u < t.domain; ++u)
      if (counts[u] != 0) held.push_back(u);
    for (int u = 0; u < t.domain; ++u) {
      if (rows == 1) {
        const int one = 1;
        oneRowTerms_[t.offset + u] =
            weightAttribute(accumulateWithExtra(counts, held, &u, &one, 1, rowLog), t.weight);
        continue;
      }
      for (int v = u; v < t.domain; ++v) {
        const int codes[2] = {u, v};
        const int twice[1] = {2}, once[2] = {1, 1};
        const float acc = u == v ? accumulateWithExtra(counts, held, codes, twice, 1, rowLog)
                                 : accumulateWithExtra(counts, held, codes, once, 2, rowLog);
        twoRowTerms_[t.pairOffset + pairEntry(u, v, t.domain)] = weightAttribute(acc, t.weight);
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

KELBOW_WIDE_VECTORS void UnionSums::sumDenseLanes(int x, const int* q, int count, float* out) const {
  const int* row = &pool_[static_cast<std::size_t>(x) * valueCount_];
  const int rows = clusters_[x]->rowCount;
  for (int b = 0; b < count; b += kLanes) {
    Lanes<const int*> partner;
    Lanes<double> logs;
    for (int l = 0; l < kLanes; ++l) {
      // A short last block repeats its last partner in the spare lanes.
      const int c = q[std::min(b + l, count - 1)];
      partner[l] = &pool_[static_cast<std::size_t>(c) * valueCount_];
      logs[l] = log2Count(rows + clusters_[c]->rowCount);
    }
    // Loaded whole rather than stored element by element into the vectors:
    // GCC 12 at -O2 with its object-size checks miscompiles such stores.
    Wide rowLog[kQuads];
    std::memcpy(rowLog, logs.data(), sizeof rowLog);
    Lanes<float> sum{};
    for (const Attribute& t : informative_) {
      Quad acc[kQuads] = {};
      for (int v = t.offset; v < t.offset + t.domain; ++v) {
        // Every lane takes the step; a zero count keeps its lane's accumulator.
        for (int h = 0; h < kQuads; ++h) {
          const Counts k = {row[v] + partner[4 * h][v], row[v] + partner[4 * h + 1][v],
                            row[v] + partner[4 * h + 2][v], row[v] + partner[4 * h + 3][v]};
          const Quad countLog = {log2Count(k[0]), log2Count(k[1]), log2Count(k[2]), log2Count(k[3])};
          const Wide step = __builtin_convertvector(k, Wide) * (__builtin_convertvector(countLog, Wide) - rowLog[h]) +
                            __builtin_convertvector(acc[h], Wide);
          acc[h] = k != 0 ? __builtin_convertvector(step, Quad) : acc[h];
        }
      }
      forLanes([&](int l) { sum[l] = addToSum(weightAttribute(acc[l / 4][l % 4], t.weight), sum[l]); });
    }
    for (int l = 0; l < kLanes && b + l < count; ++l) out[b + l] = sum[l];
  }
}

void UnionSums::compute(int x, const std::vector<int>& partners, std::vector<float>& sums) {
  const int count = static_cast<int>(partners.size());
  sums.resize(count);
  if (!dense_) {
    const ClusterSummary& cx = *clusters_[x];
    for (int p = 0; p < count; ++p) sums[p] = cx.unionSum(*clusters_[partners[p]]);
    return;
  }
  for (std::vector<int>& positions : byShape_) positions.clear();
  for (int p = 0; p < count; ++p) byShape_[static_cast<int>(shape_[partners[p]])].push_back(p);
  for (const int rows : {1, 2}) {
    std::vector<int>& own = byShape_[rows];
    if (own.empty() || tableWorthIt(x, rows, static_cast<int>(own.size()))) continue;
    byShape_[kOther].insert(byShape_[kOther].end(), own.begin(), own.end());
    own.clear();
  }
  for (const int shape : {kOneRow, kTwoRows, kOther}) {
    const std::vector<int>& at = byShape_[shape];
    if (at.empty()) continue;
    idBuf_.resize(at.size());
    outBuf_.resize(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) idBuf_[k] = partners[at[k]];
    const int m = static_cast<int>(at.size());
    if (shape == kOther) {
      sumDenseLanes(x, idBuf_.data(), m, outBuf_.data());
    } else {
      buildTable(x, shape);
      sumTablePartners(shape == kOneRow ? oneRowTerms_ : twoRowTerms_, idBuf_.data(), m,
                       outBuf_.data());
    }
    for (std::size_t k = 0; k < at.size(); ++k) sums[at[k]] = outBuf_[k];
  }
}

}  // namespace kelbow
