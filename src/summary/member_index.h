// Which data rows each leaf entry of the summary tree stands for: the entries
// carry only value counts, so the tree records here, for every row, the id of
// the leaf entry the row went to, and reads it back when the leaf entries
// become starting clusters. Four bytes a row, held in fixed-size blocks so that
// growing never copies what is held.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace kelbow {

class MemberIndex {
 public:
  MemberIndex() = default;
  virtual ~MemberIndex() = default;
  MemberIndex(MemberIndex&&) = default;
  MemberIndex& operator=(MemberIndex&&) = default;

  // Records that `row` belongs to entry `id`; a later call for the same row
  // replaces the earlier one (a row that comes back through re-insertion and is
  // absorbed belongs to the absorbing entry). Rows not yet recorded read -1.
  void add(int row, int id);

  // The entry of `row` (-1 when it was never recorded).
  int entryOf(int row) const {
    return row < size_ ? blocks_[static_cast<std::size_t>(row) >> kBlockBits][row & kBlockMask]
                       : -1;
  }
  // Replaces the entry of `row` in place (row already recorded).
  void set(int row, int id) {
    blocks_[static_cast<std::size_t>(row) >> kBlockBits][row & kBlockMask] = id;
  }

  // One past the highest row recorded.
  int size() const { return size_; }

  // Replaces `rows` with the rows recorded under `id`, ascending, and returns
  // their number (a scan of every row). An unknown id is reported on standard
  // error (the process goes on) and yields no rows.
  int rowsOf(int id, std::vector<int>& rows) const;

 private:
  static constexpr int kBlockBits = 16;
  static constexpr int kBlockMask = (1 << kBlockBits) - 1;
  std::vector<std::unique_ptr<int[]>> blocks_;
  int size_ = 0;
};

}  // namespace kelbow
