// Which data rows each leaf entry of the summary tree stands for: the entries
// carry only value counts, so the rows are recorded here by entry id and read
// back when the leaf entries become starting clusters.
#pragma once

#include <map>
#include <vector>

namespace kelbow {

class MemberIndex {
 public:
  MemberIndex() = default;
  virtual ~MemberIndex() = default;

  // Appends `row` to the list of entry `id`, creating the list for a new id.
  // Duplicates are kept.
  void add(int row, int id);

  // True when `id` has a list, i.e. its row was registered as a data entry.
  bool contains(int id) const { return lists_.count(id) != 0; }

  // Replaces `rows` with the rows listed for `id`, in the order they were added,
  // and returns their number. An unknown id is reported on standard error (the
  // process goes on) and yields no rows.
  int rowsOf(int id, std::vector<int>& rows) const;

 private:
  std::map<int, std::vector<int>> lists_;
};

}  // namespace kelbow
