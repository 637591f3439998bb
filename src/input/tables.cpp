#include "input/tables.h"

#include <cmath>

namespace kelbow {

float attributeWeight(int domainSize) {
  if (domainSize == 1) return 0.0f;
  // ln d / ln 2 and its reciprocal in double; one rounding when stored.
  const double log2d = std::log(static_cast<double>(domainSize)) / std::log(2.0);
  return static_cast<float>(1.0 / log2d);
}

std::vector<float> attributeWeights(const std::vector<int>& domainSizes) {
  std::vector<float> weights;
  weights.reserve(domainSizes.size());
  for (int d : domainSizes) weights.push_back(attributeWeight(d));
  return weights;
}

float log2Computed(int k) {
  if (k == 0) return 0.0f;
  return static_cast<float>(std::log(static_cast<double>(k)) / std::log(2.0));
}

void extendLogTable(std::vector<float>& table, int maxCount) {
  if (table.empty()) table.push_back(0.0f);
  for (int k = static_cast<int>(table.size()); k <= maxCount; ++k) table.push_back(log2Computed(k));
}

Log2Cache::Log2Cache() {
  for (int k = 0; k < kLog2CacheSize; ++k) values[k] = log2Computed(k);
}

const Log2Cache gLog2Cache;

std::vector<float> logTable(int maxCount) {
  std::vector<float> table;
  table.reserve(static_cast<std::size_t>(maxCount) + 1);
  extendLogTable(table, maxCount);
  return table;
}

}  // namespace kelbow
