// The kelbow executable end to end: command line, messages, exit status, the
// result file and standard output, on hand-made, generated and real tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

const std::string kUsage =
    "USAGE:\nkelbow -d datafile -n descriptionfile\n"
    "datafile:\tthe data file name. Please read README for the file format.\n"
    "descriptionfile:\tthe description file name. Please read README for the file format.\n"
    "Output:\tthe Kelbow is saved at datafile.kelbow.\n";

// The three-row table of the entropy example: rows (0, 2), (1, 2), (0, 0) over
// domain sizes (2, 3).
const std::string kThreeRowDesc = "3 2\n2\n3\n";
const std::string kThreeRowData = "0 2\n1 2\n0 0\n";

// Its block, derived by hand: the merges cost 0.63092977 and 1.6155844, so the
// summed entropy is 0.63092977 at two clusters and 2.2465141 at one; divided by
// three rows, c(1) = 0.748838, c(2) = 0.21031, and c(3..) = 0 (the starting
// value). v(1) = c(1) - 3 c(2) = 0.117908, v(2) = c(2), the rest 0.
std::string threeRowBlock(const std::string& dataName) {
  std::string block = dataName + "\nkelbow\n0.117908\n0.210310\n";
  for (int t = 3; t <= 29; ++t) block += "0.000000\n";
  return block;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string iterations(int from, int to) {
  std::string s;
  for (int i = from; i <= to; ++i) s += "iteration " + std::to_string(i) + "\n";
  return s;
}

class KelbowCli : public KelbowTest {
 protected:
  // Writes a table as t.data / t.desc.
  void table(const std::string& desc, const std::string& data) {
    dir_.write("t.desc", desc);
    dir_.write("t.data", data);
  }
};

TEST_F(KelbowCli, ThreeRowTableGivesTheHandDerivedBlock) {
  table(kThreeRowDesc, kThreeRowData);
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "3 rows\nrows=3 cols = 2\niteration 1\niteration 2\n");
  EXPECT_EQ(dir_.read("t.data.kelbow"), threeRowBlock("t.data") + "t.data.kelbow\n");
}

TEST_F(KelbowCli, EveryRunAppendsOneGroup) {
  table(kThreeRowDesc, kThreeRowData);
  ASSERT_EQ(kelbow({"-d", "t.data", "-n", "t.desc"}).status, 0);
  ASSERT_EQ(kelbow({"-n", "t.desc", "-d", "t.data"}).status, 0);
  const std::string group = threeRowBlock("t.data") + "t.data.kelbow\n";
  EXPECT_EQ(dir_.read("t.data.kelbow"), group + group);
}

TEST_F(KelbowCli, HeaderKeepsTheDataFileNameAsTyped) {
  std::filesystem::create_directory(dir_ / "sub");
  dir_.write("sub/t.data", kThreeRowData);
  dir_.write("t.desc", kThreeRowDesc);
  ASSERT_EQ(kelbow({"-d./sub/t.data", "-nt.desc"}).status, 0);
  EXPECT_EQ(dir_.read("sub/t.data.kelbow"),
            threeRowBlock("./sub/t.data") + "./sub/t.data.kelbow\n");
}

TEST_F(KelbowCli, FileNamesOfAnyLengthWork) {
  const std::string name = std::string(150, 'x') + ".data";
  dir_.write(name, kThreeRowData);
  dir_.write(std::string(120, 'y'), kThreeRowDesc);
  const ToolRun r = kelbow({"-d", name, "-n", std::string(120, 'y')});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read(name + ".kelbow"), threeRowBlock(name) + name + ".kelbow\n");
}

TEST_F(KelbowCli, RepeatedOptionKeepsTheLastName) {
  table(kThreeRowDesc, kThreeRowData);
  ASSERT_EQ(kelbow({"-d", "missing.data", "-d", "t.data", "-n", "t.desc", "extra", "-x"}).status,
            0);
  EXPECT_TRUE(dir_.exists("t.data.kelbow"));
  EXPECT_FALSE(dir_.exists("missing.data.kelbow"));
}

TEST_F(KelbowCli, MissingOptionsPrintTheUsage) {
  table(kThreeRowDesc, kThreeRowData);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"-d", "t.data"},
                                             {"-d", "t.data", "--", "-n", "t.desc"},
                                             {"-d", "-n", "t.desc"},
                                             {"t.data", "-d", "t.data", "-n", "t.desc"}}) {
    const ToolRun r = kelbow(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(dir_.exists("t.data.kelbow"));
}

TEST_F(KelbowCli, OptionErrorsEndTheRunWithoutUsage) {
  table(kThreeRowDesc, kThreeRowData);
  ToolRun r = kelbow({"-x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow: illegal option -- x\nUnknown option `-x'.\n");

  r = kelbow({"-d", "t.data", "-n"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow: option requires an argument -- n\nUnknown option `-n'.\n");

  r = kelbow({"-\xe9", "-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow: illegal option -- \xe9\nUnknown option character `\\xe9'.\n");

  r = kelbow({"-\x01"});
  EXPECT_EQ(r.err, "kelbow: illegal option -- \x01\nUnknown option character `\\x1'.\n");
  EXPECT_FALSE(dir_.exists("t.data.kelbow"));
}

// --help and --version count only as the exact first word; in any other place or
// spelling a "--" word is still the illegal option "-".
TEST_F(KelbowCli, HelpAndVersionOnlyAsTheFirstWord) {
  table(kThreeRowDesc, kThreeRowData);
  const ToolRun help = kelbow({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: kelbow -d datafile -n descriptionfile\n", 0), 0u) << help.out;

  const std::string version = "kelbow " KELBOW_VERSION "\n";
  const std::string illegalDash = "kelbow: illegal option -- -\nUnknown option `--'.\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  for (const Case& c :
       std::vector<Case>{{{"--version"}, 0, version, ""},
                         {{"--version", "-d", "t.data", "-n", "t.desc"}, 0, version, ""},
                         {{"--help", "-x", "--version"}, 0, help.out, ""},
                         {{"--x"}, 1, "", illegalDash},
                         {{"--helpme"}, 1, "", illegalDash},
                         {{"--Version"}, 1, "", illegalDash},
                         {{"-d", "t.data", "-n", "t.desc", "--help"}, 1, "", illegalDash},
                         {{"-d", "t.data", "--version", "-n", "t.desc"}, 1, "", illegalDash},
                         {{"--", "--help"}, 1, "", kUsage}}) {
    std::string words;
    for (const std::string& w : c.args) words += " " + w;
    const ToolRun r = kelbow(c.args);
    EXPECT_EQ(r.status, c.status) << words;
    EXPECT_EQ(r.out, c.out) << words;
    EXPECT_EQ(r.err, c.err) << words;
  }
  EXPECT_FALSE(dir_.exists("t.data.kelbow"));
}

// Each fixed message is followed by a line naming the file and the system's reason.
TEST_F(KelbowCli, UnopenableFilesFailWithTheirMessages) {
  table(kThreeRowDesc, kThreeRowData);
  ToolRun r = kelbowFailing({"-d", "t.data", "-n", "nothing.desc"}, "t.data.kelbow");
  EXPECT_EQ(r.err, "couldn't description file\nkelbow: nothing.desc: No such file or directory\n");

  r = kelbowFailing({"-d", "nothing.data", "-n", "t.desc"}, "nothing.data.kelbow");
  EXPECT_EQ(r.err, "can't open data file\nkelbow: nothing.data: No such file or directory\n");
  EXPECT_EQ(r.out, "");

  std::filesystem::create_directory(dir_ / "t.data.dir");  // a directory is no data file
  r = kelbowFailing({"-d", "t.data.dir", "-n", "t.desc"}, "t.data.dir.kelbow");
  EXPECT_EQ(r.err, "can't open data file\nkelbow: t.data.dir: Is a directory\n");

  std::filesystem::create_directory(dir_ /
                                    "dir.data.kelbow");  // a result file that cannot be opened
  dir_.write("dir.data", kThreeRowData);
  r = kelbow({"-d", "dir.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "couldn't open record file\nkelbow: dir.data.kelbow: Is a directory\n");
  EXPECT_EQ(r.out, "");  // refused before any work

  // A missing result file in a directory that does not exist: refused before
  // any work, and nothing is created.
  std::filesystem::create_directory(dir_ / "sub");
  dir_.write("sub/t.data", kThreeRowData);
  r = kelbow({"-d", "sub/../nowhere/../sub/t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "couldn't open record file\nkelbow: sub/../nowhere/../sub/t.data.kelbow: No such file "
            "or directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(dir_.exists("sub/t.data.kelbow"));
}

// A result file on a full disk: the block cannot be appended, so the run fails.
TEST_F(KelbowCli, ABlockThatCannotBeWrittenFailsTheRun) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  table(kThreeRowDesc, kThreeRowData);
  std::filesystem::create_symlink("/dev/full", dir_ / "t.data.kelbow");
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "couldn't write record file t.data.kelbow\nkelbow: t.data.kelbow: No space left on device\n");
}

// A table of 1499 declared rows is still clustered row by row.
TEST_F(KelbowCli, RowsBelowTheLimitTakeTheDirectRoad) {
  std::string data;
  for (int i = 0; i < 1499; ++i) data += std::to_string(i % 3) + " " + std::to_string(i % 2) + "\n";
  table("1499 2\n3\n2\n", data);
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1499 rows\nrows=1499 cols = 2\n" + iterations(1, 1498));
  const std::vector<std::string> result = lines(dir_.read("t.data.kelbow"));
  ASSERT_EQ(result.size(), 32u);
  EXPECT_EQ(result[0], "t.data");
}

// 1500 declared rows and more go through the summary tree.
TEST_F(KelbowCli, RowsFromTheLimitOnTakeTheTreeRoad) {
  std::string data;
  for (int i = 0; i < 1500; ++i) data += std::to_string(i % 3) + " " + std::to_string(i % 2) + "\n";
  table("1500 2\n3\n2\n", data);
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find(" rows\n"), std::string::npos);
  EXPECT_EQ(r.out.rfind("rows=1500 cols = 2\n3\n2\n", 0), 0u);
  const std::vector<std::string> result = lines(dir_.read("t.data.kelbow"));
  ASSERT_EQ(result.size(), 33u);
  EXPECT_EQ(result[0], "f=20, nc=800");
  EXPECT_EQ(result[1], "t.data");
  EXPECT_EQ(result[32], "t.data.kelbow");
}

// Bad input: one line on standard error naming the file (and the record and
// attribute where they apply), status 1, and no kelbow block.
struct BadInput {
  const char* what;
  std::string desc;
  std::string data;
  std::string message;  // the start of the one line on standard error
};

void PrintTo(const BadInput& bad, std::ostream* os) { *os << bad.what; }

class KelbowBadInput : public KelbowCli, public ::testing::WithParamInterface<BadInput> {};

// The result file stays as it was: absent, or byte for byte what it held.
TEST_P(KelbowBadInput, IsRefusedWithOneLine) {
  const BadInput& bad = GetParam();
  table(bad.desc, bad.data);
  const ToolRun r = kelbowFailing({"-d", "t.data", "-n", "t.desc"}, "t.data.kelbow");
  EXPECT_EQ(r.err.rfind(bad.message, 0), 0u) << bad.what << ": " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad.what << ": " << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, KelbowBadInput,
    ::testing::Values(
        BadInput{"empty description", "", "0 0\n", "t.desc: the row count is missing"},
        BadInput{"words in the description", "three 2\n2\n3\n", "0 0\n",
                 "t.desc: the row count 'three'"},
        BadInput{"no rows", "0 2\n2\n3\n", "", "t.desc: the row count is 0"},
        BadInput{"negative attribute count", "3 -2\n2\n3\n", kThreeRowData,
                 "t.desc: the attribute count is -2"},
        BadInput{"too few domain sizes", "3 2\n2\n", kThreeRowData,
                 "t.desc: attribute 2: the domain size is missing"},
        BadInput{"zero domain size", "3 2\n2\n0\n", kThreeRowData,
                 "t.desc: attribute 2: the domain size is 0"},
        BadInput{"huge domain sizes", "3 2\n2147483647\n2147483647\n", kThreeRowData,
                 "t.desc: attribute 1:"},
        BadInput{"nothing to cluster", "3 2\n1\n1\n", "0 0\n0 0\n0 0\n",
                 "t.desc: every attribute has domain size 1"},
        BadInput{"code above its domain", kThreeRowDesc, "0 2\n1 3\n0 0\n",
                 "t.data: record 2, attribute 2: the code 3"},
        BadInput{"negative code", kThreeRowDesc, "0 2\n1 2\n-1 0\n",
                 "t.data: record 3, attribute 1: the code -1"},
        BadInput{"code overflowing 32 bits", kThreeRowDesc, "0 4294967296\n",
                 "t.data: record 1, attribute 2: '4294967296'"},
        BadInput{"not an integer", kThreeRowDesc, "0 2\n1 2.5\n0 0\n",
                 "t.data: record 2, attribute 2: '2.5'"},
        BadInput{"short last record", kThreeRowDesc, "0 2\n1 2\n0\n",
                 "t.data: record 3, attribute 2: the code is missing"},
        BadInput{"missing record", kThreeRowDesc, "0 2\n1 2\n", "t.data: record 3 is missing"},
        BadInput{"empty data file", kThreeRowDesc, "", "t.data: record 1 is missing"},
        BadInput{"extra record", kThreeRowDesc, kThreeRowData + "1 1\n",
                 "t.data: numbers left over after record 3"}),
    [](const ::testing::TestParamInfo<BadInput>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

// Codes may be spread over lines in any way: only the sequence of numbers counts.
TEST_F(KelbowCli, LineBreaksCarryNoMeaning) {
  table("3\n2 2 3", "0\n2 1\n2\t0 0");
  const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("t.data.kelbow"), threeRowBlock("t.data") + "t.data.kelbow\n");
}

// Peak of a block: the line (1-based) holding the largest of the 29 values.
int peakLine(const std::vector<std::string>& result, std::size_t headerLine) {
  int best = 0;
  double bestValue = -1e300;
  for (int t = 1; t <= 29; ++t) {
    const double v = std::stod(result.at(headerLine + 1 + t));
    if (v > bestValue) {
      bestValue = v;
      best = t;
    }
  }
  return best;
}

// With K well-separated planted clusters the largest value falls on line K - 1.
TEST_F(KelbowCli, PlantedClustersPeakOnTheLineBeforeTheirNumber) {
  for (int k : {2, 3, 4, 6, 8}) {
    const std::string name = "p" + std::to_string(k);
    const ToolRun gen =
        runTool(KELBOW_MAKE_TABLE_EXE,
                {name, std::to_string(k), "600", "20", "6", "0.1", std::to_string(k)}, dir_.path(),
                "kelbow-make-table");
    ASSERT_EQ(gen.status, 0) << gen.err;
    const ToolRun r = kelbow({"-d", name + ".data", "-n", name + ".desc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(peakLine(lines(dir_.read(name + ".data.kelbow")), 0), k - 1)
        << k << " planted clusters";
  }
}

using KelbowRealData = SharedDataTest;

TEST_F(KelbowRealData, HouseVotesMatchesTheGoldenFiles) { expectGoldenRun("house-votes-84"); }

TEST_F(KelbowRealData, SmallSetsComplete) {
  for (const char* name :
       {"soybean-small", "zoo", "breast-cancer", "lymphography", "tic-tac-toe"}) {
    copySet(name);
    const std::string data = std::string(name) + ".data";
    const ToolRun r = kelbow({"-d", data, "-n", std::string(name) + ".desc"});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 2u) << name;
    const int rows = std::stoi(out[0]);
    EXPECT_EQ(out.size(), static_cast<std::size_t>(rows + 1))
        << name;  // rows line, cols line, rows - 1 merges
    const std::vector<std::string> result = lines(dir_.read(data + ".kelbow"));
    ASSERT_EQ(result.size(), 32u) << name;
    EXPECT_EQ(result[0], data);
    EXPECT_EQ(result[1], "kelbow");
    EXPECT_EQ(result[31], data + ".kelbow");
  }
}

// soybean-small has four classes: beside the coarse split at line 1, its block
// peaks on line 3, the highest value from line 2 on.
TEST_F(KelbowRealData, SoybeanSmallPeaksAtFourClusters) {
  copySet("soybean-small");
  ASSERT_EQ(kelbow({"-d", "soybean-small.data", "-n", "soybean-small.desc"}).status, 0);
  const std::vector<std::string> result = lines(dir_.read("soybean-small.data.kelbow"));
  ASSERT_EQ(result.size(), 32u);
  std::vector<double> v(30);
  for (int t = 1; t <= 29; ++t) v[t] = std::stod(result[1 + t]);
  EXPECT_EQ(std::max_element(v.begin() + 2, v.end()) - v.begin(), 3);
}

}  // namespace
}  // namespace kelbow::testing
