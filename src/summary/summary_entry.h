// One entry of a summary tree node: a set of rows summarised by how many of
// them take each value of each attribute. A leaf holds data entries (a row and,
// once the tree is full, the rows absorbed into it); a node above the leaves
// holds one entry per son, summing every row below that son.
//
// The entry arithmetic has its own rounding order and is not the cluster
// summary's: keep the two apart.
#pragma once

#include <memory>
#include <vector>

#include "common/cache_lines.h"
#include "summary/entry_lanes.h"
#include "summary/entry_record.h"

namespace kelbow {

class CFNode;
class CFTree;

// How an entry relates to an arriving one (compare).
enum Closeness { CLOSE = 0, IDENTICAL = 1, FAR = 2 };

class alignas(kCacheLine) SummaryEntry {
 public:
  SummaryEntry() = default;
  // An empty entry of `valueCount` slots (all counts 0, id 0, n 0, level 0).
  SummaryEntry(int valueCount, CFTree* tree) { init(valueCount, tree); }
  virtual ~SummaryEntry() = default;

  // Copies are made by assign, which never carries the son cache over.
  SummaryEntry(const SummaryEntry& other) { SummaryEntry::assign(other); }
  SummaryEntry& operator=(const SummaryEntry& other) {
    assign(other);
    return *this;
  }

  // Re-initialises this entry as an empty one.
  void init(int valueCount, CFTree* tree);

  // Copies everything but the son cache, which it clears; the cached entropy
  // value travels with the counts.
  virtual void assign(const SummaryEntry& other);

  // The son node of an entry above the leaves, resolved by block number (id)
  // through the tree the first time.
  CFNode* sonNode();

  // Entropy value E (cached, except for one row, which is 0 without a look).
  float entropy() {
    if (n == 1) return 0.0f;
    if (entropyCache > -0.5f) return entropyCache;
    return recountEntropy();
  }
  // Entropy value of the union of both entries (never cached), by one pass over
  // the summed count tables.
  float unionEntropy(const SummaryEntry& other) const;
  // The same value for the union with one more row, given the row's value slot
  // of every attribute. Bit for bit what unionEntropy gives with that row's data
  // entry; `expectedUses` (how many more evaluations this entry may see before it
  // changes) only decides whether the row table is worth building.
  float unionEntropyWithRow(const int* slots, int expectedUses = 0);
  // The same value by one pass over the entry's own counts.
  float directUnionWithRow(const int* slots);
  // The same, given the row's code in every lane of the tree's lane layout
  // (CFTree::rowLaneCodes).
  float directUnionWithCodes(const int* laneCodes);
  // The row table, built first when the evaluations this entry has seen and is
  // expected to see make it pay; null when they do not. The cell of value slot s
  // (the tree's lanes.cellOfSlot) holds the rounded accumulator of s's attribute
  // for the union with one more row of that value, so that the union's value is
  // the weighted sum of one cell per attribute, added in attribute order.
  const float* rowTable(int expectedUses) {
    return rowTableValid_ ? rowTable_.data() : rowTableIfWorthIt(expectedUses);
  }
  // True when this is a data entry of one row whose counts are 1 at every one
  // of `slots` (so that its counts equal those of that row's entry).
  bool isRowOf(const int* slots) const {
    // A one-row entry's counts are 1 at its slots and 0 elsewhere, and the counts
    // of each attribute add up to n; so n = 1 and a 1 at every slot is equality.
    return level == 0 && n == 1 && countsAreRow(slots);
  }
  // Cost of merging `other` into this entry: U - E(this) - E(other), in single
  // precision; u receives U when given.
  float mergeCost(SummaryEntry& other, int expectedUses = 0, float* u = nullptr);
  // The merge cost from a known union value U: U - E(this) - E(other).
  float costFromUnion(float unionValue, SummaryEntry& other) {
    // Left to right, each difference rounded to single precision.
    const float partial = unionValue - entropy();
    return partial - other.entropy();
  }

  // IDENTICAL when this is a data entry with exactly other's counts (cost is
  // then not written); otherwise writes the merge cost and answers CLOSE when
  // it is below the tree's threshold, else FAR.
  Closeness compare(SummaryEntry& other, float& cost, int expectedUses = 0, float* u = nullptr);

  // Absorbs other's rows (other is left as it is); `cost` is the merge cost of
  // the pair, so the new entropy value is kept without a recount.
  void mergeIn(SummaryEntry& other, float cost);

  // Makes this entry, reused row after row, the data entry of row `rowId`
  // whose value slot of every attribute is `slots` (as many as the tree has
  // attributes): only the previous row's slots need clearing. The entry must
  // have been made for its tree (init) first.
  void becomeRow(const int* slots, int rowId);

  // Adds one row (its value slots) to the counts of an entry above the leaves,
  // whose cached entropy becomes `unionValue`: the value a recount of the new
  // counts gives, as unionEntropyWithRow computed it before the change.
  void addRow(const int* slots, float unionValue);

  // True for the data entry of a single row made from a record: rowSlots then
  // holds the row's value slot of every attribute.
  bool isOneRow() const { return !rowSlots.empty(); }

  // Frees the counts of a slot that no longer holds an entry.
  void release();

  std::unique_ptr<EntryRecord> toRecord() const;
  // Takes id, n, counts and level from `record`; the cached entropy value is left alone.
  void fromRecord(const EntryRecord& record);

  // Bytes of an entry on a node page: the counts, id and n.
  int entrySize() const { return 4 * valueCount + 8; }

  int id = 0;              // data entry: its row number; otherwise the son's block number
  int n = 0;               // rows summarised
  LineVector<int> counts;  // rows per value slot
  int valueCount = 0;
  int level = 0;  // 0 for a data entry, son's level + 1 otherwise
  CFTree* tree = nullptr;
  CFNode* son = nullptr;       // cache of the son node; null until resolved
  float entropyCache = -1.0f;  // -1 marks an empty cache
  // Value slot of every attribute while this is a one-row data entry; empty
  // otherwise (cleared as soon as the counts change).
  LineVector<int> rowSlots;

 private:
  // rowTable when the table is not valid: counts the use, builds the table when it pays.
  const float* rowTableIfWorthIt(int expectedUses);
  // Computes and caches the entropy value of the counts.
  float recountEntropy();
  // Drops what is derived from the counts after an arbitrary change.
  void countsChanged();
  // Adds one row at `slots` to the counts (n already counts it) and keeps what
  // is derived from them.
  void countRow(const int* slots);
  // isRowOf for a data entry of one row: a 1 at every one of `slots`.
  bool countsAreRow(const int* slots) const;
  // Makes laneCounts_, logCount_, logBump_ and logRowsAfter_ valid.
  void ensureLogs();
  // The counts and logarithms in the tree's lane layout, made valid first.
  LaneCounts laneView();
  // The union's value -S / m from every lane's accumulator, summed in attribute order.
  float weightedLanes(const float* acc) const;
  // Fills rowTable_: for every informative attribute and code, the attribute's
  // accumulator for the union with one more row of that code.
  void buildRowTable();

  // Derived from the counts and kept up to date while rows are added one at a
  // time, so that an entry of many rows computes almost no logarithm: in the
  // tree's lane layout, every slot's count c, log2 c and log2 (c + 1); and
  // log2 (n + 1).
  LineVector<int> laneCounts_;
  LineVector<float> logCount_;
  LineVector<float> logBump_;
  float logRowsAfter_ = 0.0f;
  bool logsValid_ = false;
  LineVector<float> rowTable_;  // per cell of the lane layout; valid while rowTableValid_
  bool rowTableValid_ = false;
  int usesSinceChange_ = 0;  // one-row evaluations since the counts last changed
};

}  // namespace kelbow
