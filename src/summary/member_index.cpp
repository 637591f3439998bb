#include "summary/member_index.h"

#include "common/error.h"

namespace kelbow {

void MemberIndex::add(int row, int id) { lists_[id].push_back(row); }

int MemberIndex::rowsOf(int id, std::vector<int>& rows) const {
  rows.clear();
  const auto it = lists_.find(id);
  if (it == lists_.end()) {
    error("the corresponding cluster is not found\n", false);
    return 0;
  }
  rows = it->second;
  return static_cast<int>(rows.size());
}

}  // namespace kelbow
