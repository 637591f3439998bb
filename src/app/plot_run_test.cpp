#include "app/plot_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "input/kelbow_block.h"

namespace kelbow {
namespace {

namespace fs = std::filesystem;

// Scans argv words given as strings, the program name first.
bool scan(std::vector<std::string> words, PlotOptions* options, std::string* err) {
  words.insert(words.begin(), "kelbow-plot");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return scanPlotOptions(static_cast<int>(words.size()), argv.data(), options, err);
}

TEST(PlotOptionsTest, ResultFileAsOptionOrPlainArgument) {
  struct Case {
    std::vector<std::string> words;
    std::string result, chart;
    std::optional<std::string> data;
  } cases[] = {
      {{"-r", "r.kelbow"}, "r.kelbow", "r.kelbow.svg", std::nullopt},
      {{"r.kelbow"}, "r.kelbow", "r.kelbow.svg", std::nullopt},
      {{"-dmy data", "--result=r.kelbow", "-o", "-c.svg"}, "r.kelbow", "-c.svg", "my data"},
      {{"r.kelbow", "--data", "x", "--output", "c.svg"}, "r.kelbow", "c.svg", "x"},
      {{"-r", "a", "-r", "b", "-d", "-o"}, "b", "b.svg", "-o"},  // repeated: the last wins
      {{"--", "-odd name"}, "-odd name", "-odd name.svg", std::nullopt},
  };
  for (const Case& c : cases) {
    PlotOptions o;
    std::string err;
    ASSERT_TRUE(scan(c.words, &o, &err)) << err;
    EXPECT_EQ(o.resultFile, c.result);
    EXPECT_EQ(o.chartFile, c.chart);
    EXPECT_EQ(o.dataName, c.data);
  }
  PlotOptions o;
  std::string err;
  ASSERT_TRUE(scan({"r", "--help"}, &o, &err));
  EXPECT_TRUE(o.help);
}

TEST(PlotOptionsTest, BadCommandLinesGiveOneLine) {
  const std::string see = " (see kelbow-plot --help)";
  struct Case {
    std::vector<std::string> words;
    std::string err;
  } cases[] = {
      {{}, "kelbow-plot: no result file given" + see},
      {{"-d", "x"}, "kelbow-plot: no result file given" + see},
      {{"-r", "a", "extra"}, "kelbow-plot: more than one result file given" + see},
      {{"a", "b"}, "kelbow-plot: more than one result file given" + see},
      {{"-x"}, "kelbow-plot: unknown option -x" + see},
      {{"-r", "a", "--nope=1"}, "kelbow-plot: unknown option --nope" + see},
      {{"-r"}, "kelbow-plot: option -r needs an argument" + see},
      {{"-r", "a", "--output"}, "kelbow-plot: option --output needs an argument" + see},
  };
  for (const auto& c : cases) {
    PlotOptions o;
    std::string err;
    EXPECT_FALSE(scan(c.words, &o, &err));
    EXPECT_EQ(err, c.err) << "words: " << ::testing::PrintToString(c.words);
  }
}

// The build hands the path of the built executable to the tests below.
#ifndef KELBOW_PLOT_EXE
#error "KELBOW_PLOT_EXE must name the kelbow-plot executable (see src/app/CMakeLists.txt)"
#endif

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// 29 values with peaks on lines 3, 8 and 1 (K = 4, 9, 2), highest in that order.
std::string plantedValues() {
  std::string s;
  for (int t = 1; t <= kKelbowValueCount; ++t) {
    double v = t == 3 ? 0.05 : t == 8 ? 0.02 : t == 1 ? 0.004 : -0.0001 * t;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%f\n", v);
    s += buf;
  }
  return s;
}

// Runs the built kelbow-plot in a fresh temporary directory and captures its
// standard streams and exit status.
class PlotExeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kelbow-plot-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  RunResult run(const std::vector<std::string>& args) {
    std::vector<std::string> words = {KELBOW_PLOT_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || ::chdir(dir_.c_str()) != 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) {
        ::_exit(127);
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    RunResult r;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      r.status = WEXITSTATUS(status);
    }
    r.out = readFile(out);
    r.err = readFile(err);
    fs::remove(out);
    fs::remove(err);
    return r;
  }

  // Files in the directory other than the captured streams.
  std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  void expectFailure(const std::vector<std::string>& args, const std::string& err) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "") << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, err + "\n") << ::testing::PrintToString(args);
  }

  fs::path dir_;
};

TEST_F(PlotExeTest, BadCommandLinesPrintOneLineAndExitOne) {
  expectFailure({}, "kelbow-plot: no result file given (see kelbow-plot --help)");
  expectFailure({"-q"}, "kelbow-plot: unknown option -q (see kelbow-plot --help)");
  EXPECT_EQ(files(), std::vector<std::string>{});
  const RunResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kelbow-plot [OPTIONS] [RESULTFILE]\n", 0), 0u);
}

TEST_F(PlotExeTest, UnusableResultFilesAreNamedAndNoChartIsWritten) {
  expectFailure({"-r", "none.kelbow"},
                "kelbow-plot: none.kelbow: cannot open result file (No such file or directory)");
  write("empty.kelbow", "");
  expectFailure({"-r", "empty.kelbow"}, "kelbow-plot: empty.kelbow: no kelbow block");
  write("r.kelbow", "a\nkelbow\n" + plantedValues() + "a.kelbow\n");
  expectFailure({"-r", "r.kelbow", "-d", "b"},
                "kelbow-plot: r.kelbow: no kelbow block for data file b");
  write("bad.kelbow", "a\nkelbow\n0.1\n0.2\nx\n");
  expectFailure({"-r", "bad.kelbow"},
                "kelbow-plot: bad.kelbow:5: value 3 of 29 of the kelbow block at line 2 is not a "
                "finite number");
  write("short.kelbow", "a\nkelbow\n0.1\n0.2\n");
  expectFailure(
      {"-r", "short.kelbow", "-o", "c.svg"},
      "kelbow-plot: short.kelbow:4: the kelbow block at line 2 ends after 2 of 29 values");
  EXPECT_EQ(files(),
            (std::vector<std::string>{"bad.kelbow", "empty.kelbow", "r.kelbow", "short.kelbow"}));
}

TEST_F(PlotExeTest, WritesTheChartAndPrintsCandidatesHighestPeakFirst) {
  write("t.data.kelbow", "t.data\nkelbow\n" + plantedValues() + "t.data.kelbow\n");
  RunResult r = run({"t.data.kelbow"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "candidates: 4 (0.050000) 9 (0.020000); weak: 2 (0.004000)\n");
  std::string svg = readFile(dir_ / "t.data.kelbow.svg");
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_NE(svg.find("<title>kelbow curve of t.data</title>"), std::string::npos);
  EXPECT_NE(svg.find(">K=4<"), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

  // A second run replaces the chart; the result file is left as it was.
  fs::resize_file(dir_ / "t.data.kelbow.svg", 3);
  r = run({"-r", "t.data.kelbow"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir_ / "t.data.kelbow.svg"), svg);
  EXPECT_EQ(readFile(dir_ / "t.data.kelbow"),
            "t.data\nkelbow\n" + plantedValues() + "t.data.kelbow\n");
}

TEST_F(PlotExeTest, DataNameChoosesTheBlockAndOutputNameTheFile) {
  std::string falling;
  for (int t = 1; t <= kKelbowValueCount; ++t) falling += "-0.00" + std::to_string(t % 10) + "0\n";
  write("r.kelbow", "x y\nkelbow\n" + plantedValues() + "x y.kelbow\nz\nkelbow\n" +
                        std::string(falling) + "z.kelbow\n");
  RunResult r = run({"-r", "r.kelbow", "-d", "x y", "-o", "chart of x y.svg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "candidates: 4 (0.050000) 9 (0.020000); weak: 2 (0.004000)\n");
  EXPECT_NE(readFile(dir_ / "chart of x y.svg").find("kelbow curve of x y</title>"),
            std::string::npos);

  // The last block has -0.001, -0.002, ..., -0.009, 0, -0.001, ...: peaks where
  // the 0 values stand (lines 10 and 20) and the first line; line 29 (-0.009)
  // is no peak.
  r = run({"-rr.kelbow"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "candidates: none; weak: 11 (0.000000) 21 (0.000000) 2 (-0.001000)\n");
  EXPECT_TRUE(fs::exists(dir_ / "r.kelbow.svg"));
}

TEST_F(PlotExeTest, ChartFileProblemsAreReported) {
  std::string text = "a\nkelbow\n" + plantedValues() + "a.kelbow\n";
  write("r.kelbow", text);
  expectFailure({"-r", "r.kelbow", "-o", "./r.kelbow"},
                "kelbow-plot: ./r.kelbow: is the result file; choose another chart name with -o");
  EXPECT_EQ(readFile(dir_ / "r.kelbow"), text);
  expectFailure({"-r", "r.kelbow", "-o", "no/such/dir.svg"},
                "kelbow-plot: no/such/dir.svg: cannot create (No such file or directory)");
}

fs::path goldenDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "shared" /
         "golden";
}

TEST_F(PlotExeTest, PlotsTheShippedHouseVotesResult) {
  fs::path golden = goldenDir() / "house-votes-84.data.kelbow";
  if (!fs::exists(golden)) GTEST_SKIP() << golden << " not found (../shared missing)";
  RunResult r = run({"-r", golden.string(), "-o", "hv.svg"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Peaks of the file's curve, ordered by value by hand: 0.142719 (line 1),
  // 0.003719 (5), 0.000638 (7), 0.000553 (13), 0.000529 (10), 0.000302 (20),
  // 0.000290 (25), 0.000135 (15), 0.000094 (27), 0.000093 (18), 0.000090 (23).
  // Only the first is a tenth of the highest or more.
  EXPECT_EQ(
      r.out,
      "candidates: 2 (0.142719); weak: 6 (0.003719) 8 (0.000638) 14 (0.000553) 11 (0.000529) "
      "21 (0.000302) 26 (0.000290) 16 (0.000135) 28 (0.000094) 19 (0.000093) 24 (0.000090)\n");
  EXPECT_TRUE(fs::exists(dir_ / "hv.svg"));
}

}  // namespace
}  // namespace kelbow
