#include "summary/summary_entry.h"

#include <algorithm>
#include <climits>

#include "input/tables.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {

// One accumulation term of an attribute: count k of a union of n rows adds
// k * (log2 k - log2 n), in double from the single-precision logarithms.
inline double term(const CFTree& tree, int side, int k, double logRows) {
  return static_cast<double>(k) * (static_cast<double>(tree.countLog(k, side)) - logRows);
}

// The entropy value -S / m of a count table (read through countAt) of n rows:
// per informative attribute, acc collects c * (log2 c - log2 n) over its
// non-zero counts and is stored to single precision after every step; sum then
// takes acc times the attribute's weight, computed in double and stored once
// per attribute.
template <class CountAt>
float entryValue(const CFTree& tree, int side, CountAt countAt, int n) {
  const double ln = tree.countLog(n, side);
  float sum = 0.0f;
  for (int a : tree.informativeAttributes) {
    const int offset = tree.slotOffsets[a];
    const int end = offset + tree.domainSizes[a];
    float acc = 0.0f;
    for (int s = offset; s < end; ++s) {
      const int c = countAt(s);
      if (c != 0) acc = static_cast<float>(acc + term(tree, side, c, ln));
    }
    sum = static_cast<float>(sum + static_cast<double>(acc) * tree.weights[a]);
  }
  const int m = tree.attributeCount - tree.singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

// log2 (c + 1), the logarithm a count takes when one more row joins. A count of
// INT_MAX holds every row the tool can count, so no row joins it.
inline float log2OfNext(const CFTree& tree, int side, int c) {
  return c < INT_MAX ? tree.countLog(c + 1, side) : 0.0f;
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
    laneCounts_ = other.laneCounts_;
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

void SummaryEntry::countRow(const int* slots) {
  rowSlots.clear();
  rowTableValid_ = false;
  usesSinceChange_ = 0;
  int* count = counts.data();
  const int attributes = tree->attributeCount;
  if (!logsValid_) {
    for (int a = 0; a < attributes; ++a) ++count[slots[a]];
    return;
  }
  const int side = tree->sideOfLevel(level);
  const int* cellOf = tree->lanes.cellOfSlot.data();
  int* laneCount = laneCounts_.data();
  float* logCount = logCount_.data();
  float* logBump = logBump_.data();
  for (int a = 0; a < attributes; ++a) {
    const int s = slots[a];
    const int c = ++count[s];
    const int cell = cellOf[s];
    if (cell < 0) continue;  // a one-valued attribute has no cells
    laneCount[cell] = c;
    logCount[cell] = logBump[cell];
    logBump[cell] = log2OfNext(*tree, side, c);
  }
  logRowsAfter_ = log2OfNext(*tree, side, n);
}

void SummaryEntry::ensureLogs() {
  if (logsValid_) return;
  const LaneLayout& lanes = tree->lanes;
  const int side = tree->sideOfLevel(level);
  // Cells no attribute has keep count 0 and logarithms 0.
  laneCounts_.assign(lanes.cells, 0);
  logCount_.assign(lanes.cells, 0.0f);
  logBump_.assign(lanes.cells, 0.0f);
  for (int s = 0; s < valueCount; ++s) {
    const int cell = lanes.cellOfSlot[s];
    if (cell < 0) continue;
    laneCounts_[cell] = counts[s];
    logCount_[cell] = tree->countLog(counts[s], side);
    logBump_[cell] = log2OfNext(*tree, side, counts[s]);
  }
  logRowsAfter_ = log2OfNext(*tree, side, n);
  logsValid_ = true;
}

void SummaryEntry::release() {
  *this = SummaryEntry();
  counts.shrink_to_fit();
  rowSlots.shrink_to_fit();
  laneCounts_ = LineVector<int>();
  logCount_ = LineVector<float>();
  logBump_ = LineVector<float>();
  rowTable_ = LineVector<float>();
}

CFNode* SummaryEntry::sonNode() {
  if (son == nullptr) son = tree->getNodeInMemory(id);
  return son;
}

float SummaryEntry::recountEntropy() {
  entropyCache = entryValue(
      *tree, tree->sideOfLevel(level), [this](int s) { return counts[s]; }, n);
  return entropyCache;
}

float SummaryEntry::unionEntropy(const SummaryEntry& other) const {
  const int* mine = counts.data();
  const int* theirs = other.counts.data();
  return entryValue(
      *tree, tree->sideOfLevel(level), [mine, theirs](int s) { return mine[s] + theirs[s]; },
      n + other.n);
}

float SummaryEntry::weightedLanes(const float* acc) const {
  const std::vector<float>& weights = tree->informativeWeights;
  const std::vector<int>& laneOf = tree->lanes.laneOfAttribute;
  float sum = 0.0f;
  for (std::size_t i = 0; i < weights.size(); ++i)
    sum = static_cast<float>(sum + static_cast<double>(acc[laneOf[i]]) * weights[i]);
  const int m = tree->attributeCount - tree->singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

LaneCounts SummaryEntry::laneView() {
  ensureLogs();
  return {laneCounts_.data(), logCount_.data(), logBump_.data(), logRowsAfter_};
}

float SummaryEntry::directUnionWithRow(const int* slots) {
  return directUnionWithCodes(tree->rowLaneCodes(slots, tree->sideOfLevel(level)));
}

float SummaryEntry::directUnionWithCodes(const int* laneCodes) {
  float* acc = tree->laneSums(tree->sideOfLevel(level));
  laneUnionWithRow(tree->lanes, laneView(), laneCodes, acc);
  return weightedLanes(acc);
}

void SummaryEntry::buildRowTable() {
  const LaneCounts view = laneView();
  rowTable_.resize(tree->lanes.cells);
  buildLaneTable(tree->lanes, view, rowTable_.data());
  rowTableValid_ = true;
}

const float* SummaryEntry::rowTableIfWorthIt(int expectedUses) {
  ++usesSinceChange_;
  const long long uses = static_cast<long long>(usesSinceChange_) + expectedUses;
  if (uses * tree->directCost < tree->tableCost) return nullptr;
  buildRowTable();
  return rowTable_.data();
}

float SummaryEntry::unionEntropyWithRow(const int* slots, int expectedUses) {
  const float* table = rowTable(expectedUses);
  if (table == nullptr) return directUnionWithRow(slots);
  const std::vector<int>& cellOf = tree->lanes.cellOfSlot;
  const float* weights = tree->weights.data();
  float sum = 0.0f;
  for (int a : tree->informativeAttributes)
    sum = static_cast<float>(sum + static_cast<double>(table[cellOf[slots[a]]]) * weights[a]);
  const int m = tree->attributeCount - tree->singleValuedCount;
  return static_cast<float>(-static_cast<double>(sum) / m);
}

float SummaryEntry::mergeCost(SummaryEntry& other, int expectedUses, float* u) {
  const float value = other.isOneRow() ? unionEntropyWithRow(other.rowSlots.data(), expectedUses)
                                       : unionEntropy(other);
  if (u != nullptr) *u = value;
  return costFromUnion(value, other);
}

bool SummaryEntry::countsAreRow(const int* slots) const {
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
    n += other.n;
    countRow(other.rowSlots.data());
  } else {
    for (int s = 0; s < valueCount; ++s) counts[s] += other.counts[s];
    n += other.n;
    countsChanged();
  }
  // The union's value is known from the cost: (e0 + cost) + E(other), rounded once.
  entropyCache = static_cast<float>((static_cast<double>(e0) + cost) + other.entropy());
}

void SummaryEntry::becomeRow(const int* slots, int rowId) {
  for (int s : rowSlots) counts[s] = 0;
  rowSlots.assign(slots, slots + tree->attributeCount);
  for (int s : rowSlots) counts[s] = 1;
  id = rowId;
  n = 1;
  entropyCache = -1.0f;
}

void SummaryEntry::addRow(const int* slots, float unionValue) {
  ++n;
  countRow(slots);
  entropyCache = unionValue;
}

std::unique_ptr<EntryRecord> SummaryEntry::toRecord() const {
  auto record = std::make_unique<EntryRecord>();
  record->id = id;
  record->valueCount = valueCount;
  record->level = level;
  record->n = n;
  record->counts.assign(counts.begin(), counts.end());
  record->rowSlots.assign(rowSlots.begin(), rowSlots.end());
  return record;
}

void SummaryEntry::fromRecord(const EntryRecord& record) {
  id = record.id;
  n = record.n;
  valueCount = record.valueCount;
  counts.assign(record.counts.begin(), record.counts.end());
  level = record.level;
  son = nullptr;
  countsChanged();
  rowSlots.assign(record.rowSlots.begin(), record.rowSlots.end());
}

}  // namespace kelbow
