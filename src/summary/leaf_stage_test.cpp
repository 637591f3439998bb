#include "summary/leaf_stage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "summary/cf_tree.h"
#include "summary/summary_test_support.h"

namespace kelbow {
namespace {

// The same rows into a tree on one thread and into a tree whose full part
// below the root is taken by a leaf stage: the same nodes, entries (bit for
// bit) and row memberships, whatever the shape.
struct Staged {
  const char* what;
  std::vector<int> domains;
  int f;
  int nc;
  int rows;
  int everyKthIsRowZero;  // 0: no planted duplicates
};

void PrintTo(const Staged& s, std::ostream* os) { *os << s.what; }

class LeafStageRows : public ::testing::TestWithParam<Staged> {};

TEST_P(LeafStageRows, LeaveTheTreeAsOneThreadDoes) {
  const Staged& s = GetParam();
  auto rows = test::plantedTable(s.rows, s.domains, 5, 0.3, 17);
  // A domain too large for two bytes: its codes go near its top.
  for (auto& r : rows)
    for (std::size_t a = 0; a < s.domains.size(); ++a)
      if (s.domains[a] > 65536) r[a] = s.domains[a] - 1 - r[a] % 16;
  if (s.everyKthIsRowZero > 0)
    for (std::size_t r = 0; r < rows.size(); r += s.everyKthIsRowZero) rows[r] = rows[0];
  CFTree plain(test::describe(s.domains), 0.01f, s.nc, s.f);
  CFTree staged(test::describe(s.domains), 0.01f, s.nc, s.f);
  {
    LeafStage stage(staged);
    for (const auto& r : rows) {
      plain.insertRow(r.data());
      staged.insertRow(r.data());
    }
    stage.finish();
  }
  EXPECT_EQ(staged.leafStage, nullptr);
  ASSERT_TRUE(plain.isMemoryFull()) << "the rows never filled the tree";
  EXPECT_EQ(staged.rowsInserted, plain.rowsInserted);
  test::expectSameTrees(staged, plain, s.rows);
  test::expectTreeInvariants(staged);
  ASSERT_EQ(staged.memberIndex.size(), plain.memberIndex.size());
  for (int r = 0; r < plain.rowsInserted; ++r)
    ASSERT_EQ(staged.memberIndex.entryOf(r), plain.memberIndex.entryOf(r)) << "row " << r;
}

INSTANTIATE_TEST_SUITE_P(Shapes, LeafStageRows,
                         ::testing::Values(
                             // The root is the only leaf: the stage takes every row from the root.
                             Staged{"one leaf", {2, 3, 4}, 3, 3, 3000, 0},
                             // Deep trees of small nodes: the stage goes down several levels.
                             Staged{"fan-out three", {2, 2, 2, 3}, 3, 60, 6000, 0},
                             // More rows than the ring holds: the tree's thread waits for room.
                             Staged{"a full ring", {4, 4, 4}, 20, 800, 30000, 0},
                             Staged{"duplicate rows", {4, 4, 4, 4}, 20, 800, 5000, 2},
                             Staged{"many attributes, one-valued among them",
                                    {3, 1, 5, 2, 8, 1, 4, 6, 3, 2, 9, 7},
                                    20,
                                    800,
                                    6000,
                                    0},
                             // Codes handed over in two and in four bytes.
                             Staged{"codes of two bytes", {300, 4, 4}, 20, 800, 5000, 0},
                             Staged{"codes of four bytes", {70000, 3}, 3, 3, 120, 0}),
                         test::caseName<Staged>);

}  // namespace
}  // namespace kelbow
