// The summary tree: condenses a large table, read once, into a bounded number
// of leaf entries (at most maxLeaves leaves of f entries), each summarising one
// or more rows by their value counts. The large-table driver builds one, takes
// its attribute tables and turns its leaf entries into starting clusters.
//
// Nodes are numbered like disk blocks and found by number, but the whole tree
// lives in memory, and its size depends on the table's value slots, never on
// its number of rows. Trees are independent of each other: the entry
// arithmetic reads the weights of its own tree.
#pragma once

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "cluster/cluster_summary.h"
#include "common/progress.h"
#include "input/table_reader.h"
#include "input/tables.h"
#include "summary/cf_node.h"
#include "summary/lin_list.h"
#include "summary/member_index.h"
#include "summary/summary_entry.h"

namespace kelbow {

class LeafStage;

class CFTree {
 public:
  // An empty tree for a table described by `desc` (threshold: merge cost below
  // which entries count as close; nc: leaf-entry budget; f: fan-out, at least
  // 3). With keepMembers the tree records which leaf entry every row went to
  // (memberIndex, four bytes a row); without, it records nothing per row.
  // `descriptionName` names the table in the message of memoryFits.
  CFTree(const TableDescription& desc, float threshold, int nc, int f, bool keepMembers = true,
         std::string descriptionName = "");

  // Inserts every row of `rows`, telling `progress` every Progress::kRowStep
  // rows and at the end, and noting there when the rows read are not the
  // `declaredRows`. False, with err set to one line, on a bad row, on a source
  // that holds none or more than the tool can count, and when the tree would
  // not fit in this machine's memory (checked at the first row, so that an
  // empty source is told at once and a table too wide is refused before the
  // tree grows).
  bool readRows(RowSource& rows, int declaredRows, Progress& progress, std::string& err);

  // False, with err set, when the tree's tables could not fit in this machine's memory.
  bool memoryFits(std::string& err) const;
  ~CFTree();
  CFTree(const CFTree&) = delete;
  CFTree& operator=(const CFTree&) = delete;

  // Adds the next row (codes checked by the caller, one per attribute) as a
  // data entry numbered rowsInserted.
  void insertRow(const int* codes);

  // Inserts one data entry from the root, then every entry that the insertion
  // sent to re_data_cands, growing the tree by a level whenever the root splits.
  void insert(const SummaryEntry& e);

  // A new node of this tree, owned by it; level 0 until its creator sets it.
  CFNode* newNode();
  // The node with that block number; an unknown number ends the process.
  CFNode* getNodeInMemory(int block);
  // True once the tree has maxLeaves leaves: from then on no leaf is made or split.
  bool isMemoryFull() const { return leafCount >= maxLeaves; }

  // One new cluster summary per leaf entry (leaves in creation order, entries in
  // slot order) into out; returns their number. Cluster i holds {i} as its
  // members: a starting-cluster number, not a row. When the tree keeps members,
  // memberIndex then gives every row's starting-cluster number instead of its
  // entry id. The clusters read the tree's tables, so the tree must outlive them.
  int extractClusters(std::vector<std::unique_ptr<ClusterSummary>>& out);

  // Bytes the tree may need at most for its count tables and row tables.
  double memoryBound() const;

  int valueCount = 0;  // V: slots of a count table
  // Written at every row by the tree's thread: a cache line of its own, so
  // that the leaf stage's thread, reading what lies around it, never waits
  // for it.
  alignas(64) int rowsInserted = 0;
  alignas(64) int leafCount = 0;  // used slots of leafBlocks
  int rootBlock = 0;
  int attributeCount = 0;
  int singleValuedCount = 0;  // attributes with one value
  std::vector<int> domainSizes;
  std::vector<float> weights;      // of every attribute: 1 / log2 d, 0 when d = 1
  std::vector<int> leafBlocks;     // block number of every leaf, in creation order
  int maxLeaves = 0;               // ceil(nc / f)
  CFNode* root = nullptr;          // cache of rootBlock
  std::vector<char> reinsertDone;  // per level; only the leaf level's flag is used
  LinList re_data_cands;           // entries waiting to be inserted from the root
  float threshold = 0.0f;
  bool keepMembers = false;
  // Filled only when keepMembers, at every row by the leaves (on the leaf
  // stage's thread once it takes the rows): a cache line of its own.
  alignas(64) MemberIndex memberIndex;
  alignas(64) int pageSize = 0;  // f entries plus a header, in bytes
  int nextBlock = 0;
  std::vector<std::unique_ptr<CFNode>> nodes;  // every node, in creation order

  // Derived from the description for the entry arithmetic.
  std::vector<int> slotOffsets;            // first value slot of every attribute
  std::vector<int> informativeAttributes;  // attributes of more than one value, in order
  std::vector<float> informativeWeights;   // their weights, in the same order
  LaneLayout lanes;                        // layout of the entries' derived tables
  long long directCost = 0;                // band steps of one pass over an entry's counts
  long long tableCost = 0;  // bound on the band steps of building an entry's row table

  // log2 of a count exactly as log2Count gives it. Counts beyond the
  // process-wide cache come from a table of the tree's own, filled as the
  // counts of the entries grow (at most kLargeLogCells of them, 8 MB), so that
  // the ever-growing counts of the entries near the root compute each
  // logarithm once rather than once per slot.
  //
  // The root and the nodes below it each have their own work space and
  // large-count table (`side`: kRootSide for the root's node and entries once
  // the tree is full, kLowerSide for the rest), so that a full tree's two
  // halves can take a row each on a thread of their own (LeafStage).
  float countLog(int k, int side) const {
    return k < kLog2CacheSize ? log2Count(k) : largeCountLog(k, side);
  }
  static constexpr int kLargeLogCells = 1 << 21;
  static constexpr int kRootSide = 0;
  static constexpr int kLowerSide = 1;
  int sideOfLevel(int level) const { return level >= rootSideLevel_ ? kRootSide : kLowerSide; }

  // The arriving row's code in every lane of `lanes` (-1 in an unused lane), for
  // SummaryEntry::directUnionWithCodes; valid until the next call on that side.
  const int* rowLaneCodes(const int* slots, int side);
  // Work space of the entry passes of that side, one per lane.
  float* laneSums(int side) { return sides_[side].laneSums.data() + kPad; }
  // The cell of `lanes` of every informative attribute's slot among a one-row
  // entry's rowSlots, in attribute order; kept while the same row goes down
  // that side, valid until the next call on that side.
  const int* rowCells(const LineVector<int>& rowSlots, int side);

  // Once the tree is full and nothing waits for re-insertion, every insertion
  // below the root may be handed to `leafStage` (null: done in place).
  LeafStage* leafStage = nullptr;

 private:
  // Takes the attribute tables from a checked description.
  void applyDescription(const TableDescription& desc);
  // Sizes the pages and makes the root leaf.
  void setUp(float threshold, int nc, int f);
  float largeCountLog(int k, int side) const;
  // Inserts the row of arriving_ in a full tree: the root here, the nodes
  // below it by leafStage.
  void passRowDown();
  // The level from which sideOfLevel answers kRootSide: none until rows are
  // handed to leafStage, then the root's.
  int rootSideLevel_ = INT_MAX;
  // A side's work space. Each part is kPad elements longer at both ends than
  // it needs (used from kPad on), so that no cache line holds both a side's
  // work space and anything else on the heap: each side writes its own at
  // every row.
  static constexpr int kPad = 16;
  struct alignas(64) Side {
    std::vector<int> laneCodes;   // work space of rowLaneCodes
    std::vector<float> laneSums;  // work space of the entry passes
    std::vector<int> cellsSlots;  // the rowSlots whose cells rowCells holds
    std::vector<int> rowCells;
    bool cellsKnown = false;
    std::vector<float> largeLogs;  // log2 (kLog2CacheSize + i), as far as filled
  };
  mutable Side sides_[2];
  std::string descriptionName_;     // for the messages about the table's size
  std::vector<int> arrivingSlots_;  // the value slots of the row insertRow is inserting
  SummaryEntry arriving_;           // the entry of that row
  SummaryEntry inserting_;          // the entry insert is inserting from the root
};

}  // namespace kelbow
