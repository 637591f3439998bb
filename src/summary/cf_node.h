// A node of the summary tree: a fixed number of entry slots. Leaves (level 0)
// hold data entries; a node of level l > 0 holds one entry per son of level
// l - 1. Nodes are made and owned by their tree and find their sons through it.
#pragma once

#include <cstdint>
#include <vector>

#include "summary/summary_entry.h"

namespace kelbow {

class CFTree;

// What an insertion into a subtree did.
enum InsertStatus {
  SPLIT = 0,     // the node split; the new sibling is handed back for the parent
  REINSERT = 1,  // a leaf sent entries to the tree's re-insertion list
  DONE = 2,
};

class alignas(kCacheLine) CFNode {
 public:
  // A node with no entries; takes the tree's next block number. The creator sets level.
  explicit CFNode(CFTree* tree);
  CFNode(const CFNode&) = delete;
  CFNode& operator=(const CFNode&) = delete;

  // Appends a copy of e; ends the process when the node is full.
  void enter(const SummaryEntry& e);

  // Inserts e into the subtree rooted here. On SPLIT, sibling is the new node
  // of this node's level that the caller must enter above.
  InsertStatus insert(SummaryEntry& e, CFNode*& sibling);

  // On a node above the leaves: the slot to descend into for e, or -1 when e
  // should start a new leaf here.
  int chooseSubtree(SummaryEntry& e);

  // On a node above the leaves of a full tree, for a one-row e: what insert
  // does here, but for the son's own insertion, which the caller makes next:
  // adds e's row to the entry it chooses and returns that entry's son. In a
  // full tree the son always takes the row whole (insert answers DONE), and
  // nothing here depends on how it does.
  CFNode* passDown(SummaryEntry& e);

  // On a full leaf: merges e into its cheapest entry (an identical one at once)
  // and records e's row as a member of that entry.
  void absorb(SummaryEntry& e);

  // Moves group 2 of partitionEntries into `sibling`, replacing its entries.
  void split(CFNode& sibling);

  // Splits the entries around the most distant pair: group 1 stays here,
  // compacted; group 2 is copied to out (capacity initialised entries) and its
  // size returned.
  int partitionEntries(std::vector<SummaryEntry>& out);

  // A new entry that sums every entry of this node and refers to it as its son.
  SummaryEntry summaryEntry();

  std::int16_t level = 0;             // 0 for a leaf
  int block = 0;                      // unique node number, in creation order
  int count = 0;                      // slots in use
  std::vector<SummaryEntry> entries;  // capacity slots
  int capacity = 0;
  int valueCount = 0;
  CFTree* tree = nullptr;

 private:
  // An array of capacity empty entries for this tree.
  std::vector<SummaryEntry> emptyEntries() const;
  // Makes a new node of this node's level, splits into it and returns it.
  CFNode* splitIntoNewNode();
  // Registers a row that has just become a data entry of a leaf.
  void registerRow(int id);

  // unions_[i] = the entropy value of entry i with one more row, the one-row
  // entry e, for every entry of this node.
  void rowUnions(SummaryEntry& e);

  // Work space of chooseSubtree and absorb: the merge cost and the union's
  // entropy value of every entry with the arriving one, and the entries whose
  // row tables are evaluated side by side.
  std::vector<float> cost_;
  std::vector<float> unions_;
  std::vector<const float*> laneTables_;
  std::vector<int> laneEntries_;
};

}  // namespace kelbow
