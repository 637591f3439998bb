#include "api/held_rows.h"

#include <gtest/gtest.h>

namespace kelbow {
namespace {

TEST(NumberBySizeTest, LargestFirstTiesByFirstRow) {
  // Sizes: label 7 has 3 rows, labels 0 and 5 two each (5 appears first), -1 one.
  EXPECT_EQ(numberBySize({5, 0, 7, 7, 5, 0, 7, -1}), (std::vector<int>{2, 3, 1, 1, 2, 3, 1, 4}));
  EXPECT_EQ(numberBySize({3, 3, 3}), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(numberBySize({}), std::vector<int>{});
}

}  // namespace
}  // namespace kelbow
