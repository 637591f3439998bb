// Helpers of the end-to-end tests: run a built executable in a fresh temporary
// directory and capture its standard streams and exit status byte for byte.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kelbow::testing {

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Writes (replaces) a file in the directory.
  void write(const std::string& name, const std::string& contents) const;
  // Contents of a file in the directory; empty when it does not exist.
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

struct ToolRun {
  int status = -1;        // exit status, or -1 when the process did not exit normally
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // killed for running past its time limit
  std::string out;        // standard output
  std::string err;        // standard error
};

struct RunOptions {
  int timeLimitSeconds = 0;    // > 0: killed after that long (ToolRun::timedOut)
  bool mergeStreams = false;   // standard error into the same file as standard output
  long long addressSpace = 0;  // > 0: limit of the process's address space, in bytes
  long cpuSeconds = 0;         // > 0: limit of its processor time
};

// A started process, collected by wait() like runTool.
class StartedTool {
 public:
  StartedTool(pid_t pid, std::filesystem::path out, std::filesystem::path err, int timeLimitSeconds)
      : pid_(pid),
        outPath_(std::move(out)),
        errPath_(std::move(err)),
        timeLimit_(timeLimitSeconds) {}
  ToolRun wait();
  void kill(int sig);

 private:
  pid_t pid_;
  std::filesystem::path outPath_, errPath_;
  int timeLimit_;
};

// Starts `exe` with `args` (argv[0] is `argv0`) in directory `dir`, with an
// empty standard input.
StartedTool startTool(const std::string& exe, const std::vector<std::string>& args,
                      const std::filesystem::path& dir, const RunOptions& options = {},
                      const std::string& argv0 = "kelbow");

// Runs it to its end.
ToolRun runTool(const std::string& exe, const std::vector<std::string>& args,
                const std::filesystem::path& dir, const std::string& argv0 = "kelbow");
ToolRun runTool(const std::string& exe, const std::vector<std::string>& args,
                const std::filesystem::path& dir, const RunOptions& options,
                const std::string& argv0 = "kelbow");

// A writer that sends `contents` into the named pipe `fifo` once a reader opens
// it, and gives up after `limitSeconds`. Collected (or ended) by finish().
class PipeWriter {
 public:
  PipeWriter(const std::filesystem::path& fifo, std::string contents, int limitSeconds = 60);
  ~PipeWriter() { finish(); }
  PipeWriter(const PipeWriter&) = delete;
  PipeWriter& operator=(const PipeWriter&) = delete;
  // Waits for the writer, ending it first if it is still blocked; true when it wrote everything.
  bool finish();

 private:
  pid_t pid_ = -1;
  bool wrote_ = false;
};

// Directory of the shared real data sets, or empty when it is not beside the
// checkout (the tests that need it then skip with a message).
std::filesystem::path sharedDir();

// Copies NAME.data and NAME.desc of the shared data set NAME into `dir`.
void copySharedSet(const std::filesystem::path& shared, const std::string& name,
                   const std::filesystem::path& dir);

// Contents of any file.
std::string readFile(const std::filesystem::path& p);

#ifdef KELBOW_EXE
// Base of the tests that run kelbow: a fresh directory for every test.
class KelbowTest : public ::testing::Test {
 protected:
  ToolRun kelbow(const std::vector<std::string>& args) {
    return runTool(KELBOW_EXE, args, dir_.path());
  }

  // Runs kelbow twice on a command line that must fail: once without the result
  // file `resultName`, which must stay absent, and once on one that holds an
  // earlier group, which must stay byte for byte as it was. Both runs must fail
  // alike; returns the second.
  ToolRun kelbowFailing(const std::vector<std::string>& args, const std::string& resultName) {
    std::filesystem::remove(dir_ / resultName);
    const ToolRun first = kelbow(args);
    EXPECT_EQ(first.status, 1) << first.err;
    EXPECT_FALSE(dir_.exists(resultName)) << "a failed run created " << resultName;
    const std::string earlier = "earlier.data\nkelbow\n0.000000\nearlier.data.kelbow\n";
    dir_.write(resultName, earlier);
    const ToolRun second = kelbow(args);
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_EQ(dir_.read(resultName), earlier) << "a failed run changed " << resultName;
    EXPECT_EQ(second.err, first.err);
    EXPECT_EQ(second.out, first.out);
    return second;
  }
  TempDir dir_;
};

// Tests on the real data sets beside the checkout; skipped, with a message,
// when they are missing.
class SharedDataTest : public KelbowTest {
 protected:
  void SetUp() override {
    shared_ = sharedDir();
    if (shared_.empty())
      GTEST_SKIP() << "../shared/data is not beside the checkout; real-data tests skipped";
  }
  // Copies NAME.data and NAME.desc of a shared data set into the test directory.
  void copySet(const std::string& name) { copySharedSet(shared_, name, dir_.path()); }
  // Runs kelbow on the set NAME and compares standard output and the result
  // file byte for byte with the golden files of NAME.
  void expectGoldenRun(const std::string& name) {
    copySet(name);
    const ToolRun r = kelbow({"-d", name + ".data", "-n", name + ".desc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, readFile(shared_ / "golden" / (name + ".stdout")));
    EXPECT_EQ(readFile(dir_ / (name + ".data.kelbow")),
              readFile(shared_ / "golden" / (name + ".data.kelbow")));
  }
  std::filesystem::path shared_;
};
#endif

}  // namespace kelbow::testing
