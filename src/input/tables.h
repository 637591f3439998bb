// The per-attribute weights and the base-2 logarithm table: computed once per
// load, so that the entropy code never calls a logarithm itself.
#pragma once

#include <vector>

namespace kelbow {

// 1 / log2 d, rounded once to single precision; 0 for a one-valued attribute.
float attributeWeight(int domainSize);

// Weights of all attributes, in attribute order.
std::vector<float> attributeWeights(const std::vector<int>& domainSizes);

// log2 k for k = 0 .. maxCount, each rounded once to single precision; entry 0 is 0.
std::vector<float> logTable(int maxCount);

// Extends `table` so that it covers every count up to maxCount; existing entries stay.
void extendLogTable(std::vector<float>& table, int maxCount);

// log2 of a count exactly as a log table holds it (ln k / ln 2 in double,
// rounded once to single precision; 0 for k = 0), for counts of any size with
// memory that does not grow with the number of rows: counts below
// kLog2CacheSize come from a table filled once per process, larger ones are
// computed with the same expression.
inline constexpr int kLog2CacheSize = 1 << 16;
float log2Computed(int k);
// The table lives in static storage: filling it before main allocates
// nothing, so no tool can fail before it starts.
struct Log2Cache {
  Log2Cache();
  float values[kLog2CacheSize];
};
extern const Log2Cache gLog2Cache;
inline float log2Count(int k) {
  return k < kLog2CacheSize ? gLog2Cache.values[static_cast<unsigned>(k)] : log2Computed(k);
}

}  // namespace kelbow
