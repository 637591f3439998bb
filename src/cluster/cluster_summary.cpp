#include "cluster/cluster_summary.h"

#include <algorithm>
#include <cstdlib>

#include "common/error.h"
#include "input/attribute_context.h"

namespace kelbow {

namespace {

bool slotBelow(const SlotCount& e, int slot) { return e.slot < slot; }

}  // namespace

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
}

ClusterSummary& ClusterSummary::operator=(const ClusterSummary& other) {
  if (this == &other) return *this;
  storedEntropy = other.storedEntropy;
  scratchSum = other.scratchSum;
  counts_ = other.counts_;
  rowCount = other.rowCount;
  informativeCount = other.informativeCount;
  id = other.id;
  members = other.members;
  return *this;
}

int ClusterSummary::count(int slot) const {
  const auto at = std::lower_bound(counts_.begin(), counts_.end(), slot, slotBelow);
  return at != counts_.end() && at->slot == slot ? at->count : 0;
}

std::vector<int> ClusterSummary::denseCounts() const {
  std::vector<int> table(gValueCount, 0);
  for (const SlotCount& e : counts_) table[e.slot] = e.count;
  return table;
}

void ClusterSummary::setCount(int slot, int count) {
  const auto at = std::lower_bound(counts_.begin(), counts_.end(), slot, slotBelow);
  if (at != counts_.end() && at->slot == slot) {
    if (count != 0)
      at->count = count;
    else
      counts_.erase(at);
  } else if (count != 0) {
    counts_.insert(at, {slot, count});
  }
}

void ClusterSummary::initFromRow(const int* codes, int rowNumber) {
  int offset = 0;
  for (int a = 0; a < gAttributeCount; ++a) {
    // Slots rise with the attribute, so a fresh summary only ever appends.
    const int slot = offset + codes[a];
    if (counts_.empty() || counts_.back().slot < slot)
      counts_.push_back({slot, 1});
    else
      setCount(slot, 1);
    offset += gDomainSizes[a];
  }
  rowCount = 1;
  id = rowNumber;
  members.clear();
  members.insert(rowNumber);
}

void ClusterSummary::initFromCounts(const int* table, int n, int newId) {
  counts_.clear();
  for (int s = 0; s < gValueCount; ++s)
    if (table[s] != 0) counts_.push_back({s, table[s]});
  rowCount = n;
  id = newId;
  storedEntropy = 0.0f;
  storedEntropy = static_cast<float>(entropy());
  members.clear();
  members.insert(newId);
}

void ClusterSummary::merge(const ClusterSummary& other, float cost) {
  // One pass over both sorted lists, adding the counts of the slots they share.
  std::vector<SlotCount> sum;
  sum.reserve(counts_.size() + other.counts_.size());
  auto a = counts_.begin();
  auto b = other.counts_.begin();
  while (a != counts_.end() || b != other.counts_.end()) {
    if (b == other.counts_.end() || (a != counts_.end() && a->slot < b->slot)) {
      sum.push_back(*a++);
    } else if (a == counts_.end() || b->slot < a->slot) {
      sum.push_back(*b++);
    } else {
      sum.push_back({a->slot, a->count + b->count});
      ++a;
      ++b;
    }
  }
  counts_ = std::move(sum);
  rowCount = rowCount + other.rowCount;
  // Kept as a sum rather than recounted: (cost + E(other)) + E(this), rounded once.
  storedEntropy =
      static_cast<float>((static_cast<double>(cost) + other.storedEntropy) + storedEntropy);
  if (!other.members.empty()) members.insert(other.members.begin(), other.members.end());
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
    const int slot = offset + codes[a];
    setCount(slot, count(slot) + 1);
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
    const int slot = offset + codes[a];
    const int left = count(slot) - 1;
    if (left < 0) fatal("error: removing item from summary\n");
    setCount(slot, left);
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
    p = static_cast<float>(static_cast<double>(count(offset + codes[a])) / rowCount * p);
    offset += gDomainSizes[a];
  }
  return p;
}

double ClusterSummary::squaredCountsPerRow() const {
  // A zero slot would add 0 to a sum that is never negative zero: skipping it changes nothing.
  float s = 0.0f;
  for (const SlotCount& e : counts_) {
    const double c = e.count;
    s = static_cast<float>(c * c + s);
  }
  return static_cast<double>(s) / rowCount;
}

}  // namespace kelbow
