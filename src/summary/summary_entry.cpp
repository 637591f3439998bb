#include "summary/summary_entry.h"

#include <algorithm>
#include <climits>

#include "input/tables.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {

// One accumulation term of an attribute: count k of a union of n rows adds
// k * (log2 k - log2 n), in double from the single-precision logarithms.
inline double term(int k, double logRows) {
  return static_cast<double>(k) * (static_cast<double>(log2Count(k)) - logRows);
}

// The entropy value -S / m of a count table (read through countAt) of n rows:
// per informative attribute, acc collects c * (log2 c - log2 n) over its
// non-zero counts and is stored to single precision after every step; sum then
// takes acc times the attribute's weight, computed in double and stored once
// per attribute.
template <class CountAt>
float entryValue(const CFTree& tree, CountAt countAt, int n) {
  const double ln = log2Count(n);
  float sum = 0.0f;
  for (int a : tree.informativeAttributes) {
    const int offset = tree.slotOffsets[a];
    const int end = offset + tree.domainSizes[a];
    float acc = 0.0f;
    for (int s = offset; s < end; ++s) {
      const int c = countAt(s);
      if (c != 0) acc = static_cast<float>(acc + term(c, ln));
    }
    sum = static_cast<float>(sum + static_cast<double>(acc) * gTreeWeights[a]);
  }
  const int m = tree.attributeCount - tree.singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

// log2 (c + 1), the logarithm a count takes when one more row joins. A count of
// INT_MAX holds every row the tool can count, so no row joins it.
inline float log2OfNext(int c) { return c < INT_MAX ? log2Count(c + 1) : 0.0f; }

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
  countsChanged();
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
  rowSlots = other.rowSlots;
  // The logarithms travel with the counts (cheaper than recomputing them for
  // an entry of many rows); a row table is rebuilt when it pays again.
  logsValid_ = other.logsValid_;
  if (logsValid_) {
    logCount_ = other.logCount_;
    logBump_ = other.logBump_;
    logRowsAfter_ = other.logRowsAfter_;
  }
  rowTableValid_ = false;
  usesSinceChange_ = 0;
}

void SummaryEntry::countsChanged() {
  rowSlots.clear();
  logsValid_ = false;
  rowTableValid_ = false;
  usesSinceChange_ = 0;
}

void SummaryEntry::rowAdded(const int* slots) {
  rowSlots.clear();
  rowTableValid_ = false;
  usesSinceChange_ = 0;
  if (!logsValid_) return;
  for (int a = 0; a < tree->attributeCount; ++a) {
    const int s = slots[a];
    logCount_[s] = logBump_[s];
    logBump_[s] = log2OfNext(counts[s]);
  }
  logRowsAfter_ = log2OfNext(n);
}

void SummaryEntry::ensureLogs() {
  if (logsValid_) return;
  logCount_.resize(valueCount);
  logBump_.resize(valueCount);
  for (int s = 0; s < valueCount; ++s) {
    logCount_[s] = log2Count(counts[s]);
    logBump_[s] = log2OfNext(counts[s]);
  }
  logRowsAfter_ = log2OfNext(n);
  logsValid_ = true;
}

void SummaryEntry::release() {
  *this = SummaryEntry();
  counts.shrink_to_fit();
  rowSlots.shrink_to_fit();
  logCount_ = std::vector<float>();
  logBump_ = std::vector<float>();
  rowTable_ = std::vector<float>();
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

// Both passes below walk all informative attributes side by side, code by
// code: each attribute's accumulator sees its own slots in slot order, exactly
// as in one plain pass per attribute, while the chains of different attributes
// no longer wait for each other.

float SummaryEntry::directUnionWithRow(const int* slots) {
  ensureLogs();
  const int* c = counts.data();
  const float* logC = logCount_.data();
  const float* logB = logBump_.data();
  const double ln = logRowsAfter_;
  const std::vector<int>& attributes = tree->informativeAttributes;
  const int k = static_cast<int>(attributes.size());
  std::vector<float>& acc = tree->scratchSums;
  acc.assign(k, 0.0f);
  for (int v = 0; v < tree->largestDomain; ++v) {
    for (int i = 0; i < k; ++i) {
      const int a = attributes[i];
      if (v >= tree->domainSizes[a]) continue;
      const int s = tree->slotOffsets[a] + v;
      if (s == slots[a]) {
        acc[i] = static_cast<float>(acc[i] + static_cast<double>(c[s] + 1) *
                                                 (static_cast<double>(logB[s]) - ln));
      } else if (c[s] != 0) {
        acc[i] = static_cast<float>(acc[i] + static_cast<double>(c[s]) *
                                                 (static_cast<double>(logC[s]) - ln));
      }
    }
  }
  float sum = 0.0f;
  for (int i = 0; i < k; ++i)
    sum = static_cast<float>(sum + static_cast<double>(acc[i]) * gTreeWeights[attributes[i]]);
  const int m = tree->attributeCount - tree->singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

void SummaryEntry::buildRowTable() {
  // For code v of an attribute, the union's accumulator is the prefix over the
  // slots before v (the entry's own non-zero counts), then (c_v + 1) at v, then
  // the entry's non-zero counts after v, each step rounded as in the plain
  // pass. The prefixes take one pass; the tails are then replayed for all codes
  // at once, slot by slot, each code's chain getting the steps of the slots
  // after it in slot order.
  ensureLogs();
  rowTable_.resize(valueCount);
  const int* c = counts.data();
  const float* logC = logCount_.data();
  const float* logB = logBump_.data();
  float* t = rowTable_.data();
  const double ln = logRowsAfter_;
  const std::vector<int>& attributes = tree->informativeAttributes;
  const int k = static_cast<int>(attributes.size());
  std::vector<float>& prefix = tree->scratchSums;
  prefix.assign(k, 0.0f);
  for (int v = 0; v < tree->largestDomain; ++v) {
    for (int i = 0; i < k; ++i) {
      const int a = attributes[i];
      if (v >= tree->domainSizes[a]) continue;
      const int s = tree->slotOffsets[a] + v;
      t[s] = static_cast<float>(prefix[i] + static_cast<double>(c[s] + 1) *
                                                (static_cast<double>(logB[s]) - ln));
      if (c[s] != 0)
        prefix[i] = static_cast<float>(prefix[i] + static_cast<double>(c[s]) *
                                                       (static_cast<double>(logC[s]) - ln));
    }
  }
  for (int v = 1; v < tree->largestDomain; ++v) {
    for (int i = 0; i < k; ++i) {
      const int a = attributes[i];
      if (v >= tree->domainSizes[a]) continue;
      const int offset = tree->slotOffsets[a];
      const int s = offset + v;
      if (c[s] == 0) continue;
      const double step = static_cast<double>(c[s]) * (static_cast<double>(logC[s]) - ln);
      for (int u = offset; u < s; ++u) t[u] = static_cast<float>(t[u] + step);
    }
  }
  rowTableValid_ = true;
}

const float* SummaryEntry::rowTable(int expectedUses) {
  if (!rowTableValid_) {
    ++usesSinceChange_;
    const long long uses = static_cast<long long>(usesSinceChange_) + expectedUses;
    if (uses * tree->directCost < tree->tableCost) return nullptr;
    buildRowTable();
  }
  return rowTable_.data();
}

float SummaryEntry::unionEntropyWithRow(const int* slots, int expectedUses) {
  const float* table = rowTable(expectedUses);
  if (table == nullptr) return directUnionWithRow(slots);
  float sum = 0.0f;
  for (int a : tree->informativeAttributes)
    sum = static_cast<float>(sum + static_cast<double>(table[slots[a]]) * gTreeWeights[a]);
  const int m = tree->attributeCount - tree->singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

float SummaryEntry::costFromUnion(float unionValue, SummaryEntry& other) {
  // Left to right, each difference rounded to single precision.
  const float partial = unionValue - entropy();
  return partial - other.entropy();
}

float SummaryEntry::mergeCost(SummaryEntry& other, int expectedUses, float* u) {
  const float value = other.isOneRow() ? unionEntropyWithRow(other.rowSlots.data(), expectedUses)
                                       : unionEntropy(other);
  if (u != nullptr) *u = value;
  return costFromUnion(value, other);
}

bool SummaryEntry::isRowOf(const int* slots) const {
  // A one-row entry's counts are 1 at its slots and 0 elsewhere, and the counts
  // of each attribute add up to n; so n = 1 and a 1 at every slot is equality.
  if (level != 0 || n != 1) return false;
  for (int a = 0; a < tree->attributeCount; ++a)
    if (counts[slots[a]] != 1) return false;
  return true;
}

Closeness SummaryEntry::compare(SummaryEntry& other, float& cost, int expectedUses, float* u) {
  if (level == 0 &&
      (other.isOneRow() ? isRowOf(other.rowSlots.data())
                        : std::equal(counts.begin(), counts.end(), other.counts.begin())))
    return IDENTICAL;
  cost = mergeCost(other, expectedUses, u);
  return cost < tree->threshold ? CLOSE : FAR;
}

void SummaryEntry::mergeIn(SummaryEntry& other, float cost) {
  const float e0 = entropy();
  if (other.isOneRow()) {
    for (int s : other.rowSlots) ++counts[s];
    n += other.n;
    rowAdded(other.rowSlots.data());
  } else {
    for (int s = 0; s < valueCount; ++s) counts[s] += other.counts[s];
    n += other.n;
    countsChanged();
  }
  // The union's value is known from the cost: (e0 + cost) + E(other), rounded once.
  entropyCache = static_cast<float>((static_cast<double>(e0) + cost) + other.entropy());
}

void SummaryEntry::addRow(const int* slots, float unionValue) {
  for (int a = 0; a < tree->attributeCount; ++a) ++counts[slots[a]];
  ++n;
  rowAdded(slots);
  entropyCache = unionValue;
}

std::unique_ptr<EntryRecord> SummaryEntry::toRecord() const {
  auto record = std::make_unique<EntryRecord>();
  record->id = id;
  record->valueCount = valueCount;
  record->level = level;
  record->n = n;
  record->counts = counts;
  record->rowSlots = rowSlots;
  return record;
}

void SummaryEntry::fromRecord(const EntryRecord& record) {
  id = record.id;
  n = record.n;
  valueCount = record.valueCount;
  counts = record.counts;
  level = record.level;
  son = nullptr;
  countsChanged();
  rowSlots = record.rowSlots;
}

}  // namespace kelbow
