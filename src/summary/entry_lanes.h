// The lane layout of an entry's derived tables and the two passes over it.
//
// The informative attributes are dealt into bands of `width` lanes (attributes
// of alike domain sizes side by side); a band of domain d holds, code by code,
// one value per lane: d * width cells, the cell of code v of the attribute in
// lane l at start + v * width + l. Lanes and codes a band's attributes do not
// have hold count 0. Each lane is one attribute's accumulator chain, so a
// vector step over a band is the scalar step of every attribute in it, in the
// same order, with the same rounding.
#pragma once

#include <vector>

namespace kelbow {

struct LaneBand {
  int start;   // first cell
  int domain;  // largest domain of the band's attributes
};

struct LaneLayout {
  // Deals the informative attributes of these domain sizes into bands.
  void build(const std::vector<int>& domainSizes);

  int width = 1;  // lanes of a band: 4, or 1 when padding would cost too much
  int cells = 0;  // cells of a table in this layout
  std::vector<LaneBand> bands;
  std::vector<int> cellOfSlot;  // per value slot; -1 for a one-valued attribute
  // Per informative attribute, in attribute order: its lane among all bands'
  // lanes (band * width + lane), where the per-lane results of a pass land.
  std::vector<int> laneOfAttribute;
  std::vector<int> offsetOfLane;  // per lane: the attribute's first value slot; -1 when unused
};

// An entry's counts with log2 c and log2 (c + 1) of every cell, and log2 of
// its row count plus one.
struct LaneCounts {
  const int* counts;
  const float* logCount;
  const float* logBump;
  double rowLog;
};

// Fills table: every cell of code v gets its attribute's accumulator for the
// union with one more row of code v (the entry's non-zero counts in code order,
// the count of v one higher), each step rounded to single precision.
void buildLaneTable(const LaneLayout& layout, const LaneCounts& in, float* table);

// acc[lane] = the lane's attribute's accumulator for the union with one more
// row whose code in every lane is codes[lane] (-1 for an unused lane).
void laneUnionWithRow(const LaneLayout& layout, const LaneCounts& in, const int* codes, float* acc);

// Entries whose row tables one call of tableSums evaluates side by side.
inline constexpr int kTableLanes = 20;

// For j < count (at most kTableLanes): sums[j] = the weighted sum of the cells
// cells[0 .. width - 1] of tables[j], added in that order with weights[t]:
// sum + table[cell] * weight in double, rounded to single precision each step.
// The lanes run in fours: tables must hold readable tables up to count rounded
// up to four (the spare ones' sums are not used), and sums room for as many.
void tableSums(const float* const* tables, int count, const int* cells, const float* weights,
               int width, float* sums);

}  // namespace kelbow
