#include "summary/summary_entry.h"

#include <algorithm>

#include "summary/cf_tree.h"

namespace kelbow {

namespace {

// The entropy value -S / m of a count table (read through countAt) of n rows:
// per informative attribute, acc collects c * (log2 c - log2 n) over its
// non-zero counts and is stored to single precision after every step; sum then
// takes acc times the attribute's weight, computed in double and stored once
// per attribute.
template <class CountAt>
float entryValue(const CFTree& tree, CountAt countAt, int n) {
  const float* log2 = gTreeLogTable.data();
  const double ln = log2[n];
  float sum = 0.0f;
  int offset = 0;
  for (int a = 0; a < tree.attributeCount; ++a) {
    const int d = tree.domainSizes[a];
    if (d != 1) {
      float acc = 0.0f;
      for (int s = offset; s < offset + d; ++s) {
        const int c = countAt(s);
        if (c != 0) acc = static_cast<float>(acc + c * (static_cast<double>(log2[c]) - ln));
      }
      sum = static_cast<float>(sum + static_cast<double>(acc) * gTreeWeights[a]);
    }
    offset += d;
  }
  const int m = tree.attributeCount - tree.singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

}  // namespace

void SummaryEntry::init(int newValueCount, CFTree* newTree) {
  id = 0;
  n = 0;
  counts.assign(newValueCount, 0);
  valueCount = newValueCount;
  level = 0;
  tree = newTree;
  son = nullptr;
  entropyCache = -1.0f;
}

void SummaryEntry::assign(const SummaryEntry& other) {
  if (this == &other) {
    son = nullptr;
    return;
  }
  valueCount = other.valueCount;
  id = other.id;
  n = other.n;
  counts = other.counts;
  tree = other.tree;
  level = other.level;
  entropyCache = other.entropyCache;
  son = nullptr;
}

CFNode* SummaryEntry::sonNode() {
  if (son == nullptr) son = tree->getNodeInMemory(id);
  return son;
}

float SummaryEntry::entropy() {
  if (n == 1) return 0.0f;
  if (entropyCache > -0.5f) return entropyCache;
  entropyCache = entryValue(
      *tree, [this](int s) { return counts[s]; }, n);
  return entropyCache;
}

float SummaryEntry::unionEntropy(const SummaryEntry& other) const {
  const int* mine = counts.data();
  const int* theirs = other.counts.data();
  return entryValue(
      *tree, [mine, theirs](int s) { return mine[s] + theirs[s]; }, n + other.n);
}

float SummaryEntry::mergeCost(SummaryEntry& other) {
  // Left to right, each difference rounded to single precision.
  const float u = unionEntropy(other);
  const float partial = u - entropy();
  return partial - other.entropy();
}

Closeness SummaryEntry::compare(SummaryEntry& other, float& cost) {
  if (level == 0 && std::equal(counts.begin(), counts.end(), other.counts.begin()))
    return IDENTICAL;
  cost = mergeCost(other);
  return cost < tree->threshold ? CLOSE : FAR;
}

void SummaryEntry::mergeIn(SummaryEntry& other, float cost) {
  const float e0 = entropy();
  for (int s = 0; s < valueCount; ++s) counts[s] += other.counts[s];
  n += other.n;
  // The union's value is known from the cost: (e0 + cost) + E(other), rounded once.
  entropyCache = static_cast<float>((static_cast<double>(e0) + cost) + other.entropy());
}

std::unique_ptr<EntryRecord> SummaryEntry::toRecord() const {
  auto record = std::make_unique<EntryRecord>();
  record->id = id;
  record->valueCount = valueCount;
  record->level = level;
  record->n = n;
  record->counts = counts;
  return record;
}

void SummaryEntry::fromRecord(const EntryRecord& record) {
  id = record.id;
  n = record.n;
  valueCount = record.valueCount;
  counts = record.counts;
  level = record.level;
  son = nullptr;
}

}  // namespace kelbow
