#include "summary/summary_entry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "input/tables.h"
#include "summary/cf_tree.h"
#include "summary/summary_test_support.h"

namespace kelbow {
namespace {

using test::describe;
using test::rowEntry;

// Two attributes of domain sizes 2 and 3: m = 2, weights 1 and 0.63092977.
class SummaryEntryTest : public ::testing::Test {
 protected:
  SummaryEntryTest() : tree_(describe({2, 3}), 0.01f, 800, 20) {}
  SummaryEntry row(const std::vector<int>& codes, int id = 0) { return rowEntry(tree_, codes, id); }

  CFTree tree_;
};

TEST_F(SummaryEntryTest, WorkedExample) {
  SummaryEntry a = row({0, 2}, 0);
  SummaryEntry b = row({1, 2}, 1);
  SummaryEntry d = row({0, 0}, 2);

  // One row: 0, without computing or caching anything.
  EXPECT_EQ(a.entropy(), 0.0f);
  EXPECT_EQ(a.entropyCache, -1.0f);

  EXPECT_EQ(a.unionEntropy(b), 1.0f);
  float cost = -7.0f;
  EXPECT_EQ(a.compare(b, cost), FAR);
  EXPECT_EQ(cost, 1.0f);

  a.mergeIn(b, cost);
  EXPECT_EQ(a.n, 2);
  EXPECT_EQ(a.counts, (LineVector<int>{1, 1, 0, 0, 2}));
  EXPECT_EQ(a.entropyCache, 1.0f);
  EXPECT_EQ(b.n, 1);
  EXPECT_EQ(b.counts, (LineVector<int>{0, 1, 0, 0, 1}));

  // The value kept by the merge is the one a recount gives.
  SummaryEntry recount = a;
  recount.entropyCache = -1.0f;
  EXPECT_EQ(recount.entropy(), 1.0f);
  EXPECT_EQ(recount.entropyCache, 1.0f);

  EXPECT_EQ(a.unionEntropy(d), 2.2465141f);
  EXPECT_EQ(a.mergeCost(d), 1.2465141f);
  EXPECT_EQ(d.unionEntropy(a), 2.2465141f);
}

TEST_F(SummaryEntryTest, OnlyDataEntriesAreIdentical) {
  SummaryEntry a = row({1, 0});
  SummaryEntry same = row({1, 0}, 5);
  float cost = -7.0f;
  EXPECT_EQ(a.compare(same, cost), IDENTICAL);
  EXPECT_EQ(cost, -7.0f);  // no cost is written

  SummaryEntry above = a;
  above.level = 1;
  EXPECT_EQ(above.compare(same, cost), CLOSE);
  EXPECT_EQ(cost, 0.0f);

  // Rows all equal to the arriving one: not identical (the counts differ), but free to merge.
  SummaryEntry twice = a;
  twice.mergeIn(same, 0.0f);
  EXPECT_EQ(twice.compare(same, cost), CLOSE);
  EXPECT_EQ(cost, 0.0f);
}

TEST_F(SummaryEntryTest, CloseMeansStrictlyBelowTheThreshold) {
  SummaryEntry a = row({0, 2});
  SummaryEntry b = row({1, 2});
  float cost = 0.0f;
  tree_.threshold = 1.0f;
  EXPECT_EQ(a.compare(b, cost), FAR);
  tree_.threshold = std::nextafter(1.0f, 2.0f);
  EXPECT_EQ(a.compare(b, cost), CLOSE);
}

TEST_F(SummaryEntryTest, MergeInRoundsTheKeptValueOnce) {
  // (1 + 2^-24) + 2^-24 is 1 + 2^-23 in double; rounding after each addition would give 1.
  SummaryEntry s = row({0, 2});
  s.n = 2;
  s.entropyCache = 1.0f;
  SummaryEntry t = row({0, 2});
  t.n = 2;
  t.entropyCache = 0x1p-24f;
  s.mergeIn(t, 0x1p-24f);
  EXPECT_EQ(s.entropyCache, 0x1.000002p+0f);
  EXPECT_EQ(s.n, 4);
}

TEST_F(SummaryEntryTest, MergeCostSubtractsInSinglePrecisionLeftToRight) {
  // U = 2.8844156 for these four rows; with E = 0.50000006 on both sides the
  // two single-precision subtractions give 1.8844156, one double subtraction 1.8844155.
  SummaryEntry s(tree_.valueCount, &tree_);
  s.counts = {1, 1, 0, 0, 2};
  s.n = 2;
  s.entropyCache = 0x1.000002p-1f;
  SummaryEntry t(tree_.valueCount, &tree_);
  t.counts = {2, 0, 2, 0, 0};
  t.n = 2;
  t.entropyCache = 0x1.000002p-1f;
  EXPECT_EQ(s.unionEntropy(t), 0x1.713488p+1f);
  EXPECT_EQ(s.mergeCost(t), 0x1.e2691p+0f);
}

TEST_F(SummaryEntryTest, CopiesCarryTheCacheButNotTheSon) {
  SummaryEntry top = tree_.root->summaryEntry();
  EXPECT_EQ(top.son, tree_.root);
  EXPECT_EQ(top.id, tree_.root->block);
  EXPECT_EQ(top.level, 1);
  top.entropyCache = 3.5f;
  top.n = 4;

  SummaryEntry copy(tree_.valueCount, &tree_);
  copy.assign(top);
  EXPECT_EQ(copy.son, nullptr);
  EXPECT_EQ(copy.entropyCache, 3.5f);
  EXPECT_EQ(copy.entropy(), 3.5f);
  EXPECT_EQ(copy.sonNode(), tree_.root);  // resolved by block number

  // Through a record: everything but the cache, which the receiving entry keeps.
  SummaryEntry a = row({1, 1}, 42);
  a.level = 2;
  a.n = 3;
  SummaryEntry back(tree_.valueCount, &tree_);
  back.entropyCache = 0.25f;
  back.fromRecord(*a.toRecord());
  EXPECT_EQ(back.id, 42);
  EXPECT_EQ(back.n, 3);
  EXPECT_EQ(back.level, 2);
  EXPECT_EQ(back.counts, a.counts);
  EXPECT_EQ(back.entropyCache, 0.25f);
  EXPECT_EQ(back.entrySize(), 4 * 5 + 8);
}

// Domain sizes 3 and 5; rows (1, 3), (2, 4), (2, 4), (2, 4). The entry adds
// acc times the weight to the running sum in double and rounds once per
// attribute, giving 1.7225159; rounding the product first would give 1.7225161.
TEST(SummaryEntryArithmetic, RoundsOncePerAttribute) {
  CFTree tree(describe({3, 5}), 0.01f, 800, 20);
  SummaryEntry e(tree.valueCount, &tree);
  e.counts = {0, 1, 3, 0, 0, 0, 1, 3};
  e.n = 4;
  EXPECT_EQ(e.entropy(), 0x1.b8f6cep+0f);
  EXPECT_EQ(e.entropyCache, 0x1.b8f6cep+0f);
}

TEST(SummaryEntryArithmetic, SingleValuedAttributesAreSkipped) {
  // The one-valued middle attribute neither counts in m nor contributes.
  CFTree tree(describe({2, 1, 3}), 0.01f, 800, 20);
  SummaryEntry a = rowEntry(tree, {0, 0, 2}, 0);
  SummaryEntry b = rowEntry(tree, {1, 0, 2}, 1);
  EXPECT_EQ(a.unionEntropy(b), 1.0f);
}

}  // namespace
}  // namespace kelbow
