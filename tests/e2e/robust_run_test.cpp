// kelbow against what the world does to it: runs at once on one result file,
// kills at any moment, pipes for either file, compressed input, a memory
// limit, and the messages that lead to the fix. Every verdict is about the
// bytes left behind, never about how long anything took.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "input/compressed_test_support.h"
#include "tool_run.h"

namespace kelbow::testing {
namespace {

namespace fs = std::filesystem;

int countLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string repeated(const std::string& group, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += group;
  return out;
}

// A small table (the direct road) and a large one (the summary tree), both
// made by the generator as NAME.data and NAME.desc.
struct Table {
  const char* name;
  std::vector<std::string> generator;  // clusters rows attributes domain noise seed
  int groupLines;                      // lines of the group one run appends
};
const Table kSmall{"small", {"3", "300", "10", "4", "0.2", "5"}, 32};
const Table kLarge{"large", {"4", "2500", "8", "5", "0.2", "6"}, 33};

class RobustRun : public KelbowTest {
 protected:
  void generate(const Table& t, const fs::path& where) {
    std::vector<std::string> args{t.name};
    args.insert(args.end(), t.generator.begin(), t.generator.end());
    const ToolRun r = runTool(KELBOW_MAKE_TABLE_EXE, args, where, "kelbow-make-table");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::vector<std::string> argsFor(const Table& t) {
    return {"-d", std::string(t.name) + ".data", "-n", std::string(t.name) + ".desc"};
  }
  // The group one run appends to a fresh result file, and its standard output.
  std::pair<std::string, std::string> soloRun(const Table& t, const fs::path& where) {
    const std::string result = std::string(t.name) + ".data.kelbow";
    fs::remove(where / result);
    const ToolRun r = runTool(KELBOW_EXE, argsFor(t), where);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string group = readFile(where / result);
    EXPECT_EQ(countLines(group), t.groupLines);
    fs::remove(where / result);
    return {group, r.out};
  }
};

// Eight runs at a time on the same data file, round after round: every group
// reaches the file whole and alone.
TEST_F(RobustRun, RunsAtOnceLeaveWholeGroups) {
  constexpr int kAtOnce = 8;
  constexpr int kRounds = 5;
  for (const Table* t : {&kSmall, &kLarge}) {
    generate(*t, dir_.path());
    const std::string group = soloRun(*t, dir_.path()).first;
    for (int round = 0; round < kRounds; ++round) {
      std::vector<StartedTool> runs;
      for (int i = 0; i < kAtOnce; ++i)
        runs.push_back(startTool(KELBOW_EXE, argsFor(*t), dir_.path()));
      for (StartedTool& run : runs) EXPECT_EQ(run.wait().status, 0) << t->name;
    }
    EXPECT_EQ(dir_.read(std::string(t->name) + ".data.kelbow"), repeated(group, kAtOnce * kRounds))
        << t->name;
  }
}

// Killed at moments spread over a whole run: each run leaves its whole group
// or nothing at all.
TEST_F(RobustRun, AKilledRunLeavesItsWholeGroupOrNothing) {
  constexpr int kKills = 24;
  generate(kLarge, dir_.path());
  const auto start = std::chrono::steady_clock::now();
  const std::string group = soloRun(kLarge, dir_.path()).first;
  const auto runTime = std::chrono::steady_clock::now() - start;
  int completed = 0;
  for (int i = 0; i < kKills; ++i) {
    StartedTool run = startTool(KELBOW_EXE, argsFor(kLarge), dir_.path());
    std::this_thread::sleep_for(runTime * (i + 1) /
                                (kKills - 4));  // the last ones land after the end
    run.kill(SIGKILL);
    if (run.wait().status == 0) ++completed;
  }
  const std::string result = dir_.read("large.data.kelbow");
  ASSERT_EQ(result.size() % group.size(), 0u) << "a broken group:\n" << result;
  const int groups = static_cast<int>(result.size() / group.size());
  EXPECT_EQ(result, repeated(group, groups));
  EXPECT_GE(groups, completed);
  EXPECT_LE(groups, kKills);
}

// Named pipes for both files, on both roads: the same result and output as
// from plain files of the same names; nothing hangs.
TEST_F(RobustRun, NamedPipesServeAsEitherFile) {
  for (const Table* t : {&kSmall, &kLarge}) {
    generate(*t, dir_.path());
    const auto [group, out] = soloRun(*t, dir_.path());
    TempDir piped;
    const std::string data = std::string(t->name) + ".data";
    const std::string desc = std::string(t->name) + ".desc";
    ASSERT_EQ(::mkfifo((piped / data).c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((piped / desc).c_str(), 0600), 0);
    PipeWriter dataWriter(piped / data, dir_.read(data));
    PipeWriter descWriter(piped / desc, dir_.read(desc));
    const ToolRun r =
        runTool(KELBOW_EXE, argsFor(*t), piped.path(), RunOptions{.timeLimitSeconds = 120});
    EXPECT_FALSE(r.timedOut) << t->name;
    EXPECT_EQ(r.status, 0) << t->name << ": " << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, out) << t->name;
    EXPECT_EQ(piped.read(data + ".kelbow"), group) << t->name;
    EXPECT_TRUE(dataWriter.finish());
    EXPECT_TRUE(descWriter.finish());
  }
}

// A process substitution works as the description. As the data file it names
// /dev/fd/N, where no result file can be made: refused at once, before any work.
TEST_F(RobustRun, ProcessSubstitutionAsDescriptionWorksAsDataFileIsRefusedAtOnce) {
  for (const Table* t : {&kSmall, &kLarge}) {
    generate(*t, dir_.path());
    const auto [group, out] = soloRun(*t, dir_.path());
    const std::string script =
        "exec \"$0\" -d " + std::string(t->name) + ".data -n <(cat " + t->name + ".desc)";
    const ToolRun r = runTool("/bin/bash", {"-c", script, KELBOW_EXE}, dir_.path(),
                              RunOptions{.timeLimitSeconds = 120}, "bash");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(dir_.read(std::string(t->name) + ".data.kelbow"), group);
  }
  const std::string script = "exec \"$0\" -d <(cat small.data) -n small.desc";
  const ToolRun r = runTool("/bin/bash", {"-c", script, KELBOW_EXE}, dir_.path(),
                            RunOptions{.timeLimitSeconds = 120}, "bash");
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("couldn't open record file\nkelbow: /dev/fd/", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(".kelbow: No such file or directory\n"), std::string::npos) << r.err;
}

#if KELBOW_HAVE_ZLIB
// A compressed data file is recognised by its first bytes, not its name: a
// gzip file named like the plain one gives the very same group, on both roads,
// through a pipe too; so does a gzip description.
TEST_F(RobustRun, CompressedFilesGiveTheSameResultsAsPlainOnes) {
  for (const Table* t : {&kSmall, &kLarge}) {
    generate(*t, dir_.path());
    const auto [group, out] = soloRun(*t, dir_.path());
    const std::string data = std::string(t->name) + ".data";
    const std::string desc = std::string(t->name) + ".desc";
    const std::string text = dir_.read(data);
    const std::size_t half = text.size() / 2;
    std::vector<std::pair<std::string, std::string>> kinds{
        {"gzip", gzipped(text)},
        {"two gzip members", gzipped(text.substr(0, half)) + gzipped(text.substr(half))}};
#if KELBOW_HAVE_ZSTD
    kinds.push_back({"zstd", zstdCompressed(text)});
    kinds.push_back({"two zstd frames",
                     zstdCompressed(text.substr(0, half)) + zstdCompressed(text.substr(half))});
#endif
    for (const auto& [kind, compressed] : kinds) {
      for (bool pipe : {false, true}) {
        TempDir other;
        other.write(desc, pipe ? dir_.read(desc) : gzipped(dir_.read(desc)));
        std::unique_ptr<PipeWriter> writer;
        if (pipe) {
          ASSERT_EQ(::mkfifo((other / data).c_str(), 0600), 0);
          writer = std::make_unique<PipeWriter>(other / data, compressed);
        } else {
          other.write(data, compressed);
        }
        const ToolRun r =
            runTool(KELBOW_EXE, argsFor(*t), other.path(), RunOptions{.timeLimitSeconds = 120});
        EXPECT_EQ(r.status, 0) << kind << (pipe ? " through a pipe: " : ": ") << r.err;
        EXPECT_EQ(r.out, out) << kind;
        EXPECT_EQ(other.read(data + ".kelbow"), group) << kind << (pipe ? " through a pipe" : "");
      }
    }
  }
}

// A cut or damaged compressed file is refused with one line naming it, and the
// result file stays as it was.
TEST_F(RobustRun, DamagedCompressedDataIsRefused) {
  generate(kSmall, dir_.path());
  const std::string whole = gzipped(dir_.read("small.data"));
  dir_.write("small.data", whole.substr(0, whole.size() / 2));
  ToolRun r = kelbowFailing(argsFor(kSmall), "small.data.kelbow");
  EXPECT_EQ(r.err, "small.data: the gzip data ends early; the file is cut short\n");
  std::string damaged = whole;
  damaged[whole.size() / 2] ^= 0x55;
  dir_.write("small.data", damaged);
  r = kelbowFailing(argsFor(kSmall), "small.data.kelbow");
  EXPECT_EQ(r.err.rfind("small.data: the gzip data is damaged (", 0), 0u) << r.err;
  EXPECT_EQ(countLines(r.err), 1);
}
#endif

#if !KELBOW_HAVE_ZSTD
TEST_F(RobustRun, ZstdDataIsRefusedByABuildWithoutIt) {
  generate(kSmall, dir_.path());
  dir_.write("small.data", std::string("\x28\xb5\x2f\xfd", 4) + "frame");
  const ToolRun r = kelbowFailing(argsFor(kSmall), "small.data.kelbow");
  EXPECT_EQ(
      r.err,
      "small.data: the file is compressed with zstd, which this build cannot read (build it with "
      "libzstd-dev installed)\n");
}
#endif

#ifndef __SANITIZE_ADDRESS__
// Hostile descriptions under a memory limit: a result, or one line and status
// 1 with the result file untouched; never an abort.
TEST_F(RobustRun, UnderAMemoryLimitARunEndsWithAResultOrOneLine) {
  std::string oneHugeAttribute;
  for (int i = 0; i < 1499; ++i) oneHugeAttribute += std::to_string(i) + "\n";
  std::string twoHugeAttributes;
  for (int i = 0; i < 1600; ++i)
    twoHugeAttributes += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
  struct Case {
    const char* what;
    std::string desc, data;
    int groupLines;
  };
  for (const Case& c :
       {Case{"direct road, one attribute of 16777216 values", "1499 1\n16777216\n",
             oneHugeAttribute, 32},
        Case{"tree road, two attributes of 8388608 values", "1600 2\n8388608\n8388608\n",
             twoHugeAttributes, 33},
        Case{"tree road, huge domains, no records", "1600 2\n8388608\n8388608\n", "", 33},
        Case{"tree road, domains that fit the machine but not the limit",
             "1600 2\n135000\n135000\n", twoHugeAttributes, 33}}) {
    dir_.write("h.desc", c.desc);
    dir_.write("h.data", c.data);
    const std::string earlier = "earlier.data\nkelbow\nearlier.data.kelbow\n";
    dir_.write("h.data.kelbow", earlier);
    const ToolRun r =
        runTool(KELBOW_EXE, {"-d", "h.data", "-n", "h.desc"}, dir_.path(),
                RunOptions{.timeLimitSeconds = 600, .addressSpace = 1LL << 29, .cpuSeconds = 300});
    EXPECT_FALSE(r.timedOut) << c.what;
    EXPECT_EQ(r.signal, 0) << c.what << ": " << r.err;
    if (r.status == 0) {
      EXPECT_EQ(countLines(dir_.read("h.data.kelbow")), countLines(earlier) + c.groupLines)
          << c.what;
    } else {
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_EQ(countLines(r.err), 1) << c.what << ": " << r.err;
      EXPECT_EQ(dir_.read("h.data.kelbow"), earlier) << c.what;
    }
  }
}
#endif

// A description that is really a data file says so in one more line, wherever
// it is refused: the head, the direct loader, the summary tree.
TEST_F(RobustRun, SwappedFilesAreHintedAt) {
  const std::string hint =
      "kelbow: t.desc looks like a data file, not a description; are the -d and -n files "
      "swapped?\n";
  const std::string domainZero =
      "t.desc: attribute 2: the domain size is 0; it must be at least 1\n";
  struct Case {
    std::string desc, refusal, out;
    bool hinted;
  };
  for (const Case& c :
       {Case{"0 2\n1 2\n0 0\n", "t.desc: the row count is 0; it must be at least 1\n", "", true},
        Case{"4 4 3 0 1 0 0 2\n", domainZero, "4 rows\nrows=4 cols = 4\n", true},
        Case{"1600 2\n2\n0\n5 5\n", domainZero, "rows=1600 cols = 2\n2\n", true},
        Case{"3 2\n2\n0\n", domainZero, "3 rows\nrows=3 cols = 2\n", false}}) {
    dir_.write("t.desc", c.desc);
    dir_.write("t.data", "0 0\n");
    const ToolRun r = kelbowFailing({"-d", "t.data", "-n", "t.desc"}, "t.data.kelbow");
    EXPECT_EQ(r.err, c.refusal + (c.hinted ? hint : "")) << c.desc;
    EXPECT_EQ(r.out, c.out) << c.desc;
  }
}

// On the tree road every record is used, but a count that differs from the
// declared one is noted once; result, status and standard output stay.
TEST_F(RobustRun, TheTreeRoadNotesRecordsReadAgainstDeclared) {
  std::string data;
  for (int i = 0; i < 1700; ++i) data += std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
  dir_.write("t.data", data);
  dir_.write("t.desc", "1700 2\n2\n3\n");
  const ToolRun exact = kelbow({"-d", "t.data", "-n", "t.desc"});
  ASSERT_EQ(exact.status, 0);
  EXPECT_EQ(exact.err, "");
  const std::string group = dir_.read("t.data.kelbow");
  for (const char* declared : {"1500", "2000000000"}) {
    fs::remove(dir_ / "t.data.kelbow");
    dir_.write("t.desc", std::string(declared) + " 2\n2\n3\n");
    const ToolRun r = kelbow({"-d", "t.data", "-n", "t.desc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "t.data: 1700 records read; the description declares " +
                         std::string(declared) + "\n");
    EXPECT_EQ(dir_.read("t.data.kelbow"), group);
    EXPECT_EQ(r.out.substr(r.out.find("\n2\n3\n")), exact.out.substr(exact.out.find("\n2\n3\n")));
  }
}

// A message comes after the progress written before it, not inside it.
TEST_F(RobustRun, AMessageFollowsTheProgressLine) {
  std::string data;
  for (int i = 0; i < 1599; ++i) data += std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
  dir_.write("t.data", data + "1 3\n");
  dir_.write("t.desc", "1600 2\n2\n3\n");
  const ToolRun r = runTool(KELBOW_EXE, {"-d", "t.data", "-n", "t.desc"}, dir_.path(),
                            RunOptions{.mergeStreams = true});
  EXPECT_EQ(r.status, 1);
  const std::string message = "t.data: record 1600, attribute 2: the code 3 is outside 0..2\n";
  ASSERT_GE(r.out.size(), message.size());
  EXPECT_EQ(r.out.substr(r.out.size() - message.size()), message);
  EXPECT_EQ(r.out.rfind("rows=1600 cols = 2\n2\n3\n", 0), 0u);
  EXPECT_NE(r.out.find("inserting object 1500t.data: record 1600"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kelbow::testing
