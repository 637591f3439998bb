// The cost model of the agglomeration: the entropy value of a cluster and of the
// union of two clusters, from their count lists.
//
// Every accumulation step is evaluated in double precision and rounded to single
// precision when stored, in a fixed order (attributes in order, codes in order,
// zero counts skipped), so that every value is reproducible to the last bit.
// The lists hold only non-zero counts, so walking them in slot order visits
// exactly the slots that contribute, in the order the sum takes them.
#include <climits>
#include <vector>

#include "cluster/cluster_summary.h"
#include "cluster/entropy_terms.h"
#include "input/attribute_context.h"

namespace kelbow {

namespace {

// S of the union of two count lists (either may be empty) of n rows in all.
float weightedSum(const SlotCount* a, const SlotCount* aEnd, const SlotCount* b,
                  const SlotCount* bEnd, int n) {
  const double rowLog = log2Count(n);
  float sum = 0.0f;
  int end = 0;
  for (int t = 0; t < gAttributeCount; ++t) {
    const int d = gDomainSizes[t];
    end += d;
    if (d == 1) {  // a one-valued attribute carries no information, whatever its weight
      while (a != aEnd && a->slot < end) ++a;
      while (b != bEnd && b->slot < end) ++b;
      continue;
    }
    float acc = 0.0f;
    for (;;) {
      const int sa = a != aEnd ? a->slot : INT_MAX;
      const int sb = b != bEnd ? b->slot : INT_MAX;
      const int slot = sa < sb ? sa : sb;
      if (slot >= end) break;
      int k = 0;
      if (sa == slot) k += (a++)->count;
      if (sb == slot) k += (b++)->count;
      if (k != 0) acc = addCountTerm(acc, k, rowLog);
    }
    sum = addToSum(weightAttribute(acc, gWeights[t]), sum);
  }
  return sum;
}

}  // namespace

double ClusterSummary::entropy() {
  if (storedEntropy > 0.0f) return storedEntropy;
  if (rowCount < 2) return storedEntropy;
  const SlotCount* c = counts_.data();
  scratchSum = weightedSum(c, c + counts_.size(), nullptr, nullptr, rowCount);
  return -static_cast<double>(scratchSum) / informativeCount;
}

float ClusterSummary::unionSum(const ClusterSummary& other) const {
  const SlotCount* c = counts_.data();
  const SlotCount* o = other.counts_.data();
  return weightedSum(c, c + counts_.size(), o, o + other.counts_.size(), rowCount + other.rowCount);
}

double ClusterSummary::unionEntropy(const ClusterSummary& other) {
  scratchSum = unionSum(other);
  return -static_cast<double>(scratchSum) / informativeCount;
}

double ClusterSummary::entropyWithRow(const int* codes) {
  std::vector<SlotCount> row(gAttributeCount);
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    row[a] = {offset + codes[a], 1};
    offset += gDomainSizes[a];
  }
  const SlotCount* c = counts_.data();
  scratchSum =
      weightedSum(c, c + counts_.size(), row.data(), row.data() + row.size(), rowCount + 1);
  return -static_cast<double>(scratchSum) / informativeCount;
}

}  // namespace kelbow
