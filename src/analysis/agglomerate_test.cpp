#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "analysis/hierarchy.h"
#include "input/attribute_context.h"
#include "input/tables.h"

namespace kelbow {
namespace {

namespace fs = std::filesystem;

// Each test works in a fresh temporary directory with its own data file d.txt
// and description file n.txt.
class AgglomerateTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "kelbow_agglomerate_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    data = (dir / "d.txt").string();
    description = (dir / "n.txt").string();
    result = data + ".kelbow";
  }
  void TearDown() override {
    analysis.reset();
    resetAttributeContext();
    fs::remove_all(dir);
  }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::set<std::string> files() const {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir))
      out.insert(entry.path().filename().string());
    return out;
  }

  // The three rows A = (0, 2), B = (1, 2), D = (0, 0) over domain sizes (2, 3).
  void writeThreeRowExample() {
    write(data, "0 2\n1 2\n0 0\n");
    write(description, "3 2\n2\n3\n");
  }
  // 24 rows of repeating codes over domain sizes (2, 3, 4): enough for every level below 20.
  void writeTwentyFourRows() {
    std::string rows;
    for (int r = 0; r < 24; ++r)
      rows += std::to_string(r % 2) + " " + std::to_string(r % 3) + " " +
              std::to_string((r / 3) % 4) + "\n";
    write(data, rows);
    write(description, "24 3\n2\n3\n4\n");
  }

  // What the analysis reports, as kelbow prints it.
  struct Heard : Progress {
    std::string text;
    void tableSize(int rows, int attributes) override {
      text += "rows=" + std::to_string(rows) + " cols = " + std::to_string(attributes) + "\n";
    }
    void merged(int iteration, int /*total*/) override {
      text += "iteration " + std::to_string(iteration) + "\n";
    }
  } heard;

  // Constructs the analysis object and loads the table; keeps its progress and
  // every snapshot it hands out.
  void load(bool withResult = true) {
    analysis = std::make_unique<EntropyClustering>(data.c_str(), description.c_str(), withResult,
                                                   AnalysisSettings{}, heard);
    analysis->snapshotSink = [this](int k, const std::vector<int>& labels) {
      snapshots[k] = labels;
    };
    snapshots.clear();
    heard.text.clear();
    std::string err;
    ASSERT_TRUE(analysis->loadAll(0, err)) << err;
    loadOutput = heard.text;
  }
  float agglomerate(int targetK) {
    heard.text.clear();
    const float value = analysis->agglomerate(targetK);
    mergeOutput = heard.text;
    return value;
  }

  // Labels of one snapshot.
  std::vector<int> snapshot(int k) const {
    const auto at = snapshots.find(k);
    return at == snapshots.end() ? std::vector<int>{} : at->second;
  }
  std::set<int> levels() const {
    std::set<int> out;
    for (const auto& [k, labels] : snapshots) out.insert(k);
    return out;
  }

  std::map<int, std::vector<int>> snapshots;
  fs::path dir;
  std::string data, description, result;
  std::unique_ptr<EntropyClustering> analysis;
  std::string loadOutput, mergeOutput;
};

TEST_F(AgglomerateTest, ThreeRowExampleGivesTheHandDerivedCurve) {
  writeThreeRowExample();
  load();
  agglomerate(-1);
  EXPECT_EQ(loadOutput, "rows=3 cols = 2\n");
  EXPECT_EQ(mergeOutput, "iteration 1\niteration 2\n");
  // Summed entropy 0.63092977 after the first merge, 2.2465141 after the second, over 3 rows.
  EXPECT_EQ(analysis->normalisedCurve[1], static_cast<float>(2.2465141f / 3.0));
  EXPECT_EQ(analysis->normalisedCurve[2], static_cast<float>(0.63092977f / 3.0));
  // No merge reaches 3 or more clusters; one-row clusters start at 0.
  for (int k = 3; k < 40; ++k) EXPECT_EQ(analysis->normalisedCurve[k], 0.0f) << "k=" << k;
}

TEST_F(AgglomerateTest, ReturnsTheCurveAtTargetKAndZeroOutsideOneToThirtyNine) {
  writeThreeRowExample();
  const std::map<int, float> expected{{1, static_cast<float>(2.2465141f / 3.0)},
                                      {2, static_cast<float>(0.63092977f / 3.0)},
                                      {-1, 0.0f},
                                      {0, 0.0f},
                                      {40, 0.0f}};
  for (const auto& [targetK, value] : expected) {
    load();
    EXPECT_EQ(agglomerate(targetK), value) << "targetK " << targetK;
    analysis.reset();
  }
}

// The block is collected in memory; the run driver appends it to the file.
TEST_F(AgglomerateTest, CollectsTheExactKelbowBlock) {
  writeThreeRowExample();
  write(result, "earlier run\n");
  load();
  agglomerate(-1);
  EXPECT_EQ(analysis->resultFile, nullptr);  // closed after the block
  // c(1) = 0.7488380, c(2) = 0.2103099, c(3..) = 0:
  // v(1) = c(1) - 3 c(2) = 0.1179083, v(2) = c(2), every later value 0.
  std::string block = data + "\nkelbow\n0.117908\n0.210310\n";
  for (int t = 3; t <= 29; ++t) block += "0.000000\n";
  EXPECT_EQ(analysis->resultText(), block);
  EXPECT_EQ(read(result), "earlier run\n");
}

TEST_F(AgglomerateTest, WithoutAResultFileNothingIsWritten) {
  writeThreeRowExample();
  load(false);
  agglomerate(-1);
  EXPECT_EQ(files(), (std::set<std::string>{"d.txt", "n.txt"}));
}

// Starting clusters of several rows (as the summary tree gives them): curve
// entries that no merge writes hold the starting summed entropy.
TEST_F(AgglomerateTest, CurveAboveTheStartingClustersHoldsTheStartingValue) {
  writeThreeRowExample();  // opened by the constructor, not loaded
  analysis = std::make_unique<EntropyClustering>(data.c_str(), description.c_str(), true);
  resetAttributeContext();
  analysis->domainSizes = {2, 3};
  analysis->weights = attributeWeights(analysis->domainSizes);
  analysis->logTable = logTable(4);
  analysis->rowCount = 4;
  analysis->clusterCount = 2;
  // Rows (0, 2), (1, 2) with E = 1.0, and rows (0, 0), (0, 0) with E = 0.
  const int first[5] = {1, 1, 0, 0, 2};
  const int second[5] = {2, 0, 2, 0, 0};
  for (const int* table : {first, second}) {
    analysis->clusters.push_back(std::make_unique<ClusterSummary>(
        2, 0, analysis->domainSizes.data(), analysis->logTable.data()));
    gWeights = analysis->weights.data();
    analysis->clusters.back()->initFromCounts(table, 2,
                                              static_cast<int>(analysis->clusters.size()) - 1);
  }
  ASSERT_EQ(analysis->clusters[0]->storedEntropy, 1.0f);
  agglomerate(-1);
  // Start 1.0 over 4 rows; the one merge adds U - 1.0 = 2.8844156 - 1.0.
  for (int k = 2; k < 40; ++k) EXPECT_EQ(analysis->normalisedCurve[k], 0.25f) << "k=" << k;
  EXPECT_NEAR(analysis->normalisedCurve[1], 2.8844156 / 4, 1e-6);
  // A flat curve above one cluster: only v(1) = c(1) - c(4) differs from 0.
  const std::string text = analysis->resultText();
  EXPECT_EQ(text.substr(text.find("kelbow\n") + 7, 18), "0.471104\n0.000000\n");
}

TEST_F(AgglomerateTest, EveryEntryBelowFortyComesFromAMerge) {
  // All 45 rows differ, so every merge costs something and the curve falls
  // strictly from one cluster up to 39.
  std::string rows;
  for (int r = 0; r < 45; ++r)
    rows += std::to_string(r % 3) + " " + std::to_string((r / 3) % 3) + " " +
            std::to_string(r / 9) + "\n";
  write(data, rows);
  write(description, "45 3\n3\n3\n5\n");
  load();
  agglomerate(-1);
  EXPECT_GT(analysis->normalisedCurve[39], 0.0f);
  for (int k = 1; k < 39; ++k)
    EXPECT_GT(analysis->normalisedCurve[k], analysis->normalisedCurve[k + 1]) << "k=" << k;
}

TEST_F(AgglomerateTest, NoSnapshotWhenTargetKIsMinusOne) {
  writeTwentyFourRows();
  load();
  agglomerate(-1);
  EXPECT_EQ(levels(), std::set<int>{});
  EXPECT_EQ(files(), (std::set<std::string>{"d.txt", "n.txt"}));
}

TEST_F(AgglomerateTest, TargetKZeroWritesEveryLevelBelowTwenty) {
  writeTwentyFourRows();
  load();
  agglomerate(0);
  std::set<int> expected;
  for (int k = 1; k <= 19; ++k) expected.insert(k);
  EXPECT_EQ(levels(), expected);

  std::vector<int> finer = snapshot(19);
  for (int k = 19; k >= 1; --k) {
    SCOPED_TRACE("k=" + std::to_string(k));
    const std::vector<int> labels = snapshot(k);
    ASSERT_EQ(labels.size(), 24u);
    // Labels 0 .. k-1, each used.
    EXPECT_EQ(std::set<int>(labels.begin(), labels.end()).size(), static_cast<std::size_t>(k));
    for (int l : labels) EXPECT_TRUE(l >= 0 && l < k) << l;
    // Rows that share a cluster at k + 1 clusters still share one at k.
    for (int r = 0; r < 24; ++r) {
      for (int s = 0; s < 24; ++s) {
        if (finer[r] == finer[s]) {
          EXPECT_EQ(labels[r], labels[s]) << "rows " << r << ", " << s;
        }
      }
    }
    finer = labels;
  }
  EXPECT_EQ(snapshot(1), std::vector<int>(24, 0));
}

TEST_F(AgglomerateTest, TargetKFiveWritesLevelsFiveDownToTwo) {
  writeTwentyFourRows();
  load();
  agglomerate(5);
  EXPECT_EQ(levels(), (std::set<int>{2, 3, 4, 5}));
  EXPECT_EQ(files(), (std::set<std::string>{"d.txt", "n.txt"}));
}

// The labels of any level come from the recorded merges alone, numbered as
// the snapshots taken during the merge number them.
TEST_F(AgglomerateTest, LabelsReplayedFromTheMergesMatchTheSnapshots) {
  writeTwentyFourRows();
  load();
  agglomerate(0);
  ASSERT_EQ(analysis->merges.size(), 23u);
  for (int k = 1; k <= 19; ++k)
    EXPECT_EQ(startLabels(analysis->merges, 24, k), snapshot(k)) << "k=" << k;
  EXPECT_EQ(startLabels(analysis->merges, 24, 24), [] {
    std::vector<int> each(24);
    for (int i = 0; i < 24; ++i) each[i] = i;
    return each;
  }());
}

}  // namespace
}  // namespace kelbow
