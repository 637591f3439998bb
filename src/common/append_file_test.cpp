#include "common/append_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kelbow {
namespace {

namespace fs = std::filesystem;

class AppendFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "kelbow_append_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(dir_ / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
};

TEST_F(AppendFileTest, TellsWhetherAFileCanBeAppendedToWithoutCreatingIt) {
  write("old", "x\n");
  EXPECT_TRUE(canAppendTo(path("old")));
  EXPECT_TRUE(canAppendTo(path("new")));
  EXPECT_FALSE(fs::exists(dir_ / "new"));

  EXPECT_FALSE(canAppendTo(path("nowhere/new")));
  EXPECT_EQ(errno, ENOENT);
  fs::create_directory(dir_ / "sub");
  EXPECT_FALSE(canAppendTo(path("sub")));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(canAppendTo(path("old/new")));
  EXPECT_EQ(errno, ENOTDIR);
  // A named pipe nobody reads is refused at once instead of waiting.
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(canAppendTo(path("pipe")));
  EXPECT_EQ(errno, ENXIO);
  // Where /dev/fd names live, no new file can be made.
  EXPECT_FALSE(canAppendTo("/proc/self/fd/0.kelbow"));
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(AppendFileTest, AppendsTheWholeTextAfterWhatIsThere) {
  EXPECT_EQ(appendWhole(path("r"), "first\n"), AppendStatus::kAppended);
  write("s", "earlier\n");
  EXPECT_EQ(appendWhole(path("s"), "group\nend\n"), AppendStatus::kAppended);
  EXPECT_EQ(appendWhole(path("s"), "again\n"), AppendStatus::kAppended);
  EXPECT_EQ(read("r"), "first\n");
  EXPECT_EQ(read("s"), "earlier\ngroup\nend\nagain\n");
  EXPECT_EQ(appendWhole(path("nowhere/r"), "x"), AppendStatus::kCannotOpen);
}

TEST_F(AppendFileTest, AFullDiskIsAWriteFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  EXPECT_EQ(appendWhole("/dev/full", "group\n"), AppendStatus::kCannotWrite);
  EXPECT_EQ(errno, ENOSPC);
}

// A file-size limit takes the first part of the text and refuses the rest
// (without the signal that would end the process): the part written is cut
// off again, so the file keeps its old bytes only, and a file the append made
// is not left behind, not even empty.
TEST_F(AppendFileTest, AGroupWrittenInPartIsTakenBackWhole) {
  write("r", "earlier group\n");
  const std::string text(100, 'g');
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{14 + 40, 14 + 40};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const AppendStatus status = appendWhole(path("r"), text);
    const bool cutBack = status == AppendStatus::kCannotWrite && errno == EFBIG;
    const AppendStatus made = appendWhole(path("new"), text);
    const bool removed =
        made == AppendStatus::kCannotWrite && errno == EFBIG && !fs::exists(path("new"));
    ::_exit(cutBack && removed ? 0 : 1);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  EXPECT_EQ(read("r"), "earlier group\n");
}

}  // namespace
}  // namespace kelbow
