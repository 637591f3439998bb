// kelbow-labels end to end: arguments, errors, exit status and the label files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

std::vector<int> labelsIn(const std::string& text) {
  std::vector<int> out;
  std::istringstream in(text);
  for (int v; in >> v;) out.push_back(v);
  return out;
}

class KelbowLabels : public ::testing::Test {
 protected:
  void SetUp() override {
    // The three-row table: rows (0, 2), (1, 2), (0, 0); rows 0 and 2 merge first.
    dir_.write("t.desc", "3 2\n2\n3\n");
    dir_.write("t.data", "0 2\n1 2\n0 0\n");
  }
  ToolRun labels(const std::vector<std::string>& args) {
    return runTool(KELBOW_LABELS_EXE, args, dir_.path(), "kelbow-labels");
  }
  TempDir dir_;
};

TEST_F(KelbowLabels, WritesTheLevelsFromKDownToTwo) {
  const ToolRun r = labels({"-d", "t.data", "-n", "t.desc", "-k", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "t.dataf0nc0.hier2\n");
  EXPECT_EQ(dir_.read("t.dataf0nc0.hier2"), "0\n1\n0\n");
  EXPECT_FALSE(dir_.exists("t.data.kelbow"));  // nothing is appended to the result file
  EXPECT_FALSE(dir_.exists("t.dataf0nc0.hier1"));
}

TEST_F(KelbowLabels, StartingCountIsTheLargestLevel) {
  dir_.write("t.dataf0nc0.hier3", "stale\nstale\nstale\nstale\n");
  const ToolRun r = labels({"-k3", "-dt.data", "-nt.desc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "t.dataf0nc0.hier3\nt.dataf0nc0.hier2\n");
  EXPECT_EQ(dir_.read("t.dataf0nc0.hier3"), "0\n1\n2\n");  // overwritten, not appended to
  EXPECT_EQ(dir_.read("t.dataf0nc0.hier2"), "0\n1\n0\n");
}

TEST_F(KelbowLabels, BadArgumentsFail) {
  const std::vector<std::vector<std::string>> missing = {
      {"-d", "t.data", "-n", "t.desc"}, {"-n", "t.desc", "-k", "2"}, {"-d", "t.data", "-k", "2"}};
  for (const auto& args : missing) {
    const ToolRun r = labels(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        "kelbow-labels: -d DATA, -n DESC and -k K are all required (see kelbow-labels --help)\n");
  }
  for (const char* k : {"1", "0", "-2", "two", "2.5", "", "99999999999"}) {
    const ToolRun r = labels({"-d", "t.data", "-n", "t.desc", "-k", k});
    EXPECT_EQ(r.status, 1) << k;
    EXPECT_NE(r.err.find("is not an integer of at least 2"), std::string::npos)
        << k << ": " << r.err;
    EXPECT_EQ(r.out, "");
  }
  ToolRun r = labels({"-d", "t.data", "-n", "t.desc", "-k", "4"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("4 clusters asked for, but the table starts from 3 clusters"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(dir_.exists("t.dataf0nc0.hier2"));

  r = labels({"-x", "-d", "t.data", "-n", "t.desc", "-k", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow-labels: unknown option -x (see kelbow-labels --help)\n");

  r = labels({"-d", "t.data", "-n", "none.desc", "-k", "2"});
  EXPECT_EQ(r.status, 1);
  r = labels({"-d", "none.data", "-n", "t.desc", "-k", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("can't open data file"), std::string::npos);
}

TEST_F(KelbowLabels, OneFileForKNumberedBySize) {
  // Four rows: rows 0, 1 and 3 alike, row 2 apart; at two clusters the larger
  // cluster (rows 0, 1, 3) is 1 whatever the snapshot's labels are.
  dir_.write("t.desc", "4 2\n2\n2\n");
  dir_.write("t.data", "1 1\n1 1\n0 0\n1 1\n");
  ToolRun r = labels({"--data", "t.data", "--desc", "t.desc", "--clusters", "2", "-o", "t.k2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir_.read("t.k2"), "1\n1\n2\n1\n");
  EXPECT_FALSE(dir_.exists("t.dataf0nc0.hier2"));
  r = labels({"-d", "t.data", "-n", "t.desc", "-k", "3", "-o", "-", "--snapshots"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "1\n1\n2\n3\n");  // three clusters {0, 1}, {2}, {3}: of the two ones, row 2's first
  EXPECT_TRUE(dir_.exists("t.dataf0nc0.hier3"));
  EXPECT_TRUE(dir_.exists("t.dataf0nc0.hier2"));
}

// A failed run leaves no file of its own behind, and its message starts a line
// even when it interrupts the large-table road's progress line.
TEST_F(KelbowLabels, FailedRunsLeaveNothingAndSayItOnALineOfItsOwn) {
  std::filesystem::create_directory(dir_ / "t.dataf0nc0.hier2");
  ToolRun r = labels({"-d", "t.data", "-n", "t.desc", "-k", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\nkelbow-labels: t.dataf0nc0.hier2: cannot write ("), std::string::npos)
      << r.err;
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"t.data", "t.dataf0nc0.hier2", "t.desc"}));

  const ToolRun gen = runTool(KELBOW_MAKE_TABLE_EXE, {"big", "3", "1600", "4", "3", "0.1", "5"},
                              dir_.path(), "kelbow-make-table");
  ASSERT_EQ(gen.status, 0) << gen.err;
  std::string data = dir_.read("big.data");
  data.replace(data.rfind("\n", data.size() - 2) + 1, 1, "7");  // the last record's first code
  dir_.write("big.data", data);
  r = labels({"-d", "big.data", "-n", "big.desc", "-k", "3", "-o", "big.k3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.err.find(
          "inserting object 1500\nkelbow-labels: big.data: record 1600, attribute 1: the code 7"),
      std::string::npos)
      << r.err;
  EXPECT_FALSE(dir_.exists("big.k3"));
}

TEST_F(KelbowLabels, BadInputIsRefused) {
  dir_.write("t.data", "0 2\n1 5\n0 0\n");
  const ToolRun r = labels({"-d", "t.data", "-n", "t.desc", "-k", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("t.data: record 2, attribute 2: the code 5"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

// Each level labels every row, uses exactly the labels 0..k-1, and only splits
// clusters of the level below it (rows together at level k are together at k-1).
void expectNestedLevels(const TempDir& dir, const std::string& prefix, int rows, int top) {
  std::vector<int> above;
  for (int k = 2; k <= top; ++k) {
    const std::vector<int> level = labelsIn(dir.read(prefix + std::to_string(k)));
    ASSERT_EQ(static_cast<int>(level.size()), rows) << "level " << k;
    const std::set<int> used(level.begin(), level.end());
    ASSERT_EQ(static_cast<int>(used.size()), k) << "level " << k;
    EXPECT_EQ(*used.begin(), 0);
    EXPECT_EQ(*used.rbegin(), k - 1);
    if (!above.empty()) {
      std::map<int, int> parent;  // label at level k -> label at level k - 1
      for (int r = 0; r < rows; ++r) {
        auto [it, fresh] = parent.emplace(level[r], above[r]);
        EXPECT_EQ(it->second, above[r]) << "row " << r << " at level " << k;
      }
    }
    above = level;
  }
}

// The generator deals rows to its planted clusters in turn; well separated, the
// four clusters come back exactly.
TEST_F(KelbowLabels, PlantedClustersComeBack) {
  const ToolRun gen = runTool(KELBOW_MAKE_TABLE_EXE, {"p", "4", "400", "20", "6", "0.1", "11"},
                              dir_.path(), "kelbow-make-table");
  ASSERT_EQ(gen.status, 0) << gen.err;
  const ToolRun r = labels({"-d", "p.data", "-n", "p.desc", "-k", "6"});
  ASSERT_EQ(r.status, 0) << r.err;
  expectNestedLevels(dir_, "p.dataf0nc0.hier", 400, 6);
  const std::vector<int> four = labelsIn(dir_.read("p.dataf0nc0.hier4"));
  std::map<int, std::set<int>> labelsOfPlanted;
  for (int row = 0; row < 400; ++row) labelsOfPlanted[row % 4].insert(four[row]);
  std::set<int> distinct;
  for (const auto& [planted, found] : labelsOfPlanted) {
    EXPECT_EQ(found.size(), 1u) << "planted cluster " << planted << " is split";
    distinct.insert(*found.begin());
  }
  EXPECT_EQ(distinct.size(), 4u);
}

// A large table takes the tree road; the file names carry its parameters.
TEST_F(KelbowLabels, LargeTablesUseTheTreeParametersInTheirNames) {
  const ToolRun gen = runTool(KELBOW_MAKE_TABLE_EXE, {"big", "3", "3000", "12", "5", "0.1", "5"},
                              dir_.path(), "kelbow-make-table");
  ASSERT_EQ(gen.status, 0) << gen.err;
  const ToolRun r = labels({"-d", "big.data", "-n", "big.desc", "-k", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "big.dataf20nc800.hier3\nbig.dataf20nc800.hier2\n");
  expectNestedLevels(dir_, "big.dataf20nc800.hier", 3000, 3);
  EXPECT_FALSE(dir_.exists("big.data.kelbow"));
}

}  // namespace
}  // namespace kelbow::testing
