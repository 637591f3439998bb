// The large-table road end to end: tables of 1500 declared rows and more are
// condensed by the summary tree before the merging. Result file, standard
// streams and exit status are compared byte for byte where a golden file
// exists, and checked for their structure everywhere else.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

const std::string kBackspaces(79, '\b');

// Standard output of the tree road up to the merges: the description echo,
// one progress line per hundred rows read, and the newline that ends them.
std::string treeOutput(int declared, const std::vector<int>& domains, int rowsRead) {
  std::string out =
      "rows=" + std::to_string(declared) + " cols = " + std::to_string(domains.size()) + "\n";
  for (int d : domains) out += std::to_string(d) + "\n";
  for (int c = 100; c <= rowsRead; c += 100)
    out += kBackspaces + "inserting object " + std::to_string(c);
  return out + "\n";
}

std::string iterations(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += "iteration " + std::to_string(i) + "\n";
  return s;
}

// Checks one run's output against the tree road's shape; returns the number of
// starting clusters the tree gave (one more than the merges).
int expectTreeRun(const ToolRun& r, const std::string& prefix, const std::string& result,
                  const std::string& dataName) {
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind(prefix, 0), 0u) << dataName;
  const std::vector<std::string> merges =
      lines(r.out.substr(std::min(prefix.size(), r.out.size())));
  const int clusters = static_cast<int>(merges.size()) + 1;
  EXPECT_EQ(r.out.substr(std::min(prefix.size(), r.out.size())), iterations(clusters - 1))
      << dataName;
  EXPECT_LE(clusters, 800) << dataName;
  const std::vector<std::string> block = lines(result);
  EXPECT_EQ(block.size(), 33u) << dataName;
  if (block.size() == 33u) {
    EXPECT_EQ(block[0], "f=20, nc=800");
    EXPECT_EQ(block[1], dataName);
    EXPECT_EQ(block[2], "kelbow");
    EXPECT_EQ(block[32], dataName + ".kelbow");
  }
  return clusters;
}

class LargeTable : public KelbowTest {
 protected:
  ToolRun makeTable(const std::vector<std::string>& args) {
    return runTool(KELBOW_MAKE_TABLE_EXE, args, dir_.path(), "kelbow-make-table");
  }
};

// Several planted clusters over few attributes: nodes above the leaves fill to
// the brim and must split before taking a new son.
TEST_F(LargeTable, StrongClustersOnThreeAttributesComplete) {
  ASSERT_EQ(makeTable({"s", "4", "4000", "3", "4", "0.2", "2"}).status, 0);
  const ToolRun r = kelbow({"-d", "s.data", "-n", "s.desc"});
  expectTreeRun(r, treeOutput(4000, {4, 4, 4}, 4000), dir_.read("s.data.kelbow"), "s.data");
}

TEST_F(LargeTable, RowsReadCountNotRowsDeclared) {
  ASSERT_EQ(makeTable({"t", "5", "1700", "8", "5", "0.3", "9"}).status, 0);
  const std::string data = dir_.read("t.data");
  const std::vector<int> domains(8, 5);
  std::string domainLines;
  for (int d : domains) domainLines += std::to_string(d) + "\n";

  const ToolRun exact = kelbow({"-d", "t.data", "-n", "t.desc"});
  const int clusters =
      expectTreeRun(exact, treeOutput(1700, domains, 1700), dir_.read("t.data.kelbow"), "t.data");
  const std::string block = dir_.read("t.data.kelbow");

  // Fewer rows declared than present (still on the tree road), and far more:
  // every record is read, nothing is allocated for absent rows, and the result
  // is the same as with the true count.
  for (const std::string declared : {"1500", "2000000000"}) {
    std::filesystem::remove(dir_ / "t.data.kelbow");
    dir_.write("t.desc", declared + " 8\n" + domainLines);
    const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
    EXPECT_EQ(r.status, 0) << declared << ": " << r.err;
    EXPECT_EQ(r.out, treeOutput(std::stoi(declared), domains, 1700) + iterations(clusters - 1))
        << declared;
    EXPECT_EQ(dir_.read("t.data.kelbow"), block) << declared;
  }
}

TEST_F(LargeTable, TheOldTreeFileIsRemoved) {
  ASSERT_EQ(makeTable({"t", "3", "1500", "6", "4", "0.2", "3"}).status, 0);
  std::filesystem::create_directory(dir_ / "trees");
  dir_.write("trees/t00", "stale");
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(dir_.exists("trees/t00"));
  EXPECT_TRUE(dir_.exists("trees"));
  // Without the directory nothing is said.
  std::filesystem::remove_all(dir_ / "trees");
  const ToolRun again = kelbow({"-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
}

// Records that are all alike gather in few leaf entries: with 10,077 records of
// "1 2" the largest entry holds 10,000 rows, with one record more 10,001. A
// starting cluster may hold any number of rows, so both complete, and since
// every clustering of identical rows has entropy 0, both give the same block.
TEST_F(LargeTable, AStartingClusterMayHoldAnyNumberOfRows) {
  const auto alike = [&](int rows) {
    dir_.write("z.desc", std::to_string(rows) + " 2\n3\n4\n");
    std::string data;
    for (int i = 0; i < rows; ++i) data += "1 2\n";
    dir_.write("z.data", data);
    std::filesystem::remove(dir_ / "z.data.kelbow");
    return kelbow({"-d", "z.data", "-n", "z.desc"});
  };

  const ToolRun fewer = alike(10077);
  const std::string fewerBlock = dir_.read("z.data.kelbow");
  expectTreeRun(fewer, treeOutput(10077, {3, 4}, 10077), fewerBlock, "z.data");

  const ToolRun more = alike(10078);
  const std::string moreBlock = dir_.read("z.data.kelbow");
  expectTreeRun(more, treeOutput(10078, {3, 4}, 10078), moreBlock, "z.data");
  EXPECT_EQ(moreBlock, fewerBlock);
}

struct BadTree {
  const char* what;
  int goodRecords;  // good records before the bad tail
  std::string tail;
  std::string message;
};

void PrintTo(const BadTree& b, std::ostream* os) { *os << b.what; }

class LargeTableBadInput : public LargeTable, public ::testing::WithParamInterface<BadTree> {};

// Bad records are refused with one line naming the file, the record and the
// attribute, status 1, and the result file as it was (absent, or byte for byte
// what it held), however far into the file they are.
TEST_P(LargeTableBadInput, IsRefusedWithOneLine) {
  const BadTree& b = GetParam();
  std::string data;
  for (int i = 0; i < b.goodRecords; ++i)
    data += std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
  dir_.write("t.desc", "1600 2\n2\n3\n");
  dir_.write("t.data", data + b.tail);
  const ToolRun r = kelbowFailing({"-d", "t.data", "-n", "t.desc"}, "t.data.kelbow");
  EXPECT_EQ(r.err, b.message);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LargeTableBadInput,
    ::testing::Values(BadTree{"code above its domain", 1599, "1 3\n",
                              "t.data: record 1600, attribute 2: the code 3 is outside 0..2\n"},
                      BadTree{"negative code", 1599, "-1 0\n",
                              "t.data: record 1600, attribute 1: the code -1 is outside 0..1\n"},
                      BadTree{"not an integer", 1599, "1 two\n",
                              "t.data: record 1600, attribute 2: 'two' is not a decimal integer\n"},
                      BadTree{"short last record", 1599, "1\n",
                              "t.data: record 1600, attribute 2: the code is missing; the file "
                              "ends inside the record\n"},
                      BadTree{"empty data", 0, "", "t.data: holds no records\n"},
                      BadTree{"white space only", 0, " \n\n", "t.data: holds no records\n"}),
    [](const ::testing::TestParamInfo<BadTree>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

using LargeRealData = SharedDataTest;

TEST_F(LargeRealData, MushroomMatchesTheGoldenFiles) { expectGoldenRun("mushroom"); }

TEST_F(LargeRealData, LargeSetsComplete) {
  for (const char* name : {"car", "kr-vs-kp", "splice", "nursery", "krkopt", "connect-4"}) {
    copySet(name);
    const std::string data = std::string(name) + ".data";
    // The description echo as the tree reads it: the description's numbers, one per line.
    std::istringstream desc(readFile(dir_ / (std::string(name) + ".desc")));
    int declared = 0;
    int attributes = 0;
    desc >> declared >> attributes;
    std::vector<int> domains(attributes);
    for (int& d : domains) desc >> d;
    const std::string records = readFile(dir_ / data);
    const int rows = static_cast<int>(std::count(records.begin(), records.end(), '\n'));
    const ToolRun r = kelbow({"-d", data, "-n", std::string(name) + ".desc"});
    expectTreeRun(r, treeOutput(declared, domains, rows), dir_.read(data + ".kelbow"), data);
  }
}

}  // namespace
}  // namespace kelbow::testing
