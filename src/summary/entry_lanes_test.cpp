#include "summary/entry_lanes.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace kelbow {
namespace {

// Every informative slot gets its own cell inside the table, in its attribute's
// lane at the code's row of its band; one-valued attributes get none; and the
// layout is four lanes wide unless padding would more than double the table.
TEST(LaneLayout, GivesEveryValueItsOwnCellInItsAttributesLane) {
  struct Case {
    std::vector<int> domains;
    int width;
  };
  const std::vector<Case> cases{
      {{2, 2, 2}, 4},          {{1, 3, 1, 4, 2}, 4}, {std::vector<int>(42, 3), 4},
      {{3, 4, 2, 5, 8, 8}, 4}, {{2000, 3}, 1},       {{2, 9, 1, 17, 5, 64}, 1}};
  for (const Case& c : cases) {
    LaneLayout layout;
    layout.build(c.domains);
    EXPECT_EQ(layout.width, c.width);
    std::set<int> cells;
    int slot = 0, informative = 0;
    for (std::size_t a = 0; a < c.domains.size(); ++a) {
      const int d = c.domains[a];
      if (d == 1) {
        EXPECT_EQ(layout.cellOfSlot[slot++], -1);
        continue;
      }
      const int lane = layout.laneOfAttribute[informative++];
      const LaneBand& band = layout.bands[lane / layout.width];
      EXPECT_EQ(layout.offsetOfLane[lane], slot);
      EXPECT_LE(d, band.domain);
      for (int v = 0; v < d; ++v, ++slot) {
        const int cell = layout.cellOfSlot[slot];
        EXPECT_EQ(cell, band.start + v * layout.width + lane % layout.width);
        EXPECT_LT(cell, layout.cells);
        EXPECT_TRUE(cells.insert(cell).second) << "slot " << slot;
      }
    }
  }
}

}  // namespace
}  // namespace kelbow
