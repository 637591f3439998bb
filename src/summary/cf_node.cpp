#include "summary/cf_node.h"

#include <algorithm>

#include "common/error.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {

// Larger than any merge cost: the starting best of every cheapest-entry scan.
constexpr float kNoCost = 1e20f;

}  // namespace

CFNode::CFNode(CFTree* owner) : tree(owner) {
  valueCount = owner->valueCount;
  const int entrySize = 4 * valueCount + 8;
  capacity = (owner->pageSize - 6) / entrySize;
  entries = emptyEntries();
  block = owner->nextBlock++;
  // The work space with room to spare at its end, so that no cache line holds
  // the work space of two nodes: a full tree's root and the nodes below it
  // are written on two threads.
  constexpr int kSpare = 16;
  cost_.reserve(capacity + kSpare);
  unions_.reserve(capacity + kSpare);
  laneTables_.reserve(capacity + 4 + kSpare);
  laneEntries_.reserve(capacity + kSpare);
}

std::vector<SummaryEntry> CFNode::emptyEntries() const {
  // Slots get their count tables when an entry is entered: a node costs
  // memory for the entries it holds, not for its capacity.
  SummaryEntry slot;
  slot.valueCount = valueCount;
  slot.tree = tree;
  return std::vector<SummaryEntry>(capacity, slot);
}

void CFNode::enter(const SummaryEntry& e) {
  if (count >= capacity) fatal("CFNode::enter: called, but node is full");
  entries[count].assign(e);
  ++count;
}

void CFNode::registerRow(int id) {
  // An entry coming back from the re-insertion list registers its row again
  // under its own id, which changes nothing.
  if (tree->keepMembers) tree->memberIndex.add(id, id);
}

CFNode* CFNode::splitIntoNewNode() {
  CFNode* sibling = tree->newNode();
  sibling->level = level;
  split(*sibling);
  return sibling;
}

InsertStatus CFNode::insert(SummaryEntry& e, CFNode*& sibling) {
  const int id = e.id;

  if (level <= 0) {
    if (count == capacity) {
      absorb(e);
      return DONE;
    }
    enter(e);
    registerRow(id);
    if (count == capacity - 1 && !tree->isMemoryFull()) {
      char& reinsertDone = tree->reinsertDone[0];
      if (!reinsertDone && tree->root->level != level) {
        // First overflow of a leaf below the root in this insertion: shed the
        // far group and send it back through the root instead of splitting.
        reinsertDone = 1;
        std::vector<SummaryEntry> moved = emptyEntries();
        const int k = partitionEntries(moved);
        for (int j = 0; j < k; ++j) tree->re_data_cands.insert(moved[j].toRecord());
        return REINSERT;
      }
      reinsertDone = 0;
      CFNode* leaf = tree->newNode();
      tree->leafBlocks[tree->leafCount++] = leaf->block;
      split(*leaf);
      sibling = leaf;
      return SPLIT;
    }
    return DONE;
  }

  if (level > e.level) {
    const int i = chooseSubtree(e);
    if (level == 1 && i == -1) {
      CFNode* leaf = tree->newNode();
      leaf->enter(e);
      registerRow(id);
      const SummaryEntry s = leaf->summaryEntry();
      tree->leafBlocks[tree->leafCount++] = leaf->block;
      if (count == capacity - 1) {
        sibling = splitIntoNewNode();
        (sibling->count < count ? *sibling : *this).enter(s);
        return SPLIT;
      }
      enter(s);
      return DONE;
    }

    CFNode* son = entries[i].sonNode();
    CFNode* newSon = nullptr;
    const float unionValue = e.isOneRow() ? unions_[i] : 0.0f;
    const InsertStatus st = son->insert(e, newSon);
    if (st == DONE && e.isOneRow()) {
      // The son took the row and nothing else changed below: its summary is
      // this entry plus the row, whose recount chooseSubtree already made.
      entries[i].addRow(e.rowSlots.data(), unionValue);
      return DONE;
    }
    entries[i].assign(son->summaryEntry());
    if (st != SPLIT) return st;

    const SummaryEntry s = newSon->summaryEntry();
    if (count == capacity) {
      // A full node cannot take the new son: split it first and give the son
      // to the smaller half, as a new leaf is placed.
      sibling = splitIntoNewNode();
      (sibling->count < count ? *sibling : *this).enter(s);
      return SPLIT;
    }
    enter(s);
    if (count == capacity - 1 || (capacity == 3 && count == 3)) {
      sibling = splitIntoNewNode();
      return SPLIT;
    }
    return DONE;
  }

  // e summarises a whole subtree of this node's level or above.
  enter(e);
  if (count == capacity - 1) {
    sibling = splitIntoNewNode();
    return SPLIT;
  }
  return DONE;
}

CFNode* CFNode::passDown(SummaryEntry& e) {
  const int i = chooseSubtree(e);
  if (i < 0) fatal("CFNode::passDown: a full tree made a new leaf\n");
  CFNode* son = entries[i].sonNode();
  entries[i].addRow(e.rowSlots.data(), unions_[i]);
  return son;
}

void CFNode::rowUnions(SummaryEntry& e) {
  unions_.resize(count);
  const int* slots = e.rowSlots.data();
  const int* laneCodes = nullptr;  // made once, for the first entry without a table
  // Room for a last block of lanes rounded up to four, which repeats the first table.
  laneTables_.resize(static_cast<std::size_t>(count) + 4);
  laneEntries_.resize(count);
  int withTable = 0;
  for (int i = 0; i < count; ++i) {
    const float* table = entries[i].rowTable(count);
    if (table == nullptr) {
      if (laneCodes == nullptr) laneCodes = tree->rowLaneCodes(slots, tree->sideOfLevel(level));
      unions_[i] = entries[i].directUnionWithCodes(laneCodes);
    } else {
      laneTables_[withTable] = table;
      laneEntries_[withTable++] = i;
    }
  }
  if (withTable == 0) return;
  for (int j = withTable; j < withTable + 4; ++j) laneTables_[j] = laneTables_[0];
  const int width = static_cast<int>(tree->informativeAttributes.size());
  const int* rowCells = tree->rowCells(e.rowSlots, tree->sideOfLevel(level));
  // The entries with a row table side by side, one lane each: every lane adds
  // its attributes' table cells in attribute order exactly as
  // unionEntropyWithRow does, and the lanes' chains run independently.
  const int m = tree->attributeCount - tree->singleValuedCount;
  float sums[kTableLanes];
  for (int g = 0; g < withTable; g += kTableLanes) {
    const int k = std::min(kTableLanes, withTable - g);
    tableSums(&laneTables_[g], k, rowCells, tree->informativeWeights.data(), width, sums);
    for (int j = 0; j < k; ++j)
      unions_[laneEntries_[g + j]] = static_cast<float>(-static_cast<double>(sums[j]) / m);
  }
}

int CFNode::chooseSubtree(SummaryEntry& e) {
  cost_.assign(count, 0.0f);
  std::vector<float>& cost = cost_;
  int closeCount = 0;
  int closest = -1;
  float closestCost = kNoCost;
  const bool oneRow = e.isOneRow();
  if (oneRow) rowUnions(e);
  for (int i = 0; i < count; ++i) {
    Closeness r;
    if (oneRow) {
      SummaryEntry& x = entries[i];
      if (x.isRowOf(e.rowSlots.data())) return i;
      cost[i] = x.costFromUnion(unions_[i], e);
      r = cost[i] < tree->threshold ? CLOSE : FAR;
    } else {
      r = entries[i].compare(e, cost[i]);
      if (r == IDENTICAL) return i;
    }
    if (r == CLOSE) {
      ++closeCount;
      if (cost[i] < closestCost) closestCost = cost[i], closest = i;
    }
  }
  // A single close entry is not enough to keep a row out of a new leaf.
  if (closeCount >= 2) return closest;
  if (level == 1 && !tree->isMemoryFull() && count < capacity) return -1;

  int cheapest = 0;
  float cheapestCost = kNoCost;
  for (int i = 0; i < count; ++i)
    if (cost[i] < cheapestCost) cheapestCost = cost[i], cheapest = i;
  return cheapest;
}

void CFNode::absorb(SummaryEntry& e) {
  int chosen = 0;
  float best = kNoCost;
  if (e.isOneRow()) {
    // The first identical entry wins at once; otherwise the cheapest, the
    // first on a tie.
    int identical = -1;
    for (int i = 0; i < count && identical < 0; ++i)
      if (entries[i].isRowOf(e.rowSlots.data())) identical = i;
    if (identical >= 0) {
      chosen = identical;
      best = 0.0f;
    } else {
      rowUnions(e);
      for (int i = 0; i < count; ++i) {
        const float cost = entries[i].costFromUnion(unions_[i], e);
        if (cost < best) best = cost, chosen = i;
      }
    }
  } else {
    for (int i = 0; i < count; ++i) {
      float cost = 0.0f;
      if (entries[i].compare(e, cost, count) == IDENTICAL) {
        chosen = i;
        best = 0.0f;
        break;
      }
      if (cost < best) best = cost, chosen = i;
    }
  }
  entries[chosen].mergeIn(e, best);
  if (tree->keepMembers) tree->memberIndex.add(e.id, entries[chosen].id);
}

int CFNode::partitionEntries(std::vector<SummaryEntry>& out) {
  // Seeds: the first pair with the largest merge cost.
  int s1 = 0;
  int s2 = 1;
  float farthest = -1.0f;
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j) {
      const float d = entries[i].mergeCost(entries[j]);
      if (d > farthest) farthest = d, s1 = i, s2 = j;
    }

  // Every other entry joins the group whose summary, as grown so far, it
  // raises least; ties go to group 1.
  SummaryEntry a(entries[s1]);
  SummaryEntry b(entries[s2]);
  std::vector<char> inGroup2(count, 0);
  inGroup2[s2] = 1;
  for (int i = 0; i < count; ++i) {
    if (i == s1 || i == s2) continue;
    const float costA = a.mergeCost(entries[i]);
    const float costB = b.mergeCost(entries[i]);
    if (costA <= costB) {
      a.mergeIn(entries[i], costA);
    } else {
      b.mergeIn(entries[i], costB);
      inGroup2[i] = 1;
    }
  }

  // Group 2 leaves in slot order; group 1 closes ranks in place, in order.
  int kept = 0;
  int moved = 0;
  for (int i = 0; i < count; ++i) {
    if (inGroup2[i]) {
      out[moved++].assign(entries[i]);
    } else {
      if (kept < i) entries[kept].assign(entries[i]);
      ++kept;
    }
  }
  for (int i = kept; i < count; ++i) entries[i].release();
  count = kept;
  return moved;
}

void CFNode::split(CFNode& sibling) {
  std::vector<SummaryEntry> group2 = emptyEntries();
  const int k = partitionEntries(group2);
  sibling.entries = std::move(group2);
  sibling.count = k;
  for (SummaryEntry& x : entries) x.son = nullptr;
  for (SummaryEntry& x : sibling.entries) x.son = nullptr;
}

SummaryEntry CFNode::summaryEntry() {
  SummaryEntry s(valueCount, tree);
  for (int i = 0; i < count; ++i) {
    const SummaryEntry& x = entries[i];
    for (int v = 0; v < valueCount; ++v) s.counts[v] += x.counts[v];
    s.n += x.n;
  }
  s.level = level + 1;
  s.id = block;
  s.son = this;
  return s;
}

}  // namespace kelbow
