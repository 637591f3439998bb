#include "profile/cluster_profile.h"

#include <algorithm>

namespace kelbow {

namespace {

// Above this many cells the counts are kept per cluster in hash maps.
constexpr long long kDenseCells = 1 << 24;

double pairs(long long n) { return static_cast<double>(n) * static_cast<double>(n - 1) / 2; }

}  // namespace

ClusterCounts::ClusterCounts(int clusters, const std::vector<int>& domainSizes)
    : domainSizes_(domainSizes), offsets_(domainSizes.size()), sizes_(clusters) {
  for (size_t a = 0; a < domainSizes.size(); ++a) {
    offsets_[a] = slots_;
    slots_ += domainSizes[a];
  }
  overall_.assign(slots_, 0);
  dense_ = static_cast<long long>(clusters) * slots_ <= kDenseCells;
  if (dense_)
    dense_counts_.assign(static_cast<size_t>(clusters) * slots_, 0);
  else
    sparse_.resize(clusters);
}

void ClusterCounts::add(int c, const int* codes) {
  for (size_t a = 0; a < domainSizes_.size(); ++a) {
    const int slot = offsets_[a] + codes[a];
    ++overall_[slot];
    if (dense_)
      ++dense_counts_[static_cast<size_t>(c) * slots_ + slot];
    else
      ++sparse_[c][slot];
  }
  ++sizes_[c];
  ++rows_;
}

long long ClusterCounts::count(int c, int slot) const {
  if (dense_) return dense_counts_[static_cast<size_t>(c) * slots_ + slot];
  auto it = sparse_[c].find(slot);
  return it == sparse_[c].end() ? 0 : it->second;
}

std::vector<ClusterProfile> profileClusters(const ClusterCounts& counts,
                                            const std::vector<std::vector<bool>>& isMissing,
                                            int top) {
  std::vector<ClusterProfile> out;
  const auto& domains = counts.domainSizes();
  const double rows = static_cast<double>(counts.rows());
  for (int c = 0; c < counts.clusters(); ++c) {
    ClusterProfile p;
    p.cluster = c;
    p.size = counts.size(c);
    p.share = p.size / rows;
    std::vector<ValueStanding> candidates;
    for (size_t a = 0; a < domains.size(); ++a) {
      ValueStanding mode{static_cast<int>(a), -1, 0, 0, 0, 0};
      long long missing = 0;
      for (int v = 0; v < domains[a]; ++v) {
        const int slot = counts.slotOf(static_cast<int>(a), v);
        const long long n = counts.count(c, slot);
        if (n == 0) continue;
        if (!isMissing.empty() && isMissing[a][v]) {
          missing += n;
          continue;
        }
        ValueStanding s{static_cast<int>(a),         v, n, n / static_cast<double>(p.size),
                        counts.overall(slot) / rows, 0};
        s.lift = s.share / s.overallShare;
        if (n > mode.count) mode = s;
        if (s.share > s.overallShare) candidates.push_back(s);
      }
      p.modes.push_back(mode);
      if (missing > 0)
        p.missing.push_back(
            {static_cast<int>(a), -1, missing, missing / static_cast<double>(p.size), 0, 0});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const ValueStanding& x, const ValueStanding& y) {
                const double dx = x.share - x.overallShare, dy = y.share - y.overallShare;
                if (dx != dy) return dx > dy;
                if (x.lift != y.lift) return x.lift > y.lift;
                return x.attribute != y.attribute ? x.attribute < y.attribute : x.code < y.code;
              });
    if (static_cast<int>(candidates.size()) > top) candidates.resize(top);
    p.distinctive = std::move(candidates);
    out.push_back(std::move(p));
  }
  return out;
}

double adjustedRandIndex(const std::vector<std::vector<long long>>& table) {
  long long n = 0;
  std::vector<long long> columnSizes;
  double index = 0, rowPairs = 0, columnPairs = 0;
  for (const auto& row : table) {
    if (columnSizes.size() < row.size()) columnSizes.resize(row.size(), 0);
    long long size = 0;
    for (size_t k = 0; k < row.size(); ++k) {
      size += row[k];
      columnSizes[k] += row[k];
      index += pairs(row[k]);
    }
    n += size;
    rowPairs += pairs(size);
  }
  for (long long s : columnSizes) columnPairs += pairs(s);
  const double expected = n < 2 ? 0 : rowPairs * columnPairs / pairs(n);
  const double maximum = (rowPairs + columnPairs) / 2;
  return maximum == expected ? 1.0 : (index - expected) / (maximum - expected);
}

ClassAgreement compareWithClasses(const std::vector<int>& clusterOfRow,
                                  const std::vector<int>& classOfRow, int clusters, int classes) {
  std::vector<std::vector<long long>> table(clusters, std::vector<long long>(classes, 0));
  for (size_t r = 0; r < clusterOfRow.size(); ++r) ++table[clusterOfRow[r]][classOfRow[r]];
  return agreementOf(std::move(table));
}

ClassAgreement agreementOf(std::vector<std::vector<long long>> table) {
  ClassAgreement g;
  g.table = std::move(table);
  long long n = 0;
  for (const auto& row : g.table)
    for (long long cell : row) n += cell;
  long long majority = 0;
  for (const auto& row : g.table)
    majority += row.empty() ? 0 : *std::max_element(row.begin(), row.end());
  g.purity = n == 0 ? 0 : static_cast<double>(majority) / static_cast<double>(n);
  g.adjustedRandIndex = adjustedRandIndex(g.table);
  return g;
}

}  // namespace kelbow
