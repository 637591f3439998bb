#include "summary/cf_node.h"

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
}

std::vector<SummaryEntry> CFNode::emptyEntries() const {
  return std::vector<SummaryEntry>(capacity, SummaryEntry(valueCount, tree));
}

void CFNode::enter(const SummaryEntry& e) {
  if (count >= capacity) fatal("CFNode::enter: called, but node is full");
  entries[count].assign(e);
  ++count;
}

void CFNode::registerRow(int id) {
  // An entry coming back from the re-insertion list was registered on its
  // first arrival; registering it again would list its row twice.
  if (!tree->memberIndex.contains(id)) tree->memberIndex.add(id, id);
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
    const InsertStatus st = son->insert(e, newSon);
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

int CFNode::chooseSubtree(SummaryEntry& e) {
  std::vector<float> cost(count, 0.0f);
  int closeCount = 0;
  int closest = -1;
  float closestCost = kNoCost;
  for (int i = 0; i < count; ++i) {
    const Closeness r = entries[i].compare(e, cost[i]);
    if (r == IDENTICAL) return i;
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
  for (int i = 0; i < count; ++i) {
    float cost = 0.0f;
    if (entries[i].compare(e, cost) == IDENTICAL) {
      chosen = i;
      best = 0.0f;
      break;
    }
    if (cost < best) best = cost, chosen = i;
  }
  entries[chosen].mergeIn(e, best);
  tree->memberIndex.add(e.id, entries[chosen].id);
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
