#include "summary/entry_lanes.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "common/vector_isa.h"

#if KELBOW_HAS_WIDE_BUILD
#include <immintrin.h>
#endif

namespace kelbow {

namespace {

// A band of four lanes is taken unless its padding would more than double the
// cells of a table (a few attributes of very large domains among small ones).
constexpr int kWideLanes = 4;
constexpr int kSpareCells = 64;

#define KELBOW_LANE_KERNELS "summary/entry_lanes_kernels.inc"
#include "common/lane_builds.inc"
#undef KELBOW_LANE_KERNELS

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
  const LaneBand* bands = layout.bands.data();
  const int count = static_cast<int>(layout.bands.size());
  if (layout.width == 1) return base::buildBands<1>(bands, count, in, table);
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors()) return wide::buildBands<kWideLanes>(bands, count, in, table);
#endif
  base::buildBands<kWideLanes>(bands, count, in, table);
}

void laneUnionWithRow(const LaneLayout& layout, const LaneCounts& in, const int* codes,
                      float* acc) {
  const LaneBand* bands = layout.bands.data();
  const int count = static_cast<int>(layout.bands.size());
  if (layout.width == 1) return base::unionBands<1>(bands, count, in, codes, acc);
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors()) return wide::unionBands<kWideLanes>(bands, count, in, codes, acc);
#endif
  base::unionBands<kWideLanes>(bands, count, in, codes, acc);
}

void tableSums(const float* const* tables, int count, const int* cells, const float* weights,
               int width, float* sums) {
#if KELBOW_HAS_WIDE_BUILD
  if (wideVectors())
    wide::tableSumsOf(tables, count, cells, weights, width, sums);
  else
#endif
    base::tableSumsOf(tables, count, cells, weights, width, sums);
}

}  // namespace kelbow
