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

#include "summary/entry_record.h"

namespace kelbow {

class CFNode;
class CFTree;

// How an entry relates to an arriving one (compare).
enum Closeness { CLOSE = 0, IDENTICAL = 1, FAR = 2 };

class SummaryEntry {
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
  float entropy();
  // Entropy value of the union of both entries (never cached).
  float unionEntropy(const SummaryEntry& other) const;
  // Cost of merging `other` into this entry: U - E(this) - E(other), in single precision.
  float mergeCost(SummaryEntry& other);

  // IDENTICAL when this is a data entry with exactly other's counts (cost is
  // then not written); otherwise writes the merge cost and answers CLOSE when
  // it is below the tree's threshold, else FAR.
  Closeness compare(SummaryEntry& other, float& cost);

  // Absorbs other's rows (other is left as it is); `cost` is the merge cost of
  // the pair, so the new entropy value is kept without a recount.
  void mergeIn(SummaryEntry& other, float cost);

  std::unique_ptr<EntryRecord> toRecord() const;
  // Takes id, n, counts and level from `record`; the cached entropy value is left alone.
  void fromRecord(const EntryRecord& record);

  // Bytes of an entry on a node page: the counts, id and n.
  int entrySize() const { return 4 * valueCount + 8; }

  int id = 0;               // data entry: its row number; otherwise the son's block number
  int n = 0;                // rows summarised
  std::vector<int> counts;  // rows per value slot
  int valueCount = 0;
  int level = 0;  // 0 for a data entry, son's level + 1 otherwise
  CFTree* tree = nullptr;
  CFNode* son = nullptr;       // cache of the son node; null until resolved
  float entropyCache = -1.0f;  // -1 marks an empty cache
};

}  // namespace kelbow
