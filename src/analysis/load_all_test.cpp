#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "input/attribute_context.h"

namespace kelbow {
namespace {

// The direct loader with a row limit, which the command line never sets.
class DirectLoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "kelbow_loader_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    resetAttributeContext();
    std::filesystem::remove_all(dir_);
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(DirectLoaderTest, RowLimitReadsOnlyTheFirstRecords) {
  std::string rows;
  for (int r = 0; r < 100; ++r) rows += std::to_string(r % 2) + " " + std::to_string(r % 3) + "\n";
  const std::string data = write("d.txt", rows);
  const std::string desc = write("n.txt", "100 2\n2\n3\n");
  struct Heard : Progress {
    std::string text;
    void tableSize(int rows, int attributes) override {
      text += std::to_string(rows) + " " + std::to_string(attributes);
    }
  } heard;
  EntropyClustering analysis(data.c_str(), desc.c_str(), false, {}, heard);
  std::string err;
  ASSERT_TRUE(analysis.loadAll(10, err)) << err;
  EXPECT_EQ(heard.text, "10 2");
  EXPECT_EQ(analysis.rowCount, 10);
  EXPECT_EQ(analysis.clusterCount, 10);
  EXPECT_EQ(analysis.logTable.size(), 11u);
  ASSERT_EQ(analysis.clusters.size(), 10u);
  // Cluster i holds record i: row 7 is (1, 1), slots 1 and 3.
  EXPECT_EQ(analysis.clusters[7]->denseCounts(), (std::vector<int>{0, 1, 0, 1, 0}));
  EXPECT_EQ(analysis.clusters[7]->members, (MemberSet{7}));
  EXPECT_EQ(gValueCount, 5);
}

}  // namespace
}  // namespace kelbow
