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

TEST_F(OutputFilesTest, AFailedRenameTakesBackTheFilesAlreadyInPlace) {
  fs::create_directory(dir_ / "b");  // a file cannot replace a directory
  std::string err;
  OutputFiles out;
  ASSERT_TRUE(out.writeWhole(path("a"), "1\n", err)) << err;
  ASSERT_TRUE(out.writeWhole(path("b"), "2\n", err)) << err;
  EXPECT_FALSE(out.commit(err));
  EXPECT_EQ(err.rfind(path("b") + ": cannot write (", 0), 0u) << err;
  EXPECT_EQ(files(), std::vector<std::string>{"b"});
  EXPECT_EQ(out.open(path("no/such/dir"), err), nullptr);
  EXPECT_EQ(err, path("no/such/dir") + ": cannot create (No such file or directory)");
}

}  // namespace
}  // namespace kelbow
