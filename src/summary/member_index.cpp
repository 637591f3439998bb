#include "summary/member_index.h"

#include "common/error.h"

namespace kelbow {

void MemberIndex::add(int row, int id) {
  while (row >= size_) {
    if ((size_ & kBlockMask) == 0) blocks_.push_back(std::make_unique<int[]>(kBlockMask + 1));
    blocks_.back()[size_ & kBlockMask] = -1;
    ++size_;
  }
  set(row, id);
}

int MemberIndex::rowsOf(int id, std::vector<int>& rows) const {
  rows.clear();
  for (int r = 0; r < size_; ++r)
    if (entryOf(r) == id) rows.push_back(r);
  if (rows.empty()) error("the corresponding cluster is not found\n", false);
  return static_cast<int>(rows.size());
}

}  // namespace kelbow
