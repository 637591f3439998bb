// The member rows of a cluster: row numbers in ascending order, each once.
// Held in a sorted vector, so a cluster costs four bytes per row and merging two
// clusters is one linear pass; only the large table's clusters hold many rows.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace kelbow {

class MemberSet {
 public:
  using const_iterator = std::vector<int>::const_iterator;

  MemberSet() = default;
  MemberSet(std::initializer_list<int> rows) { insert(rows.begin(), rows.end()); }

  // Adds one row; a row already present is not added again.
  void insert(int row) {
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), row);
    if (at == rows_.end() || *at != row) rows_.insert(at, row);
  }
  // Adds rows given in any order.
  template <class It>
  void insert(It first, It last) {
    const auto old = static_cast<std::ptrdiff_t>(rows_.size());
    rows_.insert(rows_.end(), first, last);
    std::sort(rows_.begin() + old, rows_.end());
    std::inplace_merge(rows_.begin(), rows_.begin() + old, rows_.end());
    rows_.erase(std::unique(rows_.begin(), rows_.end()), rows_.end());
  }
  // Removes a row; false when it is not a member.
  bool erase(int row) {
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), row);
    if (at == rows_.end() || *at != row) return false;
    rows_.erase(at);
    return true;
  }
  bool contains(int row) const { return std::binary_search(rows_.begin(), rows_.end(), row); }
  void clear() {
    rows_.clear();
    rows_.shrink_to_fit();  // a cluster merged away keeps no memory for its rows
  }

  bool empty() const { return rows_.empty(); }
  std::size_t size() const { return rows_.size(); }
  const_iterator begin() const { return rows_.begin(); }
  const_iterator end() const { return rows_.end(); }
  int operator[](std::size_t i) const { return rows_[i]; }
  bool operator==(const MemberSet& other) const = default;

 private:
  std::vector<int> rows_;
};

}  // namespace kelbow
