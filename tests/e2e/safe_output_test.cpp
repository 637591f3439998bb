// What every tool promises about its files and streams, attacked from outside:
// an existing table and the tool's own input are never replaced unasked, a
// signal or a full disk leaves nothing half-made, a write error on standard
// output fails the run, concurrent runs never mix their files, and hostile
// names and contents reach the terminal escaped.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
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

std::string csvRows(int rows) {
  std::string text = "a,b,class\n";
  for (int i = 0; i < rows; ++i)
    text += std::to_string(i % 3) + "," + std::to_string(i % 5) + "," + (i % 2 ? "x" : "y") + "\n";
  return text;
}

ToolRun shell(const TempDir& dir, const std::string& command) {
  return runTool("/bin/sh", {"-c", command}, dir.path(), "sh");
}

std::string quoted(const char* exe) { return std::string("'") + exe + "'"; }

class SafeOutput : public KelbowTest {
 protected:
  ToolRun csv(const std::vector<std::string>& args) {
    return runTool(KELBOW_CSV_EXE, args, dir_.path(), "kelbow-csv");
  }
  // Contents of every file of the table t.
  std::string table() const {
    std::string all;
    for (const char* ext : {".data", ".desc", ".codes", ".names", ".labels", ".missing"})
      all += std::string(ext) +
             (dir_.exists(std::string("t") + ext) ? dir_.read(std::string("t") + ext) : "-");
    return all;
  }
};

TEST_F(SafeOutput, ATableIsReplacedOnlyWithForceWholeAndNeverOverItsInput) {
  dir_.write("t.csv", csvRows(30));
  ToolRun r = csv({"-q", "-l", "class", "-m", "?", "t.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string first = table();

  dir_.write("t.csv", csvRows(40));
  r = csv({"-q", "t.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow-csv: t.data: already exists; --force replaces the table\n");
  EXPECT_EQ(table(), first);

  // A failed run, even with --force, leaves the earlier table as it was.
  dir_.write("t.csv", "a,b\n1,2\n3\n");
  r = csv({"-q", "--force", "t.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(table(), first);

  // A run without --labels and --missing leaves no such file of the earlier one.
  dir_.write("t.csv", csvRows(40));
  r = csv({"-q", "--force", "t.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(dir_.exists("t.labels"));
  EXPECT_FALSE(dir_.exists("t.missing"));
  EXPECT_EQ(dir_.read("t.desc").rfind("40 3\n", 0), 0u);
  EXPECT_EQ(filesIn(dir_), (std::vector<std::string>{"t.codes", "t.csv", "t.data", "t.desc",
                                                     "t.encoding", "t.names"}));

  // FILE NAME.data is the input itself: never written over, --force or not.
  dir_.write("u.data", csvRows(10));
  r = csv({"-q", "--force", "u.data"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "kelbow-csv: u.data: is the input FILE and is never written over; choose another NAME "
            "with -o\n");
  EXPECT_EQ(dir_.read("u.data"), csvRows(10));
}

// Each signal arrives while kelbow-csv holds its temporaries, waiting for the
// rest of its input from a named pipe (more than the 64 KiB it reads before
// it decides the delimiter, so that it gets that far before the pipe stalls).
TEST_F(SafeOutput, SignalsRemoveTheTemporariesAndEndTheRunByTheSignal) {
  dir_.write("t.csv", csvRows(12000));
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A pipe of its own for each run: the writer of the one before may still hold its pipe.
    const std::string pipe = "in" + std::to_string(sig) + ".fifo";
    ASSERT_EQ(::mkfifo((dir_ / pipe).c_str(), 0600), 0);
    const std::string command = "{ cat t.csv; sleep 2; } > " + pipe + " & exec " +
                                quoted(KELBOW_CSV_EXE) + " -q -o out " + pipe;
    StartedTool run =
        startTool("/bin/sh", {"-c", command}, dir_.path(), {.timeLimitSeconds = 30}, "sh");
    bool temporaries = false;
    for (int i = 0; i < 500 && !temporaries; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (const std::string& name : filesIn(dir_))
        temporaries |= name.find(".tmp-") != std::string::npos;
    }
    EXPECT_TRUE(temporaries) << "signal " << sig << ": no temporary appeared";
    run.kill(sig);
    const ToolRun r = run.wait();
    EXPECT_EQ(r.signal, sig) << r.err;
    EXPECT_EQ(filesIn(dir_), (std::vector<std::string>{pipe, "t.csv"})) << "signal " << sig;
    fs::remove(dir_ / pipe);
  }
}

TEST_F(SafeOutput, AWriteErrorOnStandardOutputFailsTheRunAndLeavesNoFile) {
  const ToolRun gen = runTool(KELBOW_MAKE_TABLE_EXE, {"t", "3", "60", "6", "4", "0.1", "1"},
                              dir_.path(), "kelbow-make-table");
  ASSERT_EQ(gen.status, 0) << gen.err;
  // kelbow's progress is lost on a full disk: nothing is appended.
  ToolRun r = shell(dir_, quoted(KELBOW_EXE) + " -d t.data -n t.desc > /dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow: standard output: cannot write (No space left on device)\n");
  EXPECT_FALSE(dir_.exists("t.data.kelbow"));
  r = shell(dir_, quoted(KELBOW_EXE) + " -d t.data -n t.desc >&-");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow: standard output: cannot write (Bad file descriptor)\n");
  ASSERT_EQ(kelbow({"-d", "t.data", "-n", "t.desc"}).status, 0);

  const std::string plot = quoted(KELBOW_PLOT_EXE) + " t.data.kelbow";
  const std::string labels = quoted(KELBOW_LABELS_EXE) + " -d t.data -n t.desc -k 3";
  const std::string profile = quoted(KELBOW_PROFILE_EXE) + " t t.k3";
  r = shell(dir_, labels + " -o t.k3 2>/dev/null");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> before = filesIn(dir_);
  for (const std::string& command :
       {plot + " > /dev/full", plot + " >&-", labels + " --snapshots -o k3 >&-",
        labels + " -o - > /dev/full", profile + " > /dev/full",
        quoted(KELBOW_CSV_EXE) + " --version > /dev/full",
        quoted(KELBOW_MAKE_TABLE_EXE) + " --help >&-"}) {
    r = shell(dir_, command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find(": standard output: cannot write ("), std::string::npos)
        << command << r.err;
    EXPECT_EQ(filesIn(dir_), before) << command;
  }
}

TEST_F(SafeOutput, AFullDiskIsNamedAndLeavesNoCutFiles) {
  // A file-size limit fails the writes as a full disk does.
  const ToolRun r =
      shell(dir_, "ulimit -f 8; exec " + quoted(KELBOW_MAKE_TABLE_EXE) + " big 3 5000 30 5 0.1 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kelbow-make-table: big.data: cannot write (File too large)\n");
  EXPECT_EQ(filesIn(dir_), std::vector<std::string>{});
}

TEST_F(SafeOutput, ConcurrentRunsOnOneNameNeverMixTheirFiles) {
  dir_.write("a.csv", csvRows(150));
  dir_.write("b.csv", csvRows(300));
  for (int round = 0; round < 4; ++round) {
    std::vector<StartedTool> runs;
    for (int i = 0; i < 4; ++i)
      runs.push_back(startTool(KELBOW_CSV_EXE,
                               {"-q", "--force", "-o", "t", i % 2 ? "a.csv" : "b.csv"}, dir_.path(),
                               {.timeLimitSeconds = 60}, "kelbow-csv"));
    for (StartedTool& run : runs) EXPECT_EQ(run.wait().status, 0);
    const std::string desc = dir_.read("t.desc"), data = dir_.read("t.data");
    const long lines = std::count(data.begin(), data.end(), '\n');
    EXPECT_EQ(desc.substr(0, desc.find(' ')), std::to_string(lines)) << "round " << round;
  }
  EXPECT_EQ(filesIn(dir_), (std::vector<std::string>{"a.csv", "b.csv", "t.codes", "t.data",
                                                     "t.desc", "t.encoding", "t.names"}));
}

TEST_F(SafeOutput, HostileNamesAndContentsReachTheTerminalEscapedAndCut) {
  // A name that would move the cursor back over the message and set the
  // terminal's title.
  dir_.write("t.desc", "2 1\n2\n");
  dir_.write("t.data", "0\n1\n");
  ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc\r\x1b[1A\x1b]0;owned\x07"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "couldn't description file\nkelbow: t.desc\\r\\x1b[1A\\x1b]0;owned\\x07: No such file "
            "or directory\n");

  // A labels line of a megabyte of escape sequences comes back as one short line.
  std::string line;
  for (int i = 0; i < 100000; ++i) line += "\x1b[2K\xff\xfe";
  dir_.write("bad.k", line + "\n1\n");
  r = runTool(KELBOW_PROFILE_EXE, {"t", "bad.k"}, dir_.path(), "kelbow-profile");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("kelbow-profile: bad.k:1: '\\x1b[2K\\xff\\xfe\\x1b[2K", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("...' is not an integer label\n"), std::string::npos);
  EXPECT_LT(r.err.size(), 300u);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace kelbow::testing
