// kelbow-assign and kelbow-labels --refine/--model end to end: the round trip
// of a table through its own model, half a table assigned with the model of
// the other half, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
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

// The field `back` places from the end of each line but the header (no
// quoted fields in these tables).
std::vector<std::string> column(const std::string& csv, int back) {
  std::vector<std::string> out;
  const std::vector<std::string> rows = lines(csv);
  for (size_t r = 1; r < rows.size(); ++r) {
    std::vector<std::string> fields;
    std::istringstream in(rows[r]);
    for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    if (!rows[r].empty() && rows[r].back() == ',') fields.emplace_back();
    out.push_back(fields[fields.size() - 1 - back]);
  }
  return out;
}

class KelbowAssign : public ::testing::Test {
 protected:
  ToolRun tool(const char* exe, const char* name, const std::vector<std::string>& args) {
    return runTool(exe, args, dir_.path(), name);
  }
  ToolRun assign(const std::vector<std::string>& args) {
    return tool(KELBOW_ASSIGN_EXE, "kelbow-assign", args);
  }
  ToolRun labels(const std::vector<std::string>& args) {
    return tool(KELBOW_LABELS_EXE, "kelbow-labels", args);
  }
  // NAME.csv of k planted groups with missing values, and its table NAME.data, ...
  void makeTable(const std::string& name, int k, int rows, double noise, int seed) {
    const ToolRun gen =
        tool(KELBOW_MAKE_TABLE_EXE, "kelbow-make-table",
             {"--csv", "--missing", "0.05", name, std::to_string(k), std::to_string(rows), "12",
              "5", std::to_string(noise), std::to_string(seed)});
    ASSERT_EQ(gen.status, 0) << gen.err;
    const ToolRun csv =
        tool(KELBOW_CSV_EXE, "kelbow-csv",
             {"-q", "--drop", "id", "--labels", "class", "--missing", "?,", name + ".csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
  }
  // Assigning BASE.csv with its own model gives every row the cluster,
  // margin and shares that its codes in BASE.data give, and the cluster is
  // the one in the labels file `refined`.
  void expectRoundTrip(const std::string& model, const std::string& base, int k,
                       const std::string& refined) {
    const ToolRun csv = assign({"--soft", model, base + ".csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.err.find("rows with a value unseen in training: none\n"), std::string::npos)
        << csv.err;
    const ToolRun table =
        assign({"--soft", "-q", model, "-d", base + ".data", "-n", base + ".desc"});
    ASSERT_EQ(table.status, 0) << table.err;
    for (int back = 0; back < k + 2; ++back)
      EXPECT_EQ(column(csv.out, back), column(table.out, back)) << back;
    EXPECT_EQ(column(csv.out, k + 1), lines(dir_.read(refined)));
  }
  TempDir dir_;
};

TEST_F(KelbowAssign, TheTrainingTableComesBackWithItsLabels) {
  makeTable("t", 5, 900, 0.45, 3);
  // Refined: every row is where its own model puts it.
  ToolRun r = labels(
      {"-d", "t.data", "-n", "t.desc", "-k", "5", "-o", "ref", "--refine", "--model", "ref.model"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("kelbow-labels: refined: expected entropy "), std::string::npos) << r.err;
  r = assign({"ref.model", "t.csv", "-o", "ref.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "kelbow-assign: t.csv: 900 rows: 900 assigned, 0 without a cluster (every value "
            "missing or unseen); rows with a value unseen in training: none\n");
  const std::string out = dir_.read("ref.csv");
  EXPECT_EQ(lines(out)[0],
            "id,colour,shape,size,texture,pattern,habitat,diet,activity,sound,temper,"
            "attr11,attr12,class,cluster,margin");
  // The input rows as they were, then the two columns.
  const std::vector<std::string> in = lines(dir_.read("t.csv")), got = lines(out);
  ASSERT_EQ(got.size(), in.size());
  for (size_t i = 1; i < in.size(); ++i) EXPECT_EQ(got[i].rfind(in[i] + ",", 0), 0u) << i;
  EXPECT_EQ(column(out, 1), lines(dir_.read("ref")));
  // The table's own format gives the same clusters and margins.
  r = assign({"ref.model", "-d", "t.data", "-n", "t.desc", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(column(r.out, 0), column(out, 0));
  EXPECT_EQ(column(r.out, 1), column(out, 1));

  // The cut's model: the rows that assignment places elsewhere are the ones
  // refinement would move; on this table, a few.
  r = labels({"-d", "t.data", "-n", "t.desc", "-k", "5", "-o", "cut", "--model", "cut.model"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = assign({"cut.model", "t.csv", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> assigned = column(r.out, 1), cut = lines(dir_.read("cut"));
  int differ = 0;
  for (size_t i = 0; i < cut.size(); ++i) differ += assigned[i] != cut[i];
  EXPECT_LT(differ, 900 / 10);
}

TEST_F(KelbowAssign, TheMixedExampleIsCodedAsInTraining) {
  const std::string example =
      readFile(std::filesystem::path(KELBOW_SOURCE_DIR) / "examples" / "survey.csv");
  dir_.write("survey.csv", example);
  ToolRun r = tool(KELBOW_CSV_EXE, "kelbow-csv",
                   {"-q", "--drop", "id", "--labels", "class", "--missing", ",?", "--dates",
                    "joined=month", "survey.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = labels({"-d", "survey.data", "-n", "survey.desc", "-k", "4", "-o", "ref", "--refine",
              "--model", "m"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string model = dir_.read("m");
  EXPECT_NE(model.find("\"column\": \"age\", \"column_number\": 2, \"transform\": \"bins\", "
                       "\"edges\": [36, 42, 48, 83, 90]"),
            std::string::npos);
  EXPECT_NE(model.find("\"transform\": \"date part\", \"part\": \"month\""), std::string::npos);
  expectRoundTrip("m", "survey", 4, "ref");

  // New rows: a number beyond the training range falls in the outer bin, as
  // the range's own end does; no number, no date are unseen.
  const std::string header = lines(example)[0];
  const std::string rest = ",green,long,small,rough,?\n";
  dir_.write("new.csv", header + "\nn1,5,200,1e7,2030-12-31" + rest +
                            "n2,17,97,198931.78,2021-12-01" + rest + "n3,abc,7,\"1,200\",sometime" +
                            rest + "n4,?,,,2020-01-01" + rest);
  r = assign({"--soft", "m", "new.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "kelbow-assign: new.csv: 4 rows: 4 assigned, 0 without a cluster (every value missing "
            "or unseen); rows with a value unseen in training: age 1, joined.month 1\n");
  ASSERT_EQ(lines(r.out).size(), 5u);
  for (int back = 0; back < 6; ++back) EXPECT_EQ(column(r.out, back)[0], column(r.out, back)[1]);
}

TEST_F(KelbowAssign, SplitColumnsAreCodedAsInTraining) {
  // Without a header: sequences of 8 letters whose letters lean towards one
  // of four patterns, coded by column number.
  const std::string patterns[] = {"ACGTACGT", "GGCCAATT", "TTTTGGGG", "CATGCATG"};
  const std::string letters = "ACGT";
  std::string csv;
  unsigned state = 12345;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int row = 0; row < 400; ++row) {
    const int group = row % 4;
    std::string seq = patterns[group];
    for (char& c : seq)
      if (next() % 10 < 3) c = letters[next() % 4];
    csv += "r" + std::to_string(row) + "," + seq + ",g" + std::to_string(group) + "\n";
  }
  dir_.write("seq.csv", csv);
  ToolRun r =
      tool(KELBOW_CSV_EXE, "kelbow-csv",
           {"-q", "--no-header", "--drop", "1", "--labels", "3", "--split-chars", "2", "seq.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = labels(
      {"-d", "seq.data", "-n", "seq.desc", "-k", "4", "-o", "ref", "--refine", "--model", "m"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(dir_.read("m").find("{\"name\": \"2[8]\", \"column\": \"2\", \"column_number\": 2, "
                                "\"transform\": \"character\", \"character\": 8, \"length\": 8}"),
            std::string::npos);
  expectRoundTrip("m", "seq", 4, "ref");
  // A sequence of another length tells nothing.
  dir_.write("short.csv", "x,ACGT,?\n");
  r = assign({"m", "short.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out)[1], "x,ACGT,?,,");
}

TEST_F(KelbowAssign, HalfATableIsPlacedAsTheWholeClustersIt) {
  makeTable("t", 4, 1200, 0.3, 8);
  const std::vector<std::string> all = lines(dir_.read("t.csv"));
  std::string first = all[0] + "\n", second = all[0] + "\n";
  for (size_t i = 1; i < all.size(); ++i) (i <= 600 ? first : second) += all[i] + "\n";
  dir_.write("a.csv", first);
  dir_.write("b.csv", second);
  ASSERT_EQ(tool(KELBOW_CSV_EXE, "kelbow-csv",
                 {"-q", "--drop", "id", "--labels", "class", "--missing", "?,", "a.csv"})
                .status,
            0);
  ToolRun r = labels({"-d", "a.data", "-n", "a.desc", "-k", "4", "--refine", "--model", "a.model"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(labels({"-d", "t.data", "-n", "t.desc", "-k", "4", "-o", "whole"}).status, 0);
  r = assign({"a.model", "b.csv", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> placed = column(r.out, 1), whole = lines(dir_.read("whole"));
  // Each assigned cluster mostly lies inside one cluster of the whole.
  std::map<std::string, std::map<std::string, int>> meet;
  for (size_t i = 0; i < placed.size(); ++i) ++meet[placed[i]][whole[600 + i]];
  int agree = 0;
  for (const auto& [cluster, row] : meet) {
    int most = 0;
    for (const auto& [other, n] : row) most = std::max(most, n);
    agree += most;
  }
  EXPECT_EQ(meet.size(), 4u);
  EXPECT_GE(agree, 600 * 95 / 100);
}

TEST_F(KelbowAssign, UnseenValuesAreLeftOutAndCounted) {
  makeTable("t", 3, 300, 0.2, 5);
  ASSERT_EQ(labels({"-d", "t.data", "-n", "t.desc", "-k", "3", "--model", "m"}).status, 0);
  const std::string header = lines(dir_.read("t.csv"))[0];
  const std::string row = lines(dir_.read("t.csv"))[1];
  // One word unseen, a whole row of markers and of unseen words; a quoted field kept as it was.
  std::string unseen = row;
  unseen.replace(unseen.find(',') + 1,
                 unseen.find(',', unseen.find(',') + 1) - unseen.find(',') - 1, "\"ma,uve\"");
  dir_.write("n.csv", header + "\n" + unseen + "\nx1,?,,?,?,?,?,?,?,?,?,?,?,k\n" +
                          "x2,a,b,c,d,e,f,g,h,i,j,k,l,m\n");
  const ToolRun r = assign({"--soft", "m", "n.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "kelbow-assign: n.csv: 3 rows: 1 assigned, 2 without a cluster (every value "
            "missing or unseen); rows with a value unseen in training: colour 2, shape 1, "
            "size 1, texture 1, pattern 1, habitat 1, diet 1, activity 1, sound 1, temper 1, "
            "attr11 1, attr12 1\n");
  const std::vector<std::string> out = lines(r.out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], header + ",cluster,margin,share_1,share_2,share_3");
  EXPECT_EQ(out[1].rfind(unseen + ",", 0), 0u);
  EXPECT_EQ(out[2], "x1,?,,?,?,?,?,?,?,?,?,?,?,k,,,,,");
  EXPECT_EQ(out[3], "x2,a,b,c,d,e,f,g,h,i,j,k,l,m,,,,,");
}

TEST_F(KelbowAssign, BadModelsAndColumnsAreRefused) {
  makeTable("t", 3, 300, 0.2, 5);
  ASSERT_EQ(labels({"-d", "t.data", "-n", "t.desc", "-k", "3", "--model", "m"}).status, 0);
  const std::string model = dir_.read("m");
  dir_.write("cut", model.substr(0, model.size() / 2));
  std::string v2 = model;
  v2.replace(v2.find("\"version\": 2"), 12, "\"version\": 7");
  dir_.write("v2", v2);
  dir_.write("few.csv", "colour,size,class\nred,big,x\n");
  dir_.write("two.desc", "1 2\n2\n2\n");
  dir_.write("two.data", "0 1\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"cut", "t.csv"}, "kelbow-assign: cut: the model is damaged: line "},
      {{"v2", "t.csv"},
       "kelbow-assign: v2: a model of format version 7; this version of kelbow reads versions 1 "
       "and 2\n"},
      {{"t.csv", "t.csv"},
       "kelbow-assign: t.csv: the model is damaged: line 1: unexpected "
       "character 'i'\n"},
      {{"m", "few.csv"},
       "kelbow-assign: few.csv: the first line names no column 'shape', "
       "'texture', 'pattern', 'habitat', 'diet', 'activity', 'sound', 'temper', "
       "'attr11', 'attr12' of the model m\n"},
      {{"m", "-d", "two.data", "-n", "two.desc"},
       "kelbow-assign: two.desc: 2 attributes, but the model m has 12\n"},
      {{"m"},
       "kelbow-assign: MODEL and FILE are required, and nothing else (see kelbow-assign "
       "--help)\n"},
      {{"absent", "t.csv"}, "kelbow-assign: absent: cannot open (No such file or directory)\n"},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> with = args;
    with.insert(with.end(), {"-o", "out.csv"});
    const ToolRun r = assign(with);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(message, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(dir_.exists("out.csv"));
  }
  EXPECT_EQ(labels({"-d", "t.data", "-n", "t.desc", "-k", "3", "--refine"}).err,
            "kelbow-labels: --refine goes with -o or --model (the snapshots are the hierarchy's) "
            "(see kelbow-labels --help)\n");
}

}  // namespace
}  // namespace kelbow::testing
