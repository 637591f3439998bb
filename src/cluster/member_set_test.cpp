#include "cluster/member_set.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelbow {
namespace {

std::vector<int> rowsOf(const MemberSet& s) { return {s.begin(), s.end()}; }

TEST(MemberSet, KeepsRowsAscendingAndOnce) {
  MemberSet s;
  s.insert(7);
  s.insert(3);
  s.insert(7);
  const std::vector<int> unsorted = {12, 3, 9, 12, 1};
  s.insert(unsorted.begin(), unsorted.end());
  EXPECT_EQ(rowsOf(s), (std::vector<int>{1, 3, 7, 9, 12}));
  EXPECT_TRUE(s.contains(9));
  EXPECT_FALSE(s.contains(8));
}

TEST(MemberSet, MergingInterleavedSetsIsASortedUnion) {
  MemberSet a{0, 4, 8, 12};
  const MemberSet b{2, 4, 6, 14};
  a.insert(b.begin(), b.end());
  EXPECT_EQ(rowsOf(a), (std::vector<int>{0, 2, 4, 6, 8, 12, 14}));
  EXPECT_EQ(a[3], 6);
}

TEST(MemberSet, EraseReportsWhetherTheRowWasAMember) {
  MemberSet s{1, 2, 3};
  EXPECT_TRUE(s.erase(2));
  EXPECT_FALSE(s.erase(2));
  EXPECT_FALSE(s.erase(99));
  EXPECT_EQ(rowsOf(s), (std::vector<int>{1, 3}));
  s.clear();
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s, MemberSet{});
}

}  // namespace
}  // namespace kelbow
