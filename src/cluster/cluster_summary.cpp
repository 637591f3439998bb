#include "cluster/cluster_summary.h"

#include <cstdlib>

#include "common/error.h"
#include "input/attribute_context.h"

namespace kelbow {

ClusterSummary::ClusterSummary(int attributeCount, int singleValuedCount, const int* domainSizes,
                               const float* logTable) {
  if (gValueCount == 0) {
    gAttributeCount = attributeCount;
    gDomainSizes = domainSizes;
    gLogTable = logTable;
    int sum = 0;
    for (int a = 0; a < attributeCount; ++a) sum += domainSizes[a];
    gValueCount = sum;
  }
  informativeCount = attributeCount - singleValuedCount;
  counts.assign(gValueCount, 0);
  scratchCounts.resize(gValueCount);
}

ClusterSummary& ClusterSummary::operator=(const ClusterSummary& other) {
  if (this == &other) return *this;
  storedEntropy = other.storedEntropy;
  scratchSum = other.scratchSum;
  counts = other.counts;
  rowCount = other.rowCount;
  informativeCount = other.informativeCount;
  id = other.id;
  members = other.members;
  return *this;
}

void ClusterSummary::initFromRow(const int* codes, int rowNumber) {
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    counts[offset + codes[a]] = 1;
    offset += gDomainSizes[a];
  }
  rowCount = 1;
  id = rowNumber;
  members.clear();
  members.insert(rowNumber);
}

void ClusterSummary::initFromCounts(const int* table, int n, int newId) {
  counts.assign(table, table + gValueCount);
  rowCount = n;
  id = newId;
  storedEntropy = 0.0f;
  storedEntropy = static_cast<float>(entropy());
  members.clear();
  members.insert(newId);
}

void ClusterSummary::merge(const ClusterSummary& other, float cost) {
  for (int s = 0; s < gValueCount; ++s) counts[s] = counts[s] + other.counts[s];
  rowCount = rowCount + other.rowCount;
  // Kept as a sum rather than recounted: (cost + E(other)) + E(this), rounded once.
  storedEntropy = static_cast<float>((static_cast<double>(cost) + other.storedEntropy) + storedEntropy);
  members.insert(other.members.begin(), other.members.end());
}

void ClusterSummary::markAbsorbed() {
  id = -1;
  members.clear();
}

std::vector<int> ClusterSummary::labels() const {
  if (static_cast<int>(members.size()) != rowCount) fatal("labels and rows unmatched");
  return std::vector<int>(members.begin(), members.end());
}

void ClusterSummary::assignLabel(std::vector<int>& labelTable, int label) const {
  for (int r : labels()) labelTable[r] = label;
}

void ClusterSummary::addRow(const int* codes, int rowNumber) {
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    ++counts[offset + codes[a]];
    offset += gDomainSizes[a];
  }
  ++rowCount;
  members.insert(rowNumber);
  storedEntropy = 0.0f;
}

void ClusterSummary::removeRow(const int* codes, int rowNumber) {
  if (!members.erase(rowNumber)) fatal("the item is not in the cluster");
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    if (--counts[offset + codes[a]] < 0) fatal("error: removing item from summary\n");
    offset += gDomainSizes[a];
  }
  --rowCount;
  storedEntropy = 0.0f;
}

int ClusterSummary::randomMember() const {
  const int k = std::rand() % static_cast<int>(members.size());
  return members[static_cast<std::size_t>(k)];
}

float ClusterSummary::rowProbability(const int* codes) const {
  float p = 1.0f;
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    p = static_cast<float>(static_cast<double>(counts[offset + codes[a]]) / rowCount * p);
    offset += gDomainSizes[a];
  }
  return p;
}

double ClusterSummary::squaredCountsPerRow() const {
  float s = 0.0f;
  for (int slot = 0; slot < gValueCount; ++slot) {
    const double c = counts[slot];
    s = static_cast<float>(c * c + s);
  }
  return static_cast<double>(s) / rowCount;
}

}  // namespace kelbow
