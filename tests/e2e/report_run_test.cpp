// kelbow-report end to end: the clusters file holds every record of the input
// byte for byte with the labels kelbow-labels gives the same table, standard
// input reads as a file does, and a failed run leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

namespace fs = std::filesystem;

// A table of 3 planted groups, with what makes copying it hard: a byte order
// mark, a quoted identifier column with line breaks and doubled quotes, CRLF
// and LF line ends, empty lines between records and no line end at the end.
struct Planted {
  std::string text;
  std::vector<std::string> records;  // as the file holds them, without line ends
  std::vector<std::string> ends;     // the line end of each record
};

Planted planted() {
  Planted p;
  auto add = [&](const std::string& record, const std::string& end) {
    p.text += record + end;
    p.records.push_back(record);
    p.ends.push_back(end);
  };
  p.text = "\xEF\xBB\xBF";
  add("id,note,a,b,c,d,class", "\r\n");
  const char* values[3][4] = {{"x", "p", "k", "u"}, {"y", "q", "l", "v"}, {"z", "r", "m", "w"}};
  for (int r = 0; r < 90; ++r) {
    const int g = (r * 7) % 3;
    std::string record =
        "r" + std::to_string(r) + ",\"line one\nsaid \"\"" + std::to_string(r) + "\"\"\r\nend\"";
    for (int a = 0; a < 4; ++a)
      record += std::string(",") + values[(a == r % 4 && r % 5 == 0) ? (g + 1) % 3 : g][a];
    record += ",g" + std::to_string(g);
    add(record, r == 89 ? "" : r % 2 ? "\r\n" : "\n");
    if (r % 10 == 3) p.text += "\n\r\n";
  }
  return p;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  return out;
}

std::vector<std::string> tableFiles(const TempDir& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename().string().find("kelbow-report.") == 0 ||
        e.path().extension() == ".data" || e.path().extension() == ".desc")
      found.push_back(e.path().filename());
  return found;
}

class Report : public KelbowTest {
 protected:
  ToolRun report(const std::vector<std::string>& args) {
    return runTool(KELBOW_REPORT_EXE, args, dir_.path(), "kelbow-report");
  }
  // The command line through a shell, with TMPDIR in the test directory.
  ToolRun shell(const std::string& command) {
    return runTool("/bin/sh", {"-c", "TMPDIR=tmp " + command}, dir_.path(), "sh");
  }
};

TEST_F(Report, ClustersFileKeepsEveryRecordWithTheLabelsOfOneRun) {
  const Planted p = planted();
  dir_.write("t.csv", p.text);
  const ToolRun r = report({"--drop", "id,note", "--labels", "class", "-k", "3", "-q", "t.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("t.csv: 3 clusters as asked"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("wrote t.clusters.csv, t.report.html, t.report.json\n"), std::string::npos);
  EXPECT_TRUE(tableFiles(dir_).empty()) << "the encoded table was left behind";

  // The same table through kelbow-csv and kelbow-labels.
  ASSERT_EQ(
      runTool(KELBOW_CSV_EXE, {"-q", "--drop", "id,note", "--labels", "class", "-o", "u", "t.csv"},
              dir_.path())
          .status,
      0);
  ASSERT_EQ(runTool(KELBOW_LABELS_EXE, {"-d", "u.data", "-n", "u.desc", "-k", "3", "-o", "u.k3"},
                    dir_.path())
                .status,
            0);
  const std::vector<std::string> labels = lines(dir_.read("u.k3"));
  ASSERT_EQ(labels.size(), 90u);
  std::string expected = "\xEF\xBB\xBF" + p.records[0] + ",cluster" + p.ends[0];
  for (size_t i = 1; i < p.records.size(); ++i)
    expected += p.records[i] + "," + labels[i - 1] + (p.ends[i].empty() ? "\r\n" : p.ends[i]);
  EXPECT_EQ(dir_.read("t.clusters.csv"), expected);

  // The planted groups are found, and the report says so.
  const std::string json = dir_.read("t.report.json");
  EXPECT_NE(json.find("\"adjusted_rand_index\": 1.000000"), std::string::npos) << json;
  const std::string html = dir_.read("t.report.html");
  for (const char* part :
       {"id=\"chart\"", "class=\"dendrogram\"", "id=\"cluster-3\"", "id=\"classes\""})
    EXPECT_NE(html.find(part), std::string::npos) << part;

  // Standard input reads as the file does.
  fs::create_directory(dir_ / "tmp");
  const ToolRun piped = shell(std::string(KELBOW_REPORT_EXE) +
                              " -q --drop id,note --labels class -k 3 -o s - < t.csv");
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(dir_.read("s.clusters.csv"), expected);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "a temporary was left behind";
}

TEST_F(Report, RecordGivesEveryLevelWithoutClusteringAgain) {
  // Both roads: every row its own starting cluster, and the summary tree's.
  for (const char* rows : {"300", "3000"}) {
    ASSERT_EQ(
        runTool(KELBOW_MAKE_TABLE_EXE, {"t", "5", rows, "8", "4", "0.2", "3"}, dir_.path()).status,
        0);
    const ToolRun chosen = runTool(KELBOW_CHOOSE_EXE,
                                   {"-q", "-d", "t.data", "-n", "t.desc", "--no-chart", "-s", "0",
                                    "-r", "2", "--record", "t.run"},
                                   dir_.path());
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    for (const char* k : {"2", "5", "9"}) {
      const ToolRun clustered = runTool(
          KELBOW_LABELS_EXE, {"-d", "t.data", "-n", "t.desc", "-k", k, "-o", "a"}, dir_.path());
      const ToolRun read =
          runTool(KELBOW_LABELS_EXE, {"--from", "t.run", "-k", k, "-o", "b"}, dir_.path());
      ASSERT_EQ(clustered.status, 0) << clustered.err;
      ASSERT_EQ(read.status, 0) << read.err;
      EXPECT_EQ(read.err, "");
      EXPECT_EQ(dir_.read("a"), dir_.read("b")) << rows << " rows, k " << k;
    }
  }
  std::string damaged = dir_.read("t.run");
  damaged.resize(damaged.size() - 3);
  dir_.write("cut.run", damaged);
  const ToolRun cut =
      runTool(KELBOW_LABELS_EXE, {"--from", "cut.run", "-k", "2", "-o", "c"}, dir_.path());
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err.find("kelbow-labels: cut.run: the record holds "), 0u) << cut.err;
  EXPECT_FALSE(dir_.exists("c"));
  const ToolRun many =
      runTool(KELBOW_LABELS_EXE, {"--from", "t.run", "-k", "795", "-o", "c"}, dir_.path());
  EXPECT_EQ(many.err,
            "kelbow-labels: 795 clusters asked for, but the run started from 794 clusters\n");
}

TEST_F(Report, RefinesAndWritesTheModelAsKelbowLabelsDoes) {
  // Noisy enough that refinement moves rows.
  ASSERT_EQ(runTool(KELBOW_MAKE_TABLE_EXE, {"--csv", "h", "4", "600", "10", "4", "0.45", "3"},
                    dir_.path())
                .status,
            0);
  const ToolRun r = report(
      {"-k", "4", "--drop", "id", "--labels", "class", "--refine", "--model", "r.model", "h.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("kelbow-report: refined: expected entropy 0.727954 -> 0.715445, 61 moves"),
            std::string::npos)
      << r.err;
  ASSERT_EQ(
      runTool(KELBOW_CSV_EXE, {"-q", "--drop", "id", "--labels", "class", "h.csv"}, dir_.path())
          .status,
      0);
  const ToolRun labels = runTool(
      KELBOW_LABELS_EXE,
      {"-d", "h.data", "-n", "h.desc", "-k", "4", "-o", "l.k4", "--refine", "--model", "l.model"},
      dir_.path());
  ASSERT_EQ(labels.status, 0) << labels.err;
  EXPECT_EQ(dir_.read("r.model"), dir_.read("l.model"));
  std::string refined;
  for (const std::string& line : lines(dir_.read("h.clusters.csv")))
    refined += line.substr(line.rfind(',') + 1) + "\n";
  EXPECT_EQ(refined, "cluster\n" + dir_.read("l.k4"));
  EXPECT_NE(dir_.read("h.report.json").find("\"refinement\": \"refined: "), std::string::npos);
}

TEST_F(Report, ItsModelAssignsTheFileAsItWasClustered) {
  // Numbers binned and a date made into months: kelbow-assign must code the
  // cells of the file as the report's encoding did.
  ASSERT_EQ(runTool(KELBOW_MAKE_TABLE_EXE,
                    {"--csv", "--mixed", "m", "4", "500", "6", "4", "0.3", "5"}, dir_.path())
                .status,
            0);
  const ToolRun r = report({"-q", "-k", "4", "--drop", "id", "--labels", "class", "--dates",
                            "joined=month", "--refine", "--model", "m.model", "m.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string model = dir_.read("m.model");
  EXPECT_NE(model.find("{\"name\": \"income\", \"column\": \"income\", \"column_number\": 4, "
                       "\"transform\": \"bins\""),
            std::string::npos)
      << model;
  EXPECT_NE(model.find("\"transform\": \"date part\", \"part\": \"month\""), std::string::npos);
  const ToolRun assigned = runTool(KELBOW_ASSIGN_EXE, {"-q", "m.model", "m.csv"}, dir_.path());
  ASSERT_EQ(assigned.status, 0) << assigned.err;
  std::string reported, again;
  for (const std::string& line : lines(dir_.read("m.clusters.csv")))
    reported += line.substr(line.rfind(',') + 1) + "\n";
  for (const std::string& line : lines(assigned.out)) {
    const std::string row = line.substr(0, line.rfind(','));  // without the margin
    again += row.substr(row.rfind(',') + 1) + "\n";
  }
  EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 501);
  EXPECT_EQ(again, reported);
}

TEST_F(Report, FailuresLeaveNothingBehind) {
  fs::create_directory(dir_ / "tmp");
  struct Case {
    std::string text, options, err;
  } cases[] = {
      {"a,b\n1,2\n\"3,4\n", "",
       "kelbow-report: t.csv:3:1: the quoted field 1 is not closed before the end of the file\n"},
      {"a,b\n1,2\n", "--drop c",
       "kelbow-report: t.csv:1: --drop c: no such column (the file has 2 columns: a, b)\n"},
      {"a,b\n1,2\n3,4\n", "-o nowhere/t",
       "kelbow-report: nowhere/t.clusters.csv: cannot create (No such file or directory)\n"},
      {"a,b\n1,2\n3,4\n", "-k 31",
       "kelbow-report: -k takes a number of clusters from 2 to 30 (see kelbow-report --help)\n"},
      {"a,b\n1,2\n3,4\n", "-k 3",
       "kelbow-report: t.csv: -k 3: the table has only 2 starting clusters\n"},
  };
  for (const Case& c : cases) {
    dir_.write("t.csv", c.text);
    const ToolRun r = shell(std::string(KELBOW_REPORT_EXE) + " -q " + c.options + " t.csv");
    EXPECT_EQ(r.status, 1) << c.options;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    for (const char* ext : {".clusters.csv", ".report.html", ".report.json"})
      EXPECT_FALSE(dir_.exists(std::string("t") + ext)) << c.options;
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << c.options;
  }
}

}  // namespace
}  // namespace kelbow::testing
