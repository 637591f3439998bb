#include "summary/entry_lanes.h"

#include <algorithm>
#include <cstring>

#include "common/vector_isa.h"

namespace kelbow {

namespace {

// A band of four lanes is taken unless its padding would more than double the
// cells of a table (a few attributes of very large domains among small ones).
constexpr int kWideLanes = 4;
constexpr int kSpareCells = 64;

template <int W>
struct Lanes {
  typedef int Int __attribute__((vector_size(W * sizeof(int))));
  typedef float Float __attribute__((vector_size(W * sizeof(float))));
  typedef double Double __attribute__((vector_size(W * sizeof(double))));
};

// Vectors are loaded and stored whole through memcpy, never element by element:
// GCC 12 at -O2 with its object-size checks miscompiles element stores.
template <class T>
inline T load(const void* p) {
  T x;
  std::memcpy(&x, p, sizeof x);
  return x;
}
template <class T>
inline void store(void* p, const T& x) {
  std::memcpy(p, &x, sizeof x);
}

template <class V>
inline bool anyNonZero(const V& c) {
  V zero = {};
  return std::memcmp(&c, &zero, sizeof c) != 0;
}

// Each step below is, lane by lane, the scalar step of the plain pass:
// acc + k * (log2 k - log2 n) in double from the integer count and the
// single-precision logarithms, rounded once to single precision.

template <int W>
[[gnu::always_inline]] inline void buildBands(const LaneLayout& layout, const LaneCounts& in,
                                              float* table) {
  using Int = typename Lanes<W>::Int;
  using Float = typename Lanes<W>::Float;
  using Double = typename Lanes<W>::Double;
  const double rowLog = in.rowLog;
  for (const LaneBand& band : layout.bands) {
    const int* c = in.counts + band.start;
    const float* logC = in.logCount + band.start;
    const float* logB = in.logBump + band.start;
    float* t = table + band.start;
    // Cell v: the prefix over the codes before v, then v's count plus one.
    Float prefix = {};
    for (int v = 0; v < band.domain; ++v) {
      const Int k = load<Int>(c + v * W);
      const Double kd = __builtin_convertvector(k, Double);
      const Double wide = __builtin_convertvector(prefix, Double);
      const Double bumped =
          (kd + 1.0) * (__builtin_convertvector(load<Float>(logB + v * W), Double) - rowLog) + wide;
      store(t + v * W, __builtin_convertvector(bumped, Float));
      const Double plain =
          kd * (__builtin_convertvector(load<Float>(logC + v * W), Double) - rowLog) + wide;
      prefix = k != 0 ? __builtin_convertvector(plain, Float) : prefix;
    }
    // Then the tails: the step of code s goes to every cell before s, in code order.
    for (int s = 1; s < band.domain; ++s) {
      const Int k = load<Int>(c + s * W);
      if (!anyNonZero(k)) continue;
      const Double step = __builtin_convertvector(k, Double) *
                          (__builtin_convertvector(load<Float>(logC + s * W), Double) - rowLog);
      const Int held = k != 0;
      for (int u = 0; u < s; ++u) {
        const Float x = load<Float>(t + u * W);
        const Float y = __builtin_convertvector(__builtin_convertvector(x, Double) + step, Float);
        store(t + u * W, held ? y : x);
      }
    }
  }
}

template <int W>
[[gnu::always_inline]] inline void unionBands(const LaneLayout& layout, const LaneCounts& in,
                                              const int* codes, float* acc) {
  using Int = typename Lanes<W>::Int;
  using Float = typename Lanes<W>::Float;
  using Double = typename Lanes<W>::Double;
  const double rowLog = in.rowLog;
  for (std::size_t b = 0; b < layout.bands.size(); ++b) {
    const LaneBand& band = layout.bands[b];
    const int* c = in.counts + band.start;
    const float* logC = in.logCount + band.start;
    const float* logB = in.logBump + band.start;
    const Int code = load<Int>(codes + b * W);
    Float sum = {};
    for (int v = 0; v < band.domain; ++v) {
      // The row's code takes the count plus one and its logarithm.
      const Int hit = code == v;
      const Int k = load<Int>(c + v * W) - hit;
      const Float log = hit ? load<Float>(logB + v * W) : load<Float>(logC + v * W);
      const Double step =
          __builtin_convertvector(k, Double) * (__builtin_convertvector(log, Double) - rowLog) +
          __builtin_convertvector(sum, Double);
      sum = k != 0 ? __builtin_convertvector(step, Float) : sum;
    }
    store(acc + b * W, sum);
  }
}

// G vectors of four entries each; every lane's chain is the scalar one.
template <int G>
[[gnu::always_inline]] inline void tableGroups(const float* const* tables, const int* cells,
                                               const float* weights, int width, float* sums) {
  using Float = typename Lanes<kWideLanes>::Float;
  using Double = typename Lanes<kWideLanes>::Double;
  Float sum[G] = {};
  for (int t = 0; t < width; ++t) {
    const int cell = cells[t];
    const double w = weights[t];
    for (int g = 0; g < G; ++g) {
      const float* const* q = tables + 4 * g;
      const Float x = {q[0][cell], q[1][cell], q[2][cell], q[3][cell]};
      sum[g] = __builtin_convertvector(
          __builtin_convertvector(sum[g], Double) + __builtin_convertvector(x, Double) * w, Float);
    }
  }
  for (int g = 0; g < G; ++g) store(sums + 4 * g, sum[g]);
}

template <int G>
void tableBase(const float* const* tables, const int* cells, const float* weights, int width,
               float* sums) {
  tableGroups<G>(tables, cells, weights, width, sums);
}
#if KELBOW_HAS_WIDE_BUILD
template <int G>
KELBOW_WIDE_BUILD void tableWide(const float* const* tables, const int* cells, const float* weights,
                                 int width, float* sums) {
  tableGroups<G>(tables, cells, weights, width, sums);
}
#endif

template <int G>
void tableDispatch(const float* const* tables, const int* cells, const float* weights, int width,
                   float* sums) {
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors()) return tableWide<G>(tables, cells, weights, width, sums);
#endif
  tableBase<G>(tables, cells, weights, width, sums);
}

void buildNarrow(const LaneLayout& layout, const LaneCounts& in, float* table) {
  buildBands<1>(layout, in, table);
}
void buildBase(const LaneLayout& layout, const LaneCounts& in, float* table) {
  buildBands<kWideLanes>(layout, in, table);
}
void unionNarrow(const LaneLayout& layout, const LaneCounts& in, const int* codes, float* acc) {
  unionBands<1>(layout, in, codes, acc);
}
void unionBase(const LaneLayout& layout, const LaneCounts& in, const int* codes, float* acc) {
  unionBands<kWideLanes>(layout, in, codes, acc);
}
#if KELBOW_HAS_WIDE_BUILD
KELBOW_WIDE_BUILD void buildWide(const LaneLayout& layout, const LaneCounts& in, float* table) {
  buildBands<kWideLanes>(layout, in, table);
}
KELBOW_WIDE_BUILD void unionWide(const LaneLayout& layout, const LaneCounts& in, const int* codes,
                                 float* acc) {
  unionBands<kWideLanes>(layout, in, codes, acc);
}
#endif

}  // namespace

void LaneLayout::build(const std::vector<int>& domainSizes) {
  const int attributes = static_cast<int>(domainSizes.size());
  std::vector<int> offsets(attributes), informative, position(attributes, -1);
  int slots = 0;
  for (int a = 0; a < attributes; ++a) {
    offsets[a] = slots;
    slots += domainSizes[a];
    if (domainSizes[a] == 1) continue;
    position[a] = static_cast<int>(informative.size());
    informative.push_back(a);
  }
  std::vector<int> order = informative;
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return domainSizes[x] > domainSizes[y]; });
  long long wideCells = 0;
  for (std::size_t i = 0; i < order.size(); i += kWideLanes)
    wideCells += static_cast<long long>(kWideLanes) * domainSizes[order[i]];
  width = wideCells <= 2LL * slots + kSpareCells ? kWideLanes : 1;
  if (width == 1) order = informative;

  const int bandCount = (static_cast<int>(order.size()) + width - 1) / width;
  bands.assign(bandCount, {0, 0});
  cellOfSlot.assign(slots, -1);
  laneOfAttribute.assign(informative.size(), -1);
  offsetOfLane.assign(static_cast<std::size_t>(bandCount) * width, -1);
  cells = 0;
  for (int b = 0; b < bandCount; ++b) {
    LaneBand& band = bands[b];
    // One lane a band keeps the slot layout itself: the cell of a slot is the slot.
    band.start = width == 1 ? offsets[order[b]] : cells;
    band.domain = domainSizes[order[b * width]];
    for (int l = 0; l < width && b * width + l < static_cast<int>(order.size()); ++l) {
      const int a = order[b * width + l];
      const int lane = b * width + l;
      laneOfAttribute[position[a]] = lane;
      offsetOfLane[lane] = offsets[a];
      for (int v = 0; v < domainSizes[a]; ++v)
        cellOfSlot[offsets[a] + v] = band.start + v * width + l;
    }
    cells = width == 1 ? slots : cells + band.domain * width;
  }
  if (width == 1) cells = slots;
}

void buildLaneTable(const LaneLayout& layout, const LaneCounts& in, float* table) {
  if (layout.width == 1) return buildNarrow(layout, in, table);
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors()) return buildWide(layout, in, table);
#endif
  buildBase(layout, in, table);
}

void laneUnionWithRow(const LaneLayout& layout, const LaneCounts& in, const int* codes,
                      float* acc) {
  if (layout.width == 1) return unionNarrow(layout, in, codes, acc);
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors()) return unionWide(layout, in, codes, acc);
#endif
  unionBase(layout, in, codes, acc);
}

void tableSums(const float* const* tables, int count, const int* cells, const float* weights,
               int width, float* sums) {
  // Spare lanes repeat the first table; their sums are dropped.
  const float* lanes[kTableLanes];
  for (int j = 0; j < kTableLanes; ++j) lanes[j] = tables[j < count ? j : 0];
  float out[kTableLanes];
  switch ((count + 3) / 4) {
    case 1:
      tableDispatch<1>(lanes, cells, weights, width, out);
      break;
    case 2:
      tableDispatch<2>(lanes, cells, weights, width, out);
      break;
    case 3:
      tableDispatch<3>(lanes, cells, weights, width, out);
      break;
    default:
      tableDispatch<4>(lanes, cells, weights, width, out);
      break;
  }
  std::copy(out, out + count, sums);
}

}  // namespace kelbow
