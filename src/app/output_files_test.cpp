#include "app/output_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace kelbow {
namespace {

namespace fs = std::filesystem;

class OutputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kelbow-out-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(OutputFilesTest, FilesAppearOnlyWhenAllAreCommitted) {
  std::string err;
  {
    OutputFiles out;
    ASSERT_TRUE(out.writeWhole(path("a"), "1\n", err)) << err;
    ASSERT_TRUE(out.writeWhole(path("b"), "2\n", err)) << err;
    const std::vector<std::string> during = files();
    EXPECT_EQ(during.size(), 2u);  // two temporaries, no real names yet
    EXPECT_EQ(std::count(during.begin(), during.end(), "a"), 0);
  }
  EXPECT_EQ(files(), std::vector<std::string>{});  // not committed: all removed

  OutputFiles out;
  ASSERT_TRUE(out.writeWhole(path("a"), "1\n", err)) << err;
  ASSERT_TRUE(out.writeWhole(path("b"), "2\n", err)) << err;
  ASSERT_TRUE(out.commit(err)) << err;
  EXPECT_EQ(files(), (std::vector<std::string>{"a", "b"}));
  std::ifstream in(path("b"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "2");
}

TEST_F(OutputFilesTest, AFailedCommitLeavesTheEarlierSetAsItWas) {
  std::ofstream(path("a")) << "old\n";
  std::ofstream(path("stale")) << "old\n";
  fs::create_directory(dir_ / "b");  // a file cannot replace a directory
  std::string err;
  OutputFiles out;
  ASSERT_TRUE(out.writeWhole(path("a"), "1\n", err)) << err;
  ASSERT_TRUE(out.writeWhole(path("b"), "2\n", err)) << err;
  out.removeAtCommit(path("stale"));
  EXPECT_FALSE(out.commit(err));
  EXPECT_EQ(err, path("b") + ": cannot write (Is a directory)");
  EXPECT_EQ(files(), (std::vector<std::string>{"a", "b", "stale"}));
  std::string line;
  std::getline(std::ifstream(path("a")), line);
  EXPECT_EQ(line, "old");

  // Without the directory in the way, the set goes in whole and the stale member goes.
  fs::remove(dir_ / "b");
  ASSERT_TRUE(out.writeWhole(path("a"), "1\n", err)) << err;
  ASSERT_TRUE(out.writeWhole(path("b"), "2\n", err)) << err;
  out.removeAtCommit(path("stale"));
  ASSERT_TRUE(out.commit(err)) << err;
  EXPECT_EQ(files(), (std::vector<std::string>{"a", "b"}));

  // An input of the run is never an output, and a missing directory is named.
  out.protect(path("a"));
  EXPECT_EQ(out.open(path("a"), err), nullptr);
  EXPECT_EQ(err, path("a") +
                     ": is an input of this run and is never written over; choose another "
                     "output name");
  EXPECT_EQ(out.open(path("no/such/dir"), err), nullptr);
  EXPECT_EQ(err, path("no/such/dir") + ": cannot create (No such file or directory)");
}

// Nobody can plant a link at a temporary's name ahead of the run: each name is
// drawn anew, and stays within the length of a directory entry.
TEST_F(OutputFilesTest, TemporaryNamesAreDrawnAnew) {
  const std::string first = OutputFiles::temporaryName(path("a"));
  EXPECT_NE(first, OutputFiles::temporaryName(path("a")));
  EXPECT_EQ(first.rfind(path("a") + ".tmp-", 0), 0u);
  const std::string longName(250, 'n');
  EXPECT_LE(fs::path(OutputFiles::temporaryName(path(longName))).filename().string().size(), 255u);
}

}  // namespace
}  // namespace kelbow
