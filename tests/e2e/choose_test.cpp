// kelbow-choose end to end: no structure is said plainly, nested structure
// shows both levels, the first run is kelbow's own, and the answer depends on
// the seed alone.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

class Choose : public KelbowTest {
 protected:
  ToolRun choose(std::vector<std::string> args) {
    return runTool(KELBOW_CHOOSE_EXE, args, dir_.path(), "kelbow-choose");
  }
  void make(const std::vector<std::string>& args) {
    const ToolRun r = runTool(KELBOW_MAKE_TABLE_EXE, args, dir_.path(), "kelbow-make-table");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // The whole numbers after `"key": ` in a JSON text, in order.
  static std::vector<int> numbersOf(const std::string& json, const std::string& key) {
    std::vector<int> out;
    const std::string marker = "\"" + key + "\": ";
    for (size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1))
      out.push_back(std::stoi(json.substr(at + marker.size())));
    return out;
  }
};

TEST_F(Choose, ATableWithoutStructureIsSaidToHaveNone) {
  make({"--labels", "--noise-columns", "12", "none", "1", "600", "12", "5", "0.3", "7"});
  ToolRun r = choose({"-d", "none.data", "-n", "none.desc", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("no cluster structure found (K = 1)", 0), 0u) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(dir_.read("none.data.choose.svg").find("no cluster structure found"), std::string::npos);

  r = choose({"-d", "none.data", "-n", "none.desc", "-q", "-f", "json", "--no-chart", "-o", "k"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"k\": 1,\n  \"structure\": false,\n  \"candidates\": [],"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(dir_.read("k"), [] {
    std::string ones;
    for (int i = 0; i < 600; ++i) ones += "1\n";
    return ones;
  }());
}

// Two coarse groups, one of them split in two: 3 is recommended, 2 is listed.
// The first run is kelbow's: its values are the block kelbow appends, and its
// labels are kelbow-labels'.
TEST_F(Choose, NestedGroupsGiveTheFineLevelFirstAndTheCoarseBesideIt) {
  make({"--labels", "--nested", "2", "--nest-share", "0.3", "n3", "3", "600", "16", "4", "0.2",
        "5"});
  ToolRun r = choose({"-d", "n3.data", "-n", "n3.desc", "-q", "-f", "json", "-o", "n3.k"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string json = r.out;
  EXPECT_EQ(numbersOf(json, "k").front(), 3) << json;
  EXPECT_NE(json.find("\"structure\": true"), std::string::npos);
  const size_t levels = json.find("\"levels\"");
  std::vector<int> candidates = numbersOf(json.substr(0, levels), "k");
  candidates.erase(candidates.begin());
  EXPECT_EQ(candidates, (std::vector<int>{3, 2})) << json;

  ASSERT_EQ(kelbow({"-d", "n3.data", "-n", "n3.desc"}).status, 0);
  std::istringstream block(dir_.read("n3.data.kelbow"));
  std::string line;
  std::getline(block, line);
  std::getline(block, line);
  size_t at = levels;
  for (int k = 2; k <= 30; ++k) {
    ASSERT_TRUE(std::getline(block, line));
    at = json.find("\"value\": ", at) + 9;
    char printed[32];
    std::snprintf(printed, sizeof printed, "%f", std::stod(json.substr(at)));
    EXPECT_EQ(printed, line) << "K = " << k;
  }
  r = runTool(KELBOW_LABELS_EXE, {"-d", "n3.data", "-n", "n3.desc", "-k", "3", "-o", "-"},
              dir_.path(), "kelbow-labels");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("n3.k"), r.out);
}

TEST_F(Choose, TheSameSeedGivesTheSameAnswerOnAnyNumberOfThreads) {
  make({"--labels", "--imbalance", "4", "t", "4", "2000", "10", "4", "0.3", "2"});
  const std::vector<std::string> base = {"-d", "t.data", "-n", "t.desc", "-q", "-f", "json",
                                         "--no-chart"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = choose(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  };
  const std::string one = with({"-j", "1"});
  EXPECT_EQ(with({"-j", "2"}), one);
  EXPECT_NE(with({"--seed", "2"}), one);
}

TEST_F(Choose, BadInputIsOneLineAndLeavesNoChart) {
  make({"t", "2", "50", "3", "3", "0.1", "1"});
  dir_.write("bad.data", "0 1 2\n0 1 7\n");
  dir_.write("bad.desc", "2 3\n3\n3\n3\n");
  ToolRun r = choose({"-d", "bad.data", "-n", "bad.desc", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kelbow-choose: bad.data: record 2, attribute 3: the code 7 is outside 0..2\n");
  EXPECT_FALSE(dir_.exists("bad.data.choose.svg"));
  r = choose({"-d", "missing.data", "-n", "t.desc", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("kelbow-choose: missing.data: cannot open (", 0), 0u) << r.err;
  r = choose({"-d", "t.data", "-n", "t.desc", "--references", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kelbow-choose: --references takes a number from 2 to 1000 (see kelbow-choose --help)\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace kelbow::testing
