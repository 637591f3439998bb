#include "csv/value_bins.h"

#include <algorithm>
#include <cmath>

#include "csv/cell_syntax.h"

namespace kelbow {

void ValueDistribution::add(double v, long long count) {
  if (count_ == 0) min_ = max_ = v;
  min_ = std::min(min_, v);
  max_ = std::max(max_, v);
  integers_ = integers_ && v == std::floor(v);
  if (!levels_.empty()) {
    for (long long i = 0; i < count; ++i) {
      ++count_;
      levels_[0].push_back(v);
      if (levels_[0].size() >= kSketchBuffer) compact(0);
    }
    return;
  }
  count_ += count;
  exact_[v == 0 ? 0.0 : v] += count;  // -0 and 0 are one value
  if (exact_.size() <= kExactValues) return;
  // Too many distinct values: the counts go into the sketch, in value order
  // so that the sketch does not depend on the hash table's order. A count is
  // split into its binary digits, one value on each level of that weight.
  std::vector<std::pair<double, long long>> sorted(exact_.begin(), exact_.end());
  std::sort(sorted.begin(), sorted.end());
  exact_.clear();
  levels_.resize(1);
  takeOdd_.assign(1, 0);
  for (const auto& [value, n] : sorted)
    for (size_t level = 0; (n >> level) != 0; ++level) {
      if ((n >> level) & 1) {
        if (levels_.size() <= level) levels_.resize(level + 1), takeOdd_.resize(level + 1, 0);
        levels_[level].push_back(value);
      }
    }
  for (size_t level = 0; level < levels_.size(); ++level)
    if (levels_[level].size() >= kSketchBuffer) compact(level);
}

void ValueDistribution::compact(size_t level) {
  std::sort(levels_[level].begin(), levels_[level].end());
  if (levels_.size() == level + 1) levels_.emplace_back(), takeOdd_.push_back(0);
  std::vector<double>& up = levels_[level + 1];
  std::vector<double>& here = levels_[level];
  // An even number of values is halved, so that the weights still add up to
  // the count; an odd one out (the largest) stays on its level.
  const size_t halved = here.size() & ~size_t{1};
  for (size_t i = takeOdd_[level]; i < halved; i += 2) up.push_back(here[i]);
  takeOdd_[level] ^= 1;
  here.erase(here.begin(), here.begin() + static_cast<long>(halved));
  if (up.size() >= kSketchBuffer) compact(level + 1);
}

bool ValueDistribution::consecutiveIntegers() const {
  return exact() && integers_ && count_ > 0 && static_cast<long long>(exact_.size()) == count_ &&
         max_ - min_ + 1 == static_cast<double>(count_);
}

std::vector<std::pair<double, long long>> ValueDistribution::weighted() const {
  std::vector<std::pair<double, long long>> out;
  if (exact()) {
    out.assign(exact_.begin(), exact_.end());
  } else {
    for (size_t level = 0; level < levels_.size(); ++level)
      for (double v : levels_[level]) out.emplace_back(v, 1LL << level);
  }
  std::sort(out.begin(), out.end());
  size_t kept = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (kept > 0 && out[kept - 1].first == out[i].first) {
      out[kept - 1].second += out[i].second;
    } else {
      out[kept++] = out[i];
    }
  }
  out.resize(kept);
  return out;
}

ValueBins::ValueBins(double min, double max, std::vector<double> edges,
                     std::vector<std::string> edgeTexts)
    : minText_(numberLabel(min)),
      maxText_(numberLabel(max)),
      edges_(std::move(edges)),
      edgeTexts_(std::move(edgeTexts)) {}

ValueBins ValueBins::quantiles(const ValueDistribution& values, int bins) {
  const std::vector<std::pair<double, long long>> w = values.weighted();
  long long total = 0;
  for (const auto& [v, n] : w) total += n;
  std::vector<double> edges;
  std::vector<std::string> texts;
  long long below = 0;  // weight of the values before w[i]
  size_t i = 0;
  for (int j = 1; j < bins; ++j) {
    // The first value with at least j / bins of the weight below it.
    const double target = static_cast<double>(total) * j / bins;
    while (i < w.size() && static_cast<double>(below) < target) below += w[i++].second;
    if (i == 0 || i >= w.size()) continue;
    std::string text;
    const double edge = roundBetween(w[i - 1].first, w[i].first, text);
    if (!edges.empty() && edge <= edges.back()) continue;
    edges.push_back(edge);
    texts.push_back(text);
  }
  return ValueBins(values.min(), values.max(), std::move(edges), std::move(texts));
}

ValueBins ValueBins::cut(const ValueDistribution& values, const std::vector<double>& cuts,
                         const std::vector<std::string>& cutTexts) {
  std::vector<double> edges;
  std::vector<std::string> texts;
  for (size_t i = 0; i < cuts.size(); ++i)
    if (cuts[i] > values.min() && cuts[i] <= values.max()) {
      edges.push_back(cuts[i]);
      texts.push_back(cutTexts[i]);
    }
  return ValueBins(values.min(), values.max(), std::move(edges), std::move(texts));
}

int ValueBins::binOf(double v) const {
  return static_cast<int>(std::upper_bound(edges_.begin(), edges_.end(), v) - edges_.begin());
}

bool ValueBins::binOfText(std::string_view text, DecimalMark mark, int& bin) const {
  double v = 0;
  if (!parseNumber(text, mark, v)) return false;
  bin = binOf(v);
  return true;
}

std::string ValueBins::label(int bin) const {
  const std::string& low = bin == 0 ? minText_ : edgeTexts_[bin - 1];
  if (bin + 1 == size()) return "[" + low + ", " + maxText_ + "]";
  return "[" + low + ", " + edgeTexts_[bin] + ")";
}

}  // namespace kelbow
