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

}  // namespace kelbow
