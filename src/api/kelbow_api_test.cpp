#include "api/kelbow_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "analysis/entropy_clustering.h"

namespace kelbow {
namespace {

// Rows of three planted groups (codes 0, 1 and 2 in most attributes) with a
// fixed stream of noise.
std::vector<std::int32_t> plantedCodes(int rows, int attributes) {
  std::vector<std::int32_t> codes;
  std::uint32_t noise = 7;
  for (int r = 0; r < rows; ++r)
    for (int a = 0; a < attributes; ++a) {
      noise = noise * 1664525u + 1013904223u;
      codes.push_back((noise >> 24) % 10 < 8 ? r % 3
                                             : static_cast<std::int32_t>((noise >> 16) % 4));
    }
  return codes;
}

TEST(KelbowApiTest, BadTablesAndSettingsComeBackAsOneLine) {
  Table t;
  std::string err;
  const std::vector<std::int32_t> bad = {0, 1, 2, -1};
  EXPECT_FALSE(Table::make(bad.data(), 2, 2, {}, "t", t, err));
  EXPECT_EQ(err, "t: record 2, attribute 2: the code -1 is outside 0..2147483646");
  Encoding two;
  two.names = {"a", "b"};
  two.values = {{"x", "y"}, {"x", "y"}};
  const std::vector<std::int32_t> wide = {0, 1, 2, 1};
  EXPECT_FALSE(Table::make(wide.data(), 2, 2, two, "t", t, err));
  EXPECT_EQ(err, "t: record 2, attribute 1: the code 2 is outside 0..1");
  EXPECT_FALSE(Table::make(wide.data(), 1, 4, two, "t", t, err));
  EXPECT_EQ(err, "t: the table has 4 attributes but its encoding 2 value lists and 2 names");
  const std::vector<std::int32_t> flat = {0, 0, 0, 0};
  EXPECT_FALSE(Table::make(flat.data(), 2, 2, {}, "t", t, err));
  EXPECT_EQ(err, "t: every attribute has domain size 1; there is nothing to cluster");
  EXPECT_FALSE(Table::make(flat.data(), 0, 2, {}, "t", t, err));

  const std::vector<std::int32_t> codes = plantedCodes(30, 4);
  ASSERT_TRUE(Table::make(codes.data(), 30, 4, {}, "t", t, err)) << err;
  Fit f;
  FitSettings s;
  s.k = 31;
  EXPECT_FALSE(fit(t, s, f, err));
  EXPECT_EQ(err, "k takes a number from 2 to 30, not 31");
  s.k = 0;
  s.choice.references = 1;
  EXPECT_FALSE(fit(t, s, f, err));
  EXPECT_EQ(err, "references takes a number from 2 to 1000, not 1");
}

TEST(KelbowApiTest, FitAgreesWithTheAnalysisAndItsModelPlacesTheTrainingRows) {
  const int rows = 90, attributes = 6;
  const std::vector<std::int32_t> codes = plantedCodes(rows, attributes);
  Table t;
  std::string err;
  ASSERT_TRUE(Table::make(codes.data(), rows, attributes, {}, "planted", t, err)) << err;
  Fit f;
  FitSettings s;
  s.choice.references = 4;
  s.choice.orders = 1;
  ASSERT_TRUE(fit(t, s, f, err)) << err;
  EXPECT_EQ(f.k(), 3);

  // The same rows through the analysis object directly give the same curve.
  TableRows direct(t.codes(), nullptr, "planted");
  EntropyClustering analysis(t.description(), direct);
  ASSERT_TRUE(analysis.loadAll(0, err)) << err;
  analysis.agglomerate(-1);
  const std::vector<double> values = f.kelbowValues();
  ASSERT_EQ(values.size(), 29u);
  for (int k = 2; k <= 30; ++k) EXPECT_EQ(values[k - 2], f.choice().at(k).value) << k;
  for (int k = 1; k < 40; ++k) EXPECT_EQ(f.hierarchy().curve(k), analysis.normalisedCurve[k]) << k;

  std::vector<int> at;
  ASSERT_TRUE(f.labelsAt(f.k(), at, err));
  EXPECT_EQ(at, f.labels());
  ASSERT_TRUE(f.labelsAt(5, at, err));
  EXPECT_EQ(*std::max_element(at.begin(), at.end()), 5);
  EXPECT_FALSE(f.labelsAt(31, at, err));

  // The model, written and read back, places every training row in its own
  // cluster here (the planted groups are far apart).
  Model m;
  ASSERT_TRUE(readModel(modelJson(f.model()), "model", m, err)) << err;
  std::vector<Assignment> placed;
  ASSERT_TRUE(assignCodes(m, codes.data(), rows, attributes, placed, err)) << err;
  int same = 0;
  for (int r = 0; r < rows; ++r) same += placed[r].cluster + 1 == f.labels()[r];
  EXPECT_GE(same, rows * 9 / 10);
  EXPECT_FALSE(assignCodes(m, codes.data(), rows / 2, attributes * 2, placed, err));

  ClusterReport r;
  ASSERT_TRUE(f.report(0, 3, 2, r, err)) << err;
  ASSERT_EQ(r.clusters.size(), 3u);
  long long sized = 0;
  for (const ClusterProfile& p : r.clusters) sized += p.size;
  EXPECT_EQ(sized, rows);
  EXPECT_EQ(r.typical[0].size(), 2u);
  EXPECT_NE(renderReportJson(r).find("\"rows\""), std::string::npos);
}

}  // namespace
}  // namespace kelbow
