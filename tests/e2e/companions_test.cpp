// The companions end to end: kelbow-csv on bad input and on the raw files of
// the real data sets, and the whole road from the shipped CSV file to profiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> filesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class Companions : public KelbowTest {
 protected:
  ToolRun csv(const std::vector<std::string>& args) {
    return runTool(KELBOW_CSV_EXE, args, dir_.path(), "kelbow-csv");
  }
};

TEST_F(Companions, BadCsvGetsOneLineAndLeavesNothingBehind) {
  struct Case {
    std::string text;
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {"a,b\n1,2\n3,4,5\n",
       {},
       "t.csv:3:5: the row has 3 fields, but line 1 has 2; field 3 starts here"},
      {"a,b\n1,2\n\"3,4\n",
       {},
       "t.csv:3:1: the quoted field 1 is not closed before the end of the file"},
      {"", {}, "t.csv: the file is empty (no records)"},
      {"\n\r\n\n", {}, "t.csv: the file is empty (no records)"},
      {"id,v\n", {"--header"}, "t.csv:2: no data rows after the header line"},
      {"id,v\nx,1\n",
       {"--header", "--drop", "w"},
       "t.csv:1: --drop w: no such column (the file has 2 columns: id, v)"},
      {"id,v\nx,1\n",
       {"--labels", "3"},
       "t.csv:1: --labels 3: no such column (the file has 2 columns: id, v)"},
      {"s\nAB\nABC\n",
       {"--header", "--split-chars", "s"},
       "t.csv:3:1: the value of column 's' has 3 characters, but on line 2 it has 2"},
      {"a,b\n", {"-x", "1,2"}, "t.csv:1: no column is left as an attribute"},
      {"1,2\n3,4\n",
       {"--drop", "b"},
       "t.csv:1: --drop b: no such column (the file has 2 columns and no header; --names gives "
       "them names)"},
      {"1,2\n3,4\n",
       {"--names", "a,b,c"},
       "t.csv:1: --names gives 3 names, but the file has 2 columns"},
      {"w,n\nx,1\ny,2\nz,3\n",
       {"--header", "--bins", "w=4"},
       "t.csv:2:1: --bins w=4: column 1 'w' holds 'x', which is no number"},
      {"w,n\nx,1\ny,2\nz,3\n",
       {"--header", "--dates", "n=month"},
       "t.csv:2:3: --dates n=month: column 2 'n' holds '1', which is no date"},
      {"d\n2024-01-05\n2024-01-06\n",
       {"--header", "--dates", "d=hour"},
       "t.csv:1: --dates d=hour: column 1 'd' holds dates without a time of day: no hour"},
      {"d\n2024-01-05\n2024-01-06\n",
       {"--header"},
       "t.csv:1: no column is left as an attribute (the dates are left out; --dates makes "
       "categories of them)"},
      {"a,b\n1,2\n",
       {"--header", "--categorical", "a", "--bins", "a=3"},
       "t.csv:1: --bins a=3: column 1 'a' is already given to --categorical a"},
  };
  for (const Case& c : cases) {
    dir_.write("t.csv", c.text);
    std::vector<std::string> args = c.options;
    args.push_back("t.csv");
    const ToolRun r = csv(args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_NE(r.err.find("kelbow-csv: " + c.err + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(dir_), std::vector<std::string>{"t.csv"}) << c.err;
  }
  const ToolRun r = csv({"--bogus", "t.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow-csv: unknown option --bogus (see kelbow-csv --help)\n");
}

TEST_F(Companions, DecisionsAndSuspectColumnsAreSaidOnStandardError) {
  // A byte order mark, CRLF, semicolons, a quoted field with the delimiter, and
  // an identifier column over 20 rows.
  std::string text = "\xEF\xBB\xBFkey;colour;\"size; cm\"\r\n";
  for (int i = 0; i < 24; ++i)
    text += "k" + std::to_string(i) + ";" + (i % 3 ? "red" : "\"blue;ish\"") + ";" +
            std::to_string(i % 2) + "\r\n";
  dir_.write("t.txt", text);
  ToolRun r = runTool("/bin/sh", {"-c", std::string("'") + KELBOW_CSV_EXE + "' -o out - < t.txt"},
                      dir_.path(), "sh");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(
      r.err,
      "kelbow-csv: (standard input): delimiter ';' (detected: 3 fields on each of the first 25 "
      "rows; -d to "
      "choose another)\n"
      "kelbow-csv: (standard input): line 1 is a header (detected: column 2: 'colour' is none of "
      "the values "
      "that repeat below it; --no-header to read it as data)\n"
      "kelbow-csv: warning: (standard input): column 1 'key' holds 24 distinct codes like 'k0' in "
      "24 rows: an identifier; --drop key leaves it out\n"
      "kelbow-csv: (standard input): kept as categories: key, colour\n"
      "kelbow-csv: (standard input): numbers with at most 20 distinct values kept as categories: "
      "'size; cm' (--bins 'COL=N' cuts one into N bins)\n"
      "kelbow-csv: wrote out.data, .desc, .codes, .names, .encoding: 24 rows, 3 attributes, 28 "
      "values\n");
  EXPECT_EQ(dir_.read("out.names"), "key\ncolour\nsize; cm\n");
  EXPECT_EQ(dir_.read("out.desc"), "24 3\n24\n2\n2\n");
  EXPECT_EQ(dir_.read("out.codes").substr(dir_.read("out.codes").find("\n1\t")),
            "\n1\tblue;ish\tred\n2\t0\t1\n");

  r = csv({"-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kelbow-csv: reading standard input (-) needs -o NAME (see kelbow-csv --help)\n");
  r = csv({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: kelbow-csv [OPTIONS] FILE\n", 0), 0u);
  EXPECT_NE(r.out.find("\nExit status:\n"), std::string::npos);
}

// The warnings' suggestions as they stand on standard error: "--drop X", "--missing X",
// "--dates X", "--decimal-comma", each followed by what it does.
std::vector<std::string> suggestions(const std::string& err) {
  static const std::regex kSuggestion(
      "(--(?:drop|missing|dates) (?:'[^']*'|[^ ']+)|--decimal-comma) (?:leaves|reads|makes)");
  std::vector<std::string> out;
  for (std::sregex_iterator it(err.begin(), err.end(), kSuggestion), end; it != end; ++it)
    if (std::find(out.begin(), out.end(), (*it)[1].str()) == out.end()) out.push_back((*it)[1]);
  return out;
}

// Runs kelbow-csv through the shell with `options` pasted as they are.
ToolRun pasted(const TempDir& dir, const std::string& options, const std::string& input) {
  return runTool("/bin/sh",
                 {"-c", std::string("'") + KELBOW_CSV_EXE + "' " + options + " " + input},
                 dir.path(), "sh");
}

// A spreadsheet export: semicolons, decimal commas with thousands separators,
// dotted dates, customer codes, free text, a column name with blanks and
// parentheses, a constant column.
TEST_F(Companions, AEuropeanExportIsReadAndEverySuggestionPastes) {
  std::string text = "Kunde;Datum;Umsatz (EUR);Region;Bemerkung (intern);Mandant\n";
  const char* regions[] = {"Nord", "Süd", "West"};
  for (int i = 0; i < 40; ++i)
    text += "K" + std::to_string(100 + i) + ";" + std::to_string(1 + i % 28) + "." +
            std::to_string(1 + i % 12) + ".2023;" + (i % 7 == 0 ? "-" : "") +
            std::to_string(1 + i % 9) + "." + std::to_string(100 + 17 * i) + "," +
            std::to_string(10 + i) + ";" + regions[i % 3] + ";Kunde ruft wegen Lieferung " +
            std::to_string(i) + " an;01\n";
  dir_.write("export.csv", text);
  ToolRun r = pasted(dir_, "", "export.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.err.find("export.csv: decimal mark ',' (detected: '-1.100,10' is a number only with a "
                 "decimal comma; --decimal-point to read '.')\n"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("column 3 'Umsatz (EUR)': numbers from -9695.45 to 9542.36 (40 distinct)"),
            std::string::npos)
      << r.err;
  const std::vector<std::string> advice = suggestions(r.err);
  EXPECT_EQ(advice, (std::vector<std::string>{"--drop Kunde", "--dates Datum=month,weekday",
                                              "--drop 'Bemerkung (intern)'", "--drop Mandant"}))
      << r.err;
  std::istringstream codes(dir_.read("export.codes"));
  std::string line;
  std::getline(codes, line);  // Kunde
  std::getline(codes, line);  // Umsatz, ascending bins
  EXPECT_EQ(line.rfind("1\t[-9695.45, 1400)\t[1400, ", 0), 0u) << line;

  std::string options;
  for (const std::string& a : advice) options += a + " ";
  r = pasted(dir_, options + "-o pasted", "export.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_EQ(dir_.read("pasted.names"), "Datum.month\nDatum.weekday\nUmsatz (EUR)\nRegion\n");
  EXPECT_EQ(dir_.read("pasted.codes").substr(0, 41),
            "0\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct");

  // The same file without its header, named on the command line.
  dir_.write("bare.csv", text.substr(text.find('\n') + 1));
  r = csv({"-q", "--names", "kunde,datum,umsatz,region,text,mandant", "--drop", "kunde,text",
           "--categorical", "umsatz", "bare.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("bare.names"), "umsatz\nregion\nmandant\n");
  EXPECT_EQ(dir_.read("bare.desc"), "40 3\n40\n3\n1\n");
}

// Past 65,536 distinct values a measure's edges come from the sketch and its
// codes from the second reading; a column of as many timestamps is left out.
TEST_F(Companions, ManyDistinctNumbersAreBinnedFromTheSketch) {
  constexpr int kRows = 80000;
  std::string text = "x,t,w\n";
  for (int i = 0; i < kRows; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%d.5,2024-01-01T%02d:%02d:%02d.%d,%s\n", (i * 7919) % kRows,
                  i / 3600 % 24, i / 60 % 60, i % 60, i / 86400, i % 2 ? "a" : "b");
    text += line;
  }
  dir_.write("big.csv", text);
  const ToolRun r = csv({"big.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("column 1 'x': numbers from 0.5 to 79999.5 (more than 65536 distinct): 6 "
                       "bins"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("column 2 't' holds dates (yyyy-mm-dd hh:mm): left out"), std::string::npos)
      << r.err;
  EXPECT_EQ(dir_.read("big.desc"), "80000 2\n6\n2\n");
  // The values are uniform: each bin holds about a sixth of the rows.
  std::istringstream data(dir_.read("big.data"));
  std::map<int, long> perBin;
  int bin, word;
  while (data >> bin >> word) ++perBin[bin];
  ASSERT_EQ(perBin.size(), 6u);
  for (const auto& [b, n] : perBin) EXPECT_NEAR(n, kRows / 6.0, kRows * 0.01) << b;
}

// How each raw source file becomes the set in ../shared/data.
struct RawSet {
  std::string name;
  std::vector<std::string> options;
};

const std::vector<RawSet> kRawSets = {
    {"breast-cancer", {"-l", "1"}},
    {"car", {"-l", "7"}},
    {"connect-4", {"-l", "43"}},
    {"house-votes-84", {"-l", "1"}},
    {"kr-vs-kp", {"-l", "37"}},
    {"krkopt", {"-l", "7"}},
    {"lymphography", {"-l", "class"}},
    {"mushroom", {"-l", "1"}},
    {"nursery", {"-l", "9"}},
    {"soybean-small", {"--header", "-l", "36"}},
    {"splice", {"--trim", "-l", "Class", "-x", "Donor", "--split-chars", "Sequence"}},
    {"tic-tac-toe", {"-l", "outcome"}},
    {"zoo", {"-x", "animal_name", "-l", "type"}},
};

class RealSets : public SharedDataTest {};

TEST_F(RealSets, RawFilesConvertToTheSharedSetsByteForByte) {
  for (const RawSet& set : kRawSets) {
    const fs::path raw = shared_ / "data" / "sources" / (set.name + ".raw");
    std::vector<std::string> args = set.options;
    args.insert(args.end(), {"-q", "-o", set.name});
    ToolRun r;
    if (set.name == "connect-4") {
      // compress(1) format: expanded through a pipe into standard input.
      const std::string command =
          "gzip -dc '" + raw.string() + "' | '" + KELBOW_CSV_EXE + "' -q -l 43 -o connect-4 -";
      r = runTool("/bin/sh", {"-c", command}, dir_.path(), "sh");
    } else {
      args.push_back(raw.string());
      r = runTool(KELBOW_CSV_EXE, args, dir_.path(), "kelbow-csv");
    }
    ASSERT_EQ(r.status, 0) << set.name << ": " << r.err;
    for (const char* ext : {".data", ".desc", ".codes", ".labels"}) {
      EXPECT_TRUE(dir_.read(set.name + ext) ==
                  readFile(shared_ / "data" / set.name / (set.name + ext)))
          << set.name << ext << " differs";
    }
  }
  // The same table gives the same kelbow block as the shared set's golden run.
  const ToolRun run = kelbow({"-d", "house-votes-84.data", "-n", "house-votes-84.desc"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir_.read("house-votes-84.data.kelbow"),
            readFile(shared_ / "golden" / "house-votes-84.data.kelbow"));
}

// The road of the README on the shipped example: encode, cluster, plot, label,
// profile. The planted clusters come back as the known classes.
TEST_F(Companions, TheWholeRoadFindsThePlantedClustersOfTheShippedCsv) {
  fs::copy_file(fs::path(KELBOW_SOURCE_DIR) / "examples" / "critters.csv", dir_ / "critters.csv");
  ToolRun r = csv({"--drop", "id", "--labels", "class", "--missing", "?,", "critters.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.read("critters.missing"), "?\n\n");
  EXPECT_EQ(dir_.read("critters.names"),
            "colour\nshape\nsize\ntexture\npattern\nhabitat\ndiet\nactivity\nsound\ntemper\n");
  r = kelbow({"-d", "critters.data", "-n", "critters.desc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = runTool(KELBOW_PLOT_EXE, {"critters.data.kelbow"}, dir_.path(), "kelbow-plot");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("candidates: 4 (", 0), 0u) << r.out;
  r = runTool(KELBOW_LABELS_EXE,
              {"-d", "critters.data", "-n", "critters.desc", "-k", "4", "-o", "critters.k4"},
              dir_.path(), "kelbow-labels");
  ASSERT_EQ(r.status, 0) << r.err;

  // Every planted class lands (almost) whole in one cluster; numbers 1..4 by size.
  std::istringstream labels(dir_.read("critters.k4")), classes(dir_.read("critters.labels"));
  std::map<int, long> sizes;
  std::map<std::string, std::map<int, long>> spread;
  int label;
  std::string cls;
  while (labels >> label && std::getline(classes >> std::ws, cls)) {
    ++sizes[label];
    ++spread[cls][label];
  }
  ASSERT_EQ(sizes.size(), 4u);
  for (int k = 1; k < 4; ++k) EXPECT_GE(sizes[k], sizes[k + 1]);
  std::set<int> homes;
  for (const auto& [name, where] : spread) {
    auto most = std::max_element(where.begin(), where.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    homes.insert(most->first);
  }
  EXPECT_EQ(homes.size(), 4u);

  r = runTool(KELBOW_PROFILE_EXE, {"-c", "critters.labels", "critters", "critters.k4"}, dir_.path(),
              "kelbow-profile");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out.rfind("table critters: 400 rows, 10 attributes; labels critters.k4: 4 clusters\n", 0),
      0u);
  const size_t purity = r.out.find("\npurity 0.9");
  EXPECT_NE(purity, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  missing: "), std::string::npos);
  EXPECT_EQ(r.out.find("= ?"), std::string::npos);  // a marker is never a distinctive value or mode

  // Bad labels are named with their line.
  dir_.write("short.k4", "1\n2\n");
  r = runTool(KELBOW_PROFILE_EXE, {"critters", "short.k4"}, dir_.path(), "kelbow-profile");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow-profile: short.k4:3: 2 labels, but the table has 400 rows\n");
  dir_.write("critters.codes", "0\tred\n");
  r = runTool(KELBOW_PROFILE_EXE, {"critters", "critters.k4"}, dir_.path(), "kelbow-profile");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "kelbow-profile: critters.codes:2: 1 lines, but the description declares 10 attributes\n");
}

TEST_F(Companions, ProfileRanksVariablesTestsValuesAndLeavesWideModesOut) {
  ASSERT_EQ(
      runTool(KELBOW_MAKE_TABLE_EXE, {"t", "3", "200", "25", "4", "0.1", "5"}, dir_.path()).status,
      0);
  ASSERT_EQ(runTool(KELBOW_LABELS_EXE, {"-d", "t.data", "-n", "t.desc", "-k", "3", "-o", "t.k3"},
                    dir_.path())
                .status,
            0);
  ToolRun r = runTool(KELBOW_PROFILE_EXE, {"t", "t.k3"}, dir_.path(), "kelbow-profile");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nvariables that separate the clusters (chi-square test, Cramer's V):\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  ... 15 more (-v N shows more)\n"), std::string::npos);
  EXPECT_NE(r.out.find("lift      z  p\n"), std::string::npos);
  EXPECT_EQ(r.out.find("  modes: "), std::string::npos);  // 25 attributes: left out
  r = runTool(KELBOW_PROFILE_EXE, {"--modes", "-v", "0", "t", "t.k3"}, dir_.path(),
              "kelbow-profile");
  EXPECT_NE(r.out.find("  modes: "), std::string::npos);
  EXPECT_EQ(r.out.find("variables that separate"), std::string::npos);
  r = runTool(KELBOW_PROFILE_EXE, {"-f", "json", "t", "t.k3"}, dir_.path(), "kelbow-profile");
  EXPECT_NE(r.out.find("\"variables\": [\n    {\"attribute\": "), std::string::npos);
  size_t ranked = 0;  // every variable, with its V
  for (size_t at = 0; (at = r.out.find("\"cramers_v\": ", at)) != std::string::npos; ++at) ++ranked;
  EXPECT_EQ(ranked, 25u);

  // The classes are read beside the rows: a file of another length is named
  // at the line where it parts from the table.
  std::string classes;
  for (int i = 0; i < 199; ++i) classes += "c" + std::to_string(i % 3) + "\n";
  dir_.write("short", classes);
  dir_.write("long", classes + "x\ny\n");
  r = runTool(KELBOW_PROFILE_EXE, {"-c", "short", "t", "t.k3"}, dir_.path(), "kelbow-profile");
  EXPECT_EQ(r.err, "kelbow-profile: short:200: 199 classes, but the table has 200 rows\n");
  r = runTool(KELBOW_PROFILE_EXE, {"-c", "long", "t", "t.k3"}, dir_.path(), "kelbow-profile");
  EXPECT_EQ(r.err, "kelbow-profile: long:201: 201 classes, but the table has 200 rows\n");
  EXPECT_EQ(r.out, "");
}

// The walk-through's road on the shipped mixed table: the suggestions of a
// plain run, pasted, give binned numbers and months; the planted groups come
// back; a pipe gives the same table through a temporary copy.
TEST_F(Companions, TheMixedTableRoadBinsNumbersAndFindsThePlantedGroups) {
  fs::copy_file(fs::path(KELBOW_SOURCE_DIR) / "examples" / "survey.csv", dir_ / "survey.csv");
  ToolRun r = csv({"--labels", "class", "survey.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> advice = suggestions(r.err);
  EXPECT_EQ(advice, (std::vector<std::string>{"--drop id", "--missing ',?'"})) << r.err;
  r = pasted(dir_, "--force --labels class " + advice[0] + " " + advice[1], "survey.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(suggestions(r.err), std::vector<std::string>{"--dates joined=month,weekday"}) << r.err;
  r = pasted(dir_, "-q --force --labels class --drop id --missing ',?' --dates joined=month",
             "survey.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir_.read("survey.names"),
            "age\nhours\nincome\njoined.month\ncolour\nshape\nsize\ntexture\n");
  const std::string codes = dir_.read("survey.codes");
  EXPECT_EQ(codes.substr(0, codes.find('\n')),
            "0\t[17, 36)\t[36, 42)\t[42, 48)\t[48, 83)\t[83, 90)\t[90, 90]\t\t?");

  r = runTool(
      "/bin/sh",
      {"-c", std::string("cat survey.csv | '") + KELBOW_CSV_EXE +
                 "' --labels class --drop id --missing ',?' --dates joined=month -o piped -"},
      dir_.path(), "sh");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("(standard input): read a second time from a temporary copy"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(dir_.read("piped.data") == dir_.read("survey.data"));
  EXPECT_EQ(dir_.read("piped.codes"), codes);

  r = kelbow({"-d", "survey.data", "-n", "survey.desc"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = runTool(KELBOW_LABELS_EXE,
              {"-d", "survey.data", "-n", "survey.desc", "-k", "4", "-o", "survey.k4"}, dir_.path(),
              "kelbow-labels");
  ASSERT_EQ(r.status, 0) << r.err;
  r = runTool(KELBOW_PROFILE_EXE, {"-c", "survey.labels", "survey", "survey.k4"}, dir_.path(),
              "kelbow-profile");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("modes: age = ["), std::string::npos) << r.out;
  const size_t ari = r.out.find("adjusted Rand index ");
  ASSERT_NE(ari, std::string::npos);
  EXPECT_GE(std::stod(r.out.substr(ari + 20)), 0.9) << r.out;
}

}  // namespace
}  // namespace kelbow::testing
