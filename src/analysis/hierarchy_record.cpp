#include <cstdint>
#include <cstring>
#include <numeric>

#include "analysis/hierarchy.h"

namespace kelbow {

namespace {

constexpr std::string_view kRecordHead = "kelbow run record 1\n";
constexpr int kCurveEntries = 40;

template <typename T>
void put(std::string& out, T v) {
  char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);
  out.append(bytes, sizeof v);
}

// Reads the values of a record in order, refusing to run past its end.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  template <typename T>
  bool get(T& v) {
    if (bytes_.size() - at_ < sizeof v) return false;
    std::memcpy(&v, bytes_.data() + at_, sizeof v);
    at_ += sizeof v;
    return true;
  }
  std::size_t left() const { return bytes_.size() - at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

}  // namespace

std::string Hierarchy::record() const {
  std::string out(kRecordHead);
  const int n = startCount();
  out.reserve(out.size() + 16 + kCurveEntries * 4 + merges_.size() * 12 +
              static_cast<std::size_t>(rowCount_) * 4);
  put<std::int32_t>(out, rowCount_);
  put<std::int32_t>(out, n);
  put<std::int32_t>(out, static_cast<std::int32_t>(merges_.size()));
  for (int i = 0; i < kCurveEntries; ++i) put<float>(out, curve_[i]);
  for (const MergeStep& m : merges_) {
    put<std::int32_t>(out, m.survivor);
    put<std::int32_t>(out, m.absorbed);
    put<float>(out, m.cost);
  }
  for (int r = 0; r < rowCount_; ++r) put<std::int32_t>(out, startOfRow(r));
  return out;
}

bool Hierarchy::fromRecord(std::string_view bytes, Hierarchy& h, std::string& err) {
  if (!bytes.starts_with(kRecordHead)) {
    err = "not a run record of this version (it should start with \"kelbow run record 1\")";
    return false;
  }
  Cursor in(bytes.substr(kRecordHead.size()));
  std::int32_t rows = 0, n = 0, merges = 0;
  if (!in.get(rows) || !in.get(n) || !in.get(merges) || rows < 0 || n < 0 || n > rows ||
      (rows > 0 && n == 0) || merges < 0 || merges > std::max(0, n - 1)) {
    err = "the record's counts are cut or out of range";
    return false;
  }
  const std::size_t want = kCurveEntries * 4 + static_cast<std::size_t>(merges) * 12 +
                           static_cast<std::size_t>(rows) * 4;
  if (in.left() != want) {
    err = "the record holds " + std::to_string(in.left()) + " bytes after its counts, not " +
          std::to_string(want) + " (cut or padded)";
    return false;
  }
  Hierarchy out;
  out.rowCount_ = rows;
  out.direct_ = false;
  for (int i = 0; i < kCurveEntries; ++i) in.get(out.curve_[i]);
  std::vector<bool> absorbed(n, false);
  out.merges_.resize(merges);
  for (MergeStep& m : out.merges_) {
    std::int32_t s = 0, a = 0;
    in.get(s), in.get(a), in.get(m.cost);
    if (s < 0 || s >= n || a < 0 || a >= n || s == a || absorbed[s] || absorbed[a]) {
      err = "merge " + std::to_string(&m - out.merges_.data() + 1) +
            " joins clusters that are not both live";
      return false;
    }
    absorbed[a] = true;
    m.survivor = s, m.absorbed = a;
  }
  out.startTable_.resize(rows);
  out.startSizes_.assign(n, 0);
  out.startFirstRow_.assign(n, -1);
  for (int r = 0; r < rows; ++r) {
    std::int32_t s = 0;
    in.get(s);
    if (s < 0 || s >= n) {
      err = "row " + std::to_string(r + 1) + " has the starting cluster " + std::to_string(s) +
            " of " + std::to_string(n);
      return false;
    }
    out.startTable_[r] = s;
    if (out.startSizes_[s]++ == 0) out.startFirstRow_[s] = r;
  }
  for (int s = 0; s < n; ++s)
    if (out.startSizes_[s] == 0) {
      err = "starting cluster " + std::to_string(s) + " has no row";
      return false;
    }
  // A record of the direct road is every row its own starting cluster.
  if (n == rows) {
    std::vector<int> identity(rows);
    std::iota(identity.begin(), identity.end(), 0);
    if (out.startTable_ == identity) out.direct_ = true, out.startTable_.clear();
  }
  h = std::move(out);
  return true;
}

}  // namespace kelbow
