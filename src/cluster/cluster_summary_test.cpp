#include "cluster/cluster_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "cluster/two_attribute_fixture.h"
#include "input/attribute_context.h"

namespace kelbow {
namespace {

// Two attributes with domain sizes (2, 3): attribute 0 owns slots 0 and 1,
// attribute 1 owns slots 2, 3 and 4.
class ClusterSummaryTest : public TwoAttributeFixture {
 protected:
  ClusterSummary summary() { return ClusterSummary(2, 0, sizes.data(), logs.data()); }
};

TEST_F(ClusterSummaryTest, FreshSummaryIsEmpty) {
  ClusterSummary s = summary();
  EXPECT_EQ(s.rowCount, 0);
  EXPECT_EQ(s.id, -1);
  EXPECT_EQ(s.storedEntropy, 0.0f);
  EXPECT_EQ(s.denseCounts(), std::vector<int>(5, 0));
  EXPECT_TRUE(s.members.empty());
  EXPECT_EQ(s.informativeCount, 2);
}

TEST_F(ClusterSummaryTest, FirstSummaryCapturesTheContext) {
  ClusterSummary s = summary();
  EXPECT_EQ(gAttributeCount, 2);
  EXPECT_EQ(gValueCount, 5);
  EXPECT_EQ(gDomainSizes, sizes.data());
  EXPECT_EQ(gLogTable, logs.data());
  EXPECT_EQ(gWeights, weights.data());  // the loaders' business, never a summary's
}

TEST_F(ClusterSummaryTest, LaterSummaryKeepsTheFirstContext) {
  ClusterSummary first = summary();
  const std::vector<int> otherSizes{4, 4, 1};
  const std::vector<float> otherLogs{0.0f, 0.0f};
  ClusterSummary second(3, 1, otherSizes.data(), otherLogs.data());
  EXPECT_EQ(gAttributeCount, 2);
  EXPECT_EQ(gValueCount, 5);
  EXPECT_EQ(gDomainSizes, sizes.data());
  EXPECT_EQ(gLogTable, logs.data());
  EXPECT_EQ(second.denseCounts().size(), 5u);
  EXPECT_EQ(second.informativeCount, 2);  // 3 attributes, 1 one-valued: from its own arguments
}

TEST_F(ClusterSummaryTest, OneValuedAttributeStillOwnsAndCountsItsSlot) {
  const std::vector<int> withConstant{2, 1, 3};
  ClusterSummary s(3, 1, withConstant.data(), logs.data());
  const int codes[3] = {1, 0, 2};
  s.initFromRow(codes, 0);
  EXPECT_EQ(s.denseCounts(), (std::vector<int>{0, 1, 1, 0, 0, 1}));
  EXPECT_EQ(s.informativeCount, 2);
}

TEST_F(ClusterSummaryTest, InitFromRowMarksOneSlotPerAttribute) {
  auto s = row(0, 2, 7);
  EXPECT_EQ(s->denseCounts(), (std::vector<int>{1, 0, 0, 0, 1}));
  EXPECT_EQ(s->rowCount, 1);
  EXPECT_EQ(s->id, 7);
  EXPECT_EQ(s->members, MemberSet{7});
  EXPECT_EQ(s->storedEntropy, 0.0f);
  EXPECT_EQ(row(1, 0, 0)->denseCounts(), (std::vector<int>{0, 1, 1, 0, 0}));
}

TEST_F(ClusterSummaryTest, MergeAddsCountsRowsAndMembers) {
  auto survivor = row(0, 2, 5);
  auto other = row(1, 2, 2);
  survivor->merge(*other, 1.0f);
  EXPECT_EQ(survivor->denseCounts(), (std::vector<int>{1, 1, 0, 0, 2}));
  EXPECT_EQ(survivor->rowCount, 2);
  EXPECT_EQ(survivor->members, (MemberSet{2, 5}));
  EXPECT_EQ(survivor->storedEntropy, 1.0f);
  EXPECT_EQ(survivor->id, 5);

  EXPECT_EQ(other->denseCounts(), (std::vector<int>{0, 1, 0, 0, 1}));
  EXPECT_EQ(other->rowCount, 1);
  EXPECT_EQ(other->id, 2);
  EXPECT_EQ(other->members, MemberSet{2});
  other->markAbsorbed();
  EXPECT_EQ(other->id, -1);
  EXPECT_TRUE(other->members.empty());
  EXPECT_EQ(other->denseCounts(), (std::vector<int>{0, 1, 0, 0, 1}));
  EXPECT_EQ(other->rowCount, 1);
}

TEST_F(ClusterSummaryTest, MergeAddsTheStoredValuesInDoubleAndRoundsOnce) {
  // (1 + 2^-24) + 2^-24 is exactly 1 + 2^-23 in double; in single precision the
  // first sum would already round back to 1.
  const float tiny = std::ldexp(1.0f, -24);
  auto survivor = row(0, 2, 0);
  auto other = row(0, 2, 1);
  survivor->setStoredEntropy(tiny);
  other->setStoredEntropy(tiny);
  survivor->merge(*other, 1.0f);
  EXPECT_EQ(survivor->storedEntropy, 1.0f + std::ldexp(1.0f, -23));
}

TEST_F(ClusterSummaryTest, LabelsListTheMembersAscending) {
  auto survivor = row(0, 2, 5);
  survivor->merge(*row(1, 2, 2), 1.0f);
  EXPECT_EQ(survivor->labels(), (std::vector<int>{2, 5}));
}

TEST_F(ClusterSummaryTest, AssignLabelWritesOnlyTheMemberRows) {
  auto survivor = row(0, 2, 5);
  survivor->merge(*row(1, 2, 2), 1.0f);
  std::vector<int> table(8, -1);
  survivor->assignLabel(table, 3);
  EXPECT_EQ(table, (std::vector<int>{-1, -1, 3, -1, -1, 3, -1, -1}));
}

TEST_F(ClusterSummaryTest, InitFromCountsOfOneRowStoresZeroWithoutEvaluating) {
  // These counts would evaluate to 1.0 for two rows.
  ClusterSummary s = summary();
  const int table[5] = {1, 1, 0, 0, 2};
  s.initFromCounts(table, 1, 4);
  EXPECT_EQ(s.storedEntropy, 0.0f);
  EXPECT_EQ(s.denseCounts(), (std::vector<int>{1, 1, 0, 0, 2}));
  EXPECT_EQ(s.rowCount, 1);
  EXPECT_EQ(s.id, 4);
  EXPECT_EQ(s.members, MemberSet{4});
}

TEST_F(ClusterSummaryTest, InitFromCountsStoresTheEvaluatedEntropy) {
  // Rows (0, 2) and (1, 2): attribute 0 splits them, attribute 1 does not.
  ClusterSummary s = summary();
  s.setStoredEntropy(9.0f);
  const int table[5] = {1, 1, 0, 0, 2};
  s.initFromCounts(table, 2, 0);
  EXPECT_EQ(s.storedEntropy, 1.0f);
}

TEST_F(ClusterSummaryTest, AddThenRemoveRowRestoresTheCounts) {
  auto s = row(0, 2, 5);
  const int codes[2] = {1, 0};
  s->addRow(codes, 9);
  EXPECT_EQ(s->denseCounts(), (std::vector<int>{1, 1, 1, 0, 1}));
  EXPECT_EQ(s->members, (MemberSet{5, 9}));
  s->setStoredEntropy(2.0f);
  s->removeRow(codes, 9);
  EXPECT_EQ(s->denseCounts(), (std::vector<int>{1, 0, 0, 0, 1}));
  EXPECT_EQ(s->rowCount, 1);
  EXPECT_EQ(s->members, MemberSet{5});
  EXPECT_EQ(s->storedEntropy, 0.0f);
}

using ClusterSummaryDeathTest = ClusterSummaryTest;

TEST_F(ClusterSummaryDeathTest, RemovingANonMemberIsFatal) {
  auto s = row(0, 2, 5);
  const int codes[2] = {0, 2};
  EXPECT_EXIT(s->removeRow(codes, 6), testing::ExitedWithCode(1),
              "the item is not in the cluster$");
}

TEST_F(ClusterSummaryDeathTest, RemovingARowWhoseCodesItDoesNotHoldIsFatal) {
  auto s = row(0, 2, 5);
  const int codes[2] = {1, 2};
  EXPECT_EXIT(s->removeRow(codes, 5), testing::ExitedWithCode(1),
              "error: removing item from summary\n$");
}

TEST_F(ClusterSummaryDeathTest, LabelsOfMismatchedRowCountAreFatal) {
  auto s = row(0, 2, 5);
  s->rowCount = 2;
  EXPECT_EXIT(s->labels(), testing::ExitedWithCode(1), "labels and rows unmatched$");
}

}  // namespace
}  // namespace kelbow
