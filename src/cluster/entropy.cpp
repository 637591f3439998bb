// The cost model of the agglomeration: the entropy value of a cluster and of the
// union of two clusters, from their count tables.
//
// Every accumulation step is evaluated in double precision and rounded to single
// precision when stored, in a fixed order (attributes in order, codes in order,
// zero counts skipped), so that every value is reproducible to the last bit.
#include <algorithm>

#include "cluster/cluster_summary.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {

double ClusterSummary::weightedEntropy(const int* table, int n) {
  const double rowLog = log2Count(n);
  scratchSum = 0.0f;
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    const int d = gDomainSizes[a];
    if (d != 1) {  // a one-valued attribute carries no information, whatever its weight
      float acc = 0.0f;
      for (int v = 0; v < d; ++v) {
        const int k = table[offset + v];
        if (k != 0)
          acc = static_cast<float>(
              static_cast<double>(k) * (static_cast<double>(log2Count(k)) - rowLog) + acc);
      }
      acc = static_cast<float>(static_cast<double>(acc) * gWeights[a]);
      scratchSum = static_cast<float>(static_cast<double>(acc) + scratchSum);
    }
    offset += d;
  }
  return -static_cast<double>(scratchSum) / informativeCount;
}

double ClusterSummary::entropy() {
  if (storedEntropy > 0.0f) return storedEntropy;
  if (rowCount < 2) return storedEntropy;
  return weightedEntropy(counts.data(), rowCount);
}

double ClusterSummary::unionEntropy(const ClusterSummary& other) {
  for (int s = 0; s < gValueCount; ++s) scratchCounts[s] = counts[s] + other.counts[s];
  return weightedEntropy(scratchCounts.data(), rowCount + other.rowCount);
}

double ClusterSummary::entropyWithRow(const int* codes) {
  std::copy(counts.begin(), counts.end(), scratchCounts.begin());
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    scratchCounts[offset + codes[a]] = counts[offset + codes[a]] + 1;
    offset += gDomainSizes[a];
  }
  return weightedEntropy(scratchCounts.data(), rowCount + 1);
}

}  // namespace kelbow
