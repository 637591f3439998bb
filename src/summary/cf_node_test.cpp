#include "summary/cf_node.h"

#include <gtest/gtest.h>

#include "input/tables.h"
#include "summary/cf_tree.h"
#include "summary/summary_test_support.h"

namespace kelbow {
namespace {

using test::describe;
using test::rowEntry;

std::vector<int> ids(const std::vector<SummaryEntry>& entries, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(entries[i].id);
  return out;
}

TEST(CFNodeCapacity, FollowsFromThePageSize) {
  {
    CFTree tree(describe({2, 3, 5}), 0.01f, 800, 20);  // V = 10
    EXPECT_EQ(tree.root->entries[0].entrySize(), 48);
    EXPECT_EQ(tree.pageSize, 975);
    EXPECT_EQ(tree.root->capacity, 20);
    EXPECT_EQ(tree.maxLeaves, 40);
  }
  {
    CFTree tree(describe({2, 3, 5}), 0.01f, 810, 20);
    EXPECT_EQ(tree.maxLeaves, 41);  // rounded up
  }
  {
    CFTree tree(describe({2}), 0.01f, 12, 3);  // the smallest entries
    EXPECT_EQ(tree.root->capacity, 3);
    EXPECT_EQ(tree.maxLeaves, 4);
  }
}

// Three binary attributes: two single rows cost 2k/3 where k is the number of
// attributes in which they differ.
class CFNodeTest : public ::testing::Test {
 protected:
  void build(const std::vector<int>& domains, int f, int nc = 800) {
    tree_ = std::make_unique<CFTree>(describe(domains), 0.01f, nc, f);
  }
  // A leaf (not in leafBlocks) holding the given rows, ids 0, 1, ...
  CFNode* leafOf(const std::vector<std::vector<int>>& rows) {
    CFNode* leaf = tree_->newNode();
    for (std::size_t i = 0; i < rows.size(); ++i)
      leaf->enter(rowEntry(*tree_, rows[i], static_cast<int>(i)));
    return leaf;
  }
  std::vector<SummaryEntry> emptyArray(const CFNode& node) {
    return std::vector<SummaryEntry>(node.capacity, SummaryEntry(tree_->valueCount, tree_.get()));
  }

  std::unique_ptr<CFTree> tree_;
};

TEST_F(CFNodeTest, PartitionSeedsAreTheFirstFarthestPair) {
  build({2, 2, 2}, 6);
  // Pairs (0, 1) and (2, 3) both differ in every attribute; (0, 1) is found first.
  CFNode* leaf = leafOf({{0, 0, 0}, {1, 1, 1}, {1, 1, 0}, {0, 0, 1}});
  std::vector<SummaryEntry> out = emptyArray(*leaf);
  const int moved = leaf->partitionEntries(out);
  EXPECT_EQ(moved, 2);
  EXPECT_EQ(ids(leaf->entries, leaf->count), (std::vector<int>{0, 3}));
  EXPECT_EQ(ids(out, moved), (std::vector<int>{1, 2}));
}

TEST_F(CFNodeTest, PartitionTiesGoToGroupOne) {
  build({2, 2, 2, 2}, 6);
  // Row 2 is as far from seed 0 as from seed 1.
  CFNode* leaf = leafOf({{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 1, 1}});
  std::vector<SummaryEntry> out = emptyArray(*leaf);
  const int moved = leaf->partitionEntries(out);
  EXPECT_EQ(ids(leaf->entries, leaf->count), (std::vector<int>{0, 2}));
  EXPECT_EQ(ids(out, moved), (std::vector<int>{1}));
}

TEST_F(CFNodeTest, PartitionGrowsTheGroupSummaries) {
  build({2, 2, 2, 2}, 8);
  // Row 3 is as far from seed 0 as from seed 1 (a tie, group 1), but group 2
  // has taken row 2 by then, which pulls it to group 2.
  CFNode* leaf = leafOf({{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 1, 1, 1}, {0, 0, 1, 1}});
  std::vector<SummaryEntry> out = emptyArray(*leaf);
  const int moved = leaf->partitionEntries(out);
  EXPECT_EQ(ids(out, moved), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ids(leaf->entries, leaf->count), (std::vector<int>{0}));
}

TEST_F(CFNodeTest, SplitMovesGroupTwoAndClearsSonCaches) {
  build({2, 2, 2}, 6);
  CFNode* leaf = leafOf({{0, 0, 0}, {1, 1, 1}, {1, 1, 0}, {0, 0, 1}});
  for (SummaryEntry& e : leaf->entries) e.son = leaf;
  CFNode* sibling = tree_->newNode();
  leaf->split(*sibling);
  EXPECT_EQ(ids(leaf->entries, leaf->count), (std::vector<int>{0, 3}));
  EXPECT_EQ(ids(sibling->entries, sibling->count), (std::vector<int>{1, 2}));
  EXPECT_EQ(static_cast<int>(sibling->entries.size()), sibling->capacity);
  for (const SummaryEntry& e : leaf->entries) EXPECT_EQ(e.son, nullptr);
  for (const SummaryEntry& e : sibling->entries) EXPECT_EQ(e.son, nullptr);
}

TEST_F(CFNodeTest, AbsorbTakesTheFirstIdenticalEntry) {
  build({2, 2, 2}, 3);
  // Slot 1 holds the arriving row twice (cost 0, CLOSE); slot 2 holds it once
  // (IDENTICAL). A cheapest-first scan would stop at slot 1.
  CFNode* leaf = leafOf({{1, 1, 1}, {0, 1, 0}, {0, 1, 0}});
  SummaryEntry again = rowEntry(*tree_, {0, 1, 0}, 9);
  leaf->entries[1].mergeIn(again, 0.0f);
  ASSERT_EQ(leaf->count, leaf->capacity);

  SummaryEntry arriving = rowEntry(*tree_, {0, 1, 0}, 10);
  leaf->absorb(arriving);
  EXPECT_EQ(leaf->entries[1].n, 2);
  EXPECT_EQ(leaf->entries[2].n, 2);
  EXPECT_EQ(leaf->entries[2].counts, (LineVector<int>{2, 0, 0, 2, 2, 0}));
  std::vector<int> rows;
  EXPECT_EQ(tree_->memberIndex.rowsOf(2, rows), 1);
  EXPECT_EQ(rows, std::vector<int>{10});
}

TEST_F(CFNodeTest, AbsorbOtherwiseTakesTheFirstCheapestEntry) {
  build({2, 2, 2}, 3);
  CFNode* leaf = leafOf({{1, 1, 1}, {0, 1, 1}, {0, 1, 1}});
  SummaryEntry other = rowEntry(*tree_, {0, 1, 1}, 7);
  leaf->entries[1].mergeIn(other, 0.0f);
  leaf->entries[2].mergeIn(other, 0.0f);
  SummaryEntry arriving = rowEntry(*tree_, {0, 0, 1}, 11);
  leaf->absorb(arriving);  // slots 1 and 2 cost the same; slot 1 comes first
  EXPECT_EQ(leaf->entries[0].n, 1);
  EXPECT_EQ(leaf->entries[1].n, 3);
  EXPECT_EQ(leaf->entries[2].n, 2);
  std::vector<int> rows;
  EXPECT_EQ(tree_->memberIndex.rowsOf(1, rows), 1);
  EXPECT_EQ(rows, std::vector<int>{11});
}

// A node of level 1 whose entries summarise rows directly (no real sons are needed
// to choose a subtree). Two binary attributes, threshold 0.5.
class ChooseSubtreeTest : public CFNodeTest {
 protected:
  void SetUp() override {
    build({2, 2}, 4);
    tree_->threshold = 0.5f;
    node_ = tree_->newNode();
    node_->level = 1;
  }
  void add(const std::vector<std::vector<int>>& rows) {
    SummaryEntry e(tree_->valueCount, tree_.get());
    for (const auto& r : rows) {
      SummaryEntry one = rowEntry(*tree_, r, 0);
      e.mergeIn(one, e.n == 0 ? 0.0f : e.mergeCost(one));
    }
    e.entropyCache = -1.0f;
    e.level = 1;
    node_->enter(e);
  }
  CFNode* node_ = nullptr;
};

TEST_F(ChooseSubtreeTest, OneCloseEntryStillStartsANewLeaf) {
  add({{0, 0}, {0, 1}});  // cost 0.377 for row (0, 0): close
  add({{1, 1}});          // cost 2: far
  SummaryEntry row = rowEntry(*tree_, {0, 0}, 5);
  EXPECT_EQ(node_->chooseSubtree(row), -1);

  // A full tree, or a full node, makes no new leaf: the cheapest entry is taken.
  tree_->leafCount = tree_->maxLeaves;
  EXPECT_EQ(node_->chooseSubtree(row), 0);
  tree_->leafCount = 1;
  add({{1, 1}});
  add({{1, 0}});
  ASSERT_EQ(node_->count, node_->capacity);
  EXPECT_EQ(node_->chooseSubtree(row), 0);
}

TEST_F(ChooseSubtreeTest, TwoCloseEntriesChooseTheCheapestOfThem) {
  add({{0, 0}, {0, 1}});  // close, cost 0.377
  add({{1, 1}});          // far
  add({{0, 0}});          // close, cost 0
  SummaryEntry row = rowEntry(*tree_, {0, 0}, 5);
  EXPECT_EQ(node_->chooseSubtree(row), 2);
}

TEST_F(ChooseSubtreeTest, AboveLevelOneTheCheapestEntryIsTaken) {
  node_->level = 2;
  add({{1, 1}});
  add({{0, 0}, {0, 1}});
  SummaryEntry row = rowEntry(*tree_, {0, 0}, 5);
  EXPECT_EQ(node_->chooseSubtree(row), 1);
}

// A leaf below a level-1 root, in a tree of fan-out 4 (a leaf overflows at 3 entries).
class LeafInsertTest : public CFNodeTest {
 protected:
  void SetUp() override {
    build({2, 2, 2}, 4);
    leaf_ = tree_->root;
    CFNode* top = tree_->newNode();
    top->level = 1;
    tree_->root = top;
    tree_->rootBlock = top->block;
    tree_->reinsertDone.assign(2, 0);
    leaf_->enter(rowEntry(*tree_, {0, 0, 0}, 0));
    leaf_->enter(rowEntry(*tree_, {1, 1, 1}, 1));
  }
  CFNode* leaf_ = nullptr;
};

TEST_F(LeafInsertTest, FirstOverflowShedsTheFarGroupForReinsertion) {
  SummaryEntry e = rowEntry(*tree_, {1, 1, 0}, 2);
  CFNode* sibling = nullptr;
  EXPECT_EQ(leaf_->insert(e, sibling), REINSERT);
  EXPECT_EQ(sibling, nullptr);
  EXPECT_TRUE(tree_->reinsertDone[0]);
  EXPECT_EQ(ids(leaf_->entries, leaf_->count), (std::vector<int>{0}));
  ASSERT_EQ(tree_->re_data_cands.anz, 2);
  // Group order 1, 2 put at the head in turn: 2 comes out first.
  EXPECT_EQ(tree_->re_data_cands.first()->id, 2);
  EXPECT_EQ(tree_->re_data_cands.next()->id, 1);
  EXPECT_EQ(tree_->leafCount, 1);
  std::vector<int> rows;
  EXPECT_EQ(tree_->memberIndex.rowsOf(2, rows), 1);
}

TEST_F(LeafInsertTest, OverflowAfterAReinsertionSplits) {
  tree_->reinsertDone[0] = 1;
  SummaryEntry e = rowEntry(*tree_, {1, 1, 0}, 2);
  CFNode* sibling = nullptr;
  EXPECT_EQ(leaf_->insert(e, sibling), SPLIT);
  ASSERT_NE(sibling, nullptr);
  EXPECT_FALSE(tree_->reinsertDone[0]);
  EXPECT_EQ(sibling->level, 0);
  EXPECT_EQ(tree_->leafCount, 2);
  EXPECT_EQ(tree_->leafBlocks[1], sibling->block);
  EXPECT_EQ(ids(leaf_->entries, leaf_->count), (std::vector<int>{0}));
  EXPECT_EQ(ids(sibling->entries, sibling->count), (std::vector<int>{1, 2}));
  EXPECT_EQ(tree_->re_data_cands.anz, 0);
}

TEST_F(LeafInsertTest, AFullTreeNeitherShedsNorSplits) {
  tree_->leafCount = tree_->maxLeaves;
  CFNode* sibling = nullptr;
  SummaryEntry e = rowEntry(*tree_, {1, 1, 0}, 2);
  EXPECT_EQ(leaf_->insert(e, sibling), DONE);
  SummaryEntry f = rowEntry(*tree_, {0, 1, 0}, 3);
  EXPECT_EQ(leaf_->insert(f, sibling), DONE);
  EXPECT_EQ(leaf_->count, leaf_->capacity);
  // Now full: the next row is absorbed and not registered under its own id.
  SummaryEntry g = rowEntry(*tree_, {0, 0, 0}, 4);
  EXPECT_EQ(leaf_->insert(g, sibling), DONE);
  EXPECT_EQ(leaf_->count, leaf_->capacity);
  EXPECT_EQ(leaf_->entries[0].n, 2);
  EXPECT_EQ(tree_->memberIndex.entryOf(4), leaf_->entries[0].id);
  EXPECT_EQ(sibling, nullptr);
}

TEST(CFNodeDeathTest, EnteringAFullNodeEndsTheProcess) {
  CFTree tree(describe({2, 2}), 0.01f, 800, 3);
  for (int i = 0; i < 3; ++i) tree.root->enter(rowEntry(tree, {0, 1}, i));
  EXPECT_EXIT(tree.root->enter(rowEntry(tree, {0, 1}, 3)), ::testing::ExitedWithCode(1),
              "^CFNode::enter: called, but node is full$");
}

}  // namespace
}  // namespace kelbow

namespace kelbow {
namespace {

// A level-1 root whose sons are real leaves, in a tree of fan-out 4.
class SonSplitTest : public CFNodeTest {
 protected:
  // Leaves holding the given rows, entered in the root in this order.
  void grow(const std::vector<std::vector<std::vector<int>>>& leaves) {
    build({2, 2, 2}, 4);
    CFNode* top = tree_->newNode();
    top->level = 1;
    int id = 100;
    for (std::size_t li = 0; li < leaves.size(); ++li) {
      CFNode* leaf = li == 0 ? tree_->root : tree_->newNode();
      for (const auto& r : leaves[li]) {
        leaf->enter(rowEntry(*tree_, r, id));
        tree_->memberIndex.add(id, id);
        ++id;
      }
      if (li > 0) tree_->leafBlocks[tree_->leafCount++] = leaf->block;
      top->enter(leaf->summaryEntry());
    }
    tree_->root = top;
    tree_->rootBlock = top->block;
    tree_->reinsertDone.assign(2, 1);  // a re-insertion already ran: leaves split
  }
};

TEST_F(SonSplitTest, AFullNodeSplitsFirstAndTheNewSonJoinsTheSmallerHalf) {
  // The root is full (4 of 4). Row (0, 0, 0) goes to the first leaf, which splits.
  grow({{{0, 0, 0}, {0, 0, 1}}, {{1, 1, 1}}, {{1, 1, 0}}, {{0, 0, 1}}});
  CFNode* root = tree_->root;
  ASSERT_EQ(root->count, root->capacity);
  const int nodesBefore = static_cast<int>(tree_->nodes.size());
  SummaryEntry e = rowEntry(*tree_, {0, 0, 0}, 7);
  CFNode* sibling = nullptr;
  EXPECT_EQ(root->insert(e, sibling), SPLIT);
  ASSERT_NE(sibling, nullptr);
  EXPECT_EQ(sibling->level, 1);
  EXPECT_EQ(static_cast<int>(tree_->nodes.size()), nodesBefore + 2);  // a leaf and the sibling
  EXPECT_EQ(tree_->leafCount, 5);
  // The four old sons split two (first and last) and two; on the tie the new
  // son joins this node.
  EXPECT_EQ(root->count, 3);
  EXPECT_EQ(sibling->count, 2);
  const CFNode* newLeaf = tree_->nodes[nodesBefore].get();
  EXPECT_EQ(root->entries[2].id, newLeaf->block);
  int rows = 0;
  for (int i = 0; i < root->count; ++i) rows += root->entries[i].n;
  for (int i = 0; i < sibling->count; ++i) rows += sibling->entries[i].n;
  EXPECT_EQ(rows, 6);
}

}  // namespace
}  // namespace kelbow
