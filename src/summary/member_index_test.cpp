#include "summary/member_index.h"

#include <gtest/gtest.h>

namespace kelbow {
namespace {

TEST(MemberIndex, ListsRowsPerIdInOrderOfAddition) {
  MemberIndex index;
  index.add(7, 7);
  index.add(12, 7);
  index.add(3, 3);
  index.add(15, 7);
  index.add(12, 7);  // duplicates are kept
  std::vector<int> rows = {99};
  EXPECT_EQ(index.rowsOf(7, rows), 4);
  EXPECT_EQ(rows, (std::vector<int>{7, 12, 15, 12}));
  EXPECT_EQ(index.rowsOf(3, rows), 1);
  EXPECT_EQ(rows, std::vector<int>{3});
  EXPECT_TRUE(index.contains(3));
  EXPECT_FALSE(index.contains(12));
}

TEST(MemberIndex, UnknownIdIsReportedAndYieldsNoRows) {
  MemberIndex index;
  index.add(1, 1);
  std::vector<int> rows = {4, 5};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(index.rowsOf(2, rows), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "the corresponding cluster is not found\n");
  EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace kelbow
