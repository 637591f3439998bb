// The plain copy of a summary entry that waits in the tree's re-insertion list.
// The list that holds it owns it; its count table goes with it.
#pragma once

#include <vector>

namespace kelbow {

struct EntryRecord {
  int id = 0;          // row number of a data entry, block number of a son otherwise
  int valueCount = 0;  // length of counts
  int level = 0;       // 0 for a data entry
  int n = 0;           // rows summarised
  std::vector<int> counts;
  std::vector<int> rowSlots;  // value slot per attribute of a one-row data entry, else empty
};

}  // namespace kelbow
