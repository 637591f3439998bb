#include "summary/member_index.h"

#include <gtest/gtest.h>

namespace kelbow {
namespace {

TEST(MemberIndex, EveryRowBelongsToTheEntryItWentToLast) {
  MemberIndex index;
  index.add(0, 0);
  index.add(1, 0);
  index.add(3, 3);  // row 2 not yet recorded
  EXPECT_EQ(index.size(), 4);
  EXPECT_EQ(index.entryOf(2), -1);
  EXPECT_EQ(index.entryOf(9), -1);
  index.add(2, 3);
  index.add(1, 3);  // re-registered: the later entry holds it
  std::vector<int> rows = {99};
  EXPECT_EQ(index.rowsOf(3, rows), 3);
  EXPECT_EQ(rows, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(index.rowsOf(0, rows), 1);
  EXPECT_EQ(rows, std::vector<int>{0});

  // Rows past one block of the index.
  index.add(200000, 7);
  EXPECT_EQ(index.size(), 200001);
  EXPECT_EQ(index.entryOf(200000), 7);
  EXPECT_EQ(index.entryOf(199999), -1);
  EXPECT_EQ(index.entryOf(3), 3);
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
