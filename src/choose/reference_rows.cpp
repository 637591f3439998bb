#include "choose/reference_rows.h"

namespace kelbow {

ReferenceRows::ReferenceRows(const std::vector<std::vector<long long>>& counts, long long rows,
                             std::uint64_t seed, std::string name)
    : rows_(rows), random_{seed}, name_(std::move(name)) {
  columns_.resize(counts.size());
  for (std::size_t a = 0; a < counts.size(); ++a) {
    const std::vector<long long>& c = counts[a];
    Column& col = columns_[a];
    const int d = static_cast<int>(c.size());
    col.tree.assign(d + 1, 0);
    long long sum = 0;
    for (int v = 0; v < d; ++v) {
      sum += c[v];
      for (int i = v + 1; i <= d; i += i & -i) col.tree[i] += c[v];
    }
    while (col.top * 2 <= d) col.top *= 2;
    if (a == 0) total_ = sum;
  }
  if (rows_ > total_) rows_ = total_;
}

int ReferenceRows::draw(Column& c, long long left) {
  // The value holding the u-th of the `left` remaining rows, found by walking
  // down the tree; its count then falls by one.
  long long u = static_cast<long long>(random_.below(static_cast<std::uint64_t>(left)));
  int at = 0;
  const int d = static_cast<int>(c.tree.size()) - 1;
  for (int step = c.top; step > 0; step /= 2) {
    const int next = at + step;
    if (next <= d && c.tree[next] <= u) {
      at = next;
      u -= c.tree[next];
    }
  }
  for (int i = at + 1; i <= d; i += i & -i) --c.tree[i];
  return at;
}

RowSource::Result ReferenceRows::read(int* codes, std::string& /*err*/) {
  if (made_ >= rows_) return Result::kEnd;
  const long long left = total_ - made_;
  for (std::size_t a = 0; a < columns_.size(); ++a) codes[a] = draw(columns_[a], left);
  ++made_;
  return Result::kRecord;
}

}  // namespace kelbow
