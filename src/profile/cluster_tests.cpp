#include "profile/cluster_tests.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelbow {

namespace {

// The regularised lower incomplete gamma function P(a, x) by its series, for x < a + 1.
double lowerGammaSeries(double a, double x) {
  double term = 1 / a, sum = term;
  for (int n = 1; n < 1000; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-15) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// The regularised upper incomplete gamma function Q(a, x) by its continued
// fraction (modified Lentz), for x >= a + 1.
double upperGammaFraction(double a, double x) {
  constexpr double kTiny = 1e-300;
  double b = x + 1 - a, c = 1 / kTiny, d = 1 / b, h = d;
  for (int i = 1; i < 1000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-15) break;
  }
  return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

bool missingAt(const std::vector<std::vector<bool>>& isMissing, size_t a, int v) {
  return !isMissing.empty() && isMissing[a][v];
}

}  // namespace

double normalUpperTail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

double chiSquareUpperTail(double x, double degrees) {
  if (!(x > 0)) return 1;
  const double a = degrees / 2, half = x / 2;
  return half < a + 1 ? 1 - lowerGammaSeries(a, half) : upperGammaFraction(a, half);
}

void testValue(long long count, long long size, long long total, long long rows, double& z,
               double& p) {
  z = 0, p = 1;
  if (rows < 2 || size <= 0 || size >= rows || total <= 0 || total >= rows) return;
  const double n = static_cast<double>(size), share = static_cast<double>(total) / rows;
  const double variance = n * share * (1 - share) * (rows - n) / (rows - 1.0);
  z = (count - n * share) / std::sqrt(variance);
  p = normalUpperTail(z);
}

void testDistinctiveValues(const ClusterCounts& counts, std::vector<ClusterProfile>& profiles) {
  for (ClusterProfile& c : profiles)
    for (ValueStanding& s : c.distinctive)
      testValue(s.count, c.size, counts.overall(counts.slotOf(s.attribute, s.code)), counts.rows(),
                s.z, s.pValue);
}

std::vector<VariableSeparation> rankVariables(const ClusterCounts& counts,
                                              const std::vector<std::vector<bool>>& isMissing) {
  const std::vector<int>& domains = counts.domainSizes();
  const int clusters = counts.clusters();
  std::vector<VariableSeparation> out;
  std::vector<long long> known(clusters);  // rows of each cluster with a known value
  for (size_t a = 0; a < domains.size(); ++a) {
    VariableSeparation s;
    s.attribute = static_cast<int>(a);
    std::fill(known.begin(), known.end(), 0);
    long long n = 0;
    int values = 0;
    for (int v = 0; v < domains[a]; ++v) {
      const int slot = counts.slotOf(s.attribute, v);
      if (missingAt(isMissing, a, v) || counts.overall(slot) == 0) continue;
      ++values;
      n += counts.overall(slot);
      for (int c = 0; c < clusters; ++c) known[c] += counts.count(c, slot);
    }
    const int filled = static_cast<int>(
        std::count_if(known.begin(), known.end(), [](long long k) { return k > 0; }));
    if (values > 1 && filled > 1) {
      for (int v = 0; v < domains[a]; ++v) {
        const int slot = counts.slotOf(s.attribute, v);
        if (missingAt(isMissing, a, v) || counts.overall(slot) == 0) continue;
        const double column = static_cast<double>(counts.overall(slot));
        for (int c = 0; c < clusters; ++c) {
          if (known[c] == 0) continue;
          const double expected = known[c] * column / n;
          const double d = counts.count(c, slot) - expected;
          s.chiSquare += d * d / expected;
        }
      }
      s.degrees = (filled - 1) * (values - 1);
      s.pValue = chiSquareUpperTail(s.chiSquare, s.degrees);
      s.cramersV = std::min(1.0, std::sqrt(s.chiSquare / (n * (std::min(filled, values) - 1.0))));
    }
    out.push_back(s);
  }
  std::sort(out.begin(), out.end(), [](const VariableSeparation& x, const VariableSeparation& y) {
    if (x.cramersV != y.cramersV) return x.cramersV > y.cramersV;
    if (x.chiSquare != y.chiSquare) return x.chiSquare > y.chiSquare;
    return x.attribute < y.attribute;
  });
  return out;
}

namespace {

// The heap keeps the least typical kept row on top: a lower score, or a later row.
bool moreTypical(const TypicalRows::Row& x, const TypicalRows::Row& y) {
  return x.score != y.score ? x.score > y.score : x.row < y.row;
}

}  // namespace

namespace {

// Largest clusters x slots table of log shares held; beyond it they are computed row by row.
constexpr long long kLogShareCells = 1 << 20;

}  // namespace

TypicalRows::TypicalRows(const ClusterCounts& counts, int keep)
    : counts_(counts), keep_(keep), best_(counts.clusters()) {
  for (int d : counts.domainSizes()) slots_ += d;
  if (keep <= 0 || static_cast<long long>(slots_) * counts.clusters() > kLogShareCells) return;
  logShare_.resize(static_cast<size_t>(slots_) * counts.clusters());
  for (int c = 0; c < counts.clusters(); ++c)
    for (int slot = 0; slot < slots_; ++slot)
      logShare_[static_cast<size_t>(c) * slots_ + slot] =
          std::log(std::max<long long>(counts.count(c, slot), 1) /
                   static_cast<double>(std::max<long long>(counts.size(c), 1)));
}

void TypicalRows::add(long long row, int c, const int* codes) {
  if (keep_ <= 0) return;
  const std::vector<int>& domains = counts_.domainSizes();
  const double size = static_cast<double>(counts_.size(c));
  double sum = 0;
  for (size_t a = 0; a < domains.size(); ++a) {
    const int slot = counts_.slotOf(static_cast<int>(a), codes[a]);
    if (!logShare_.empty()) {
      sum += logShare_[static_cast<size_t>(c) * slots_ + slot];
      continue;
    }
    // The row itself is counted, so the count is at least 1 whenever the counts hold it.
    sum += std::log(std::max<long long>(counts_.count(c, slot), 1) / size);
  }
  Row candidate{row, domains.empty() ? 0 : sum / static_cast<double>(domains.size()), {}};
  std::vector<Row>& heap = best_[c];
  const bool full = static_cast<int>(heap.size()) >= keep_;
  if (full && !moreTypical(candidate, heap.front())) return;
  candidate.codes.assign(codes, codes + domains.size());
  if (full) {
    std::pop_heap(heap.begin(), heap.end(), moreTypical);
    heap.back() = std::move(candidate);
  } else {
    heap.push_back(std::move(candidate));
  }
  std::push_heap(heap.begin(), heap.end(), moreTypical);
}

std::vector<TypicalRows::Row> TypicalRows::of(int c) const {
  std::vector<Row> rows = best_[c];
  std::sort(rows.begin(), rows.end(), moreTypical);
  return rows;
}

}  // namespace kelbow
