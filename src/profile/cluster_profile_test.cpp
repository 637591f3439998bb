#include "profile/cluster_profile.h"

#include <gtest/gtest.h>

#include "profile/profile_report.h"

namespace kelbow {
namespace {

TEST(ClassAgreementTest, PurityAndAdjustedRandIndexByHand) {
  // Clusters {0,1,2} {3,4,5}; classes {0,1} {2,3} {4,5}. Pairs together in both:
  // (0,1) and (4,5), 2 of them; in the clusters 6, in the classes 3, of 15 in all.
  // Expected 6 * 3 / 15 = 1.2, maximum (6 + 3) / 2 = 4.5: (2 - 1.2) / (4.5 - 1.2) = 8/33.
  const ClassAgreement g = compareWithClasses({0, 0, 0, 1, 1, 1}, {0, 0, 1, 1, 2, 2}, 2, 3);
  EXPECT_EQ(g.table, (std::vector<std::vector<long long>>{{2, 1, 0}, {0, 1, 2}}));
  EXPECT_DOUBLE_EQ(g.purity, 4.0 / 6);
  EXPECT_DOUBLE_EQ(g.adjustedRandIndex, 8.0 / 33);

  // Renamed but identical partitions agree fully; so do two single blocks.
  EXPECT_DOUBLE_EQ(compareWithClasses({1, 1, 0, 2}, {0, 0, 2, 1}, 3, 3).adjustedRandIndex, 1.0);
  EXPECT_DOUBLE_EQ(compareWithClasses({0, 0, 0}, {0, 0, 0}, 1, 1).adjustedRandIndex, 1.0);
  // One cluster against two classes: no better than chance.
  const ClassAgreement one = compareWithClasses({0, 0, 0, 0}, {0, 1, 0, 1}, 1, 2);
  EXPECT_DOUBLE_EQ(one.adjustedRandIndex, 0.0);
  EXPECT_DOUBLE_EQ(one.purity, 0.5);
}

TEST(ClusterProfileTest, DistinctiveValuesModesAndMissing) {
  // Two attributes of 2 and 3 values; code 2 of attribute 1 marks a missing value.
  ClusterCounts counts(2, {2, 3});
  const int rows[5][2] = {{0, 0}, {0, 1}, {1, 2}, {1, 2}, {0, 2}};
  const int cluster[5] = {0, 0, 1, 1, 1};
  for (int r = 0; r < 5; ++r) counts.add(cluster[r], rows[r]);
  const std::vector<std::vector<bool>> missing = {{false, false}, {false, false, true}};
  const std::vector<ClusterProfile> p = profileClusters(counts, missing, 5);
  ASSERT_EQ(p.size(), 2u);

  // Cluster 0: attribute 0 code 0 in 2/2 rows against 3/5 (+0.4); codes 0 and 1 of
  // attribute 1 in 1/2 against 1/5 each (+0.3, lift 2.5), in code order.
  EXPECT_EQ(p[0].size, 2);
  ASSERT_EQ(p[0].distinctive.size(), 3u);
  EXPECT_EQ(p[0].distinctive[0].attribute, 0);
  EXPECT_DOUBLE_EQ(p[0].distinctive[0].lift, 1.0 / 0.6);
  EXPECT_EQ(p[0].distinctive[1].code, 0);
  EXPECT_EQ(p[0].distinctive[2].code, 1);
  EXPECT_DOUBLE_EQ(p[0].distinctive[2].lift, 2.5);
  EXPECT_EQ(p[0].modes[1].code, 0);  // a tie goes to the smaller code
  EXPECT_TRUE(p[0].missing.empty());

  // Cluster 1: only attribute 0 code 1 (2/3 against 2/5) stands out; attribute 1
  // is all missing, so it has no mode and is never ranked.
  ASSERT_EQ(p[1].distinctive.size(), 1u);
  EXPECT_EQ(p[1].distinctive[0].code, 1);
  EXPECT_EQ(p[1].modes[0].code, 1);
  EXPECT_EQ(p[1].modes[1].code, -1);
  ASSERT_EQ(p[1].missing.size(), 1u);
  EXPECT_EQ(p[1].missing[0].count, 3);

  EXPECT_EQ(profileClusters(counts, missing, 1)[0].distinctive.size(), 1u);
}

// Raw values with a comma, a quote, an escaped tab and the empty value reach
// every format intact: quoted in CSV, escaped in JSON, shown as "" in text.
TEST(ProfileReportTest, AwkwardValuesSurviveEveryFormat) {
  ClusterCounts counts(1, {3});
  for (int code : {0, 1, 2}) counts.add(0, &code);
  ProfileReport r;
  r.tableName = "t";
  r.labelsName = "t.k1";
  r.rows = 3;
  r.attributeNames = {"a,b"};
  r.values = {{"x,\"y\"", "p\\tq", ""}};  // as the codes file holds them: p\tq is p<TAB>q
  r.clusterLabels = {7};
  r.clusters = profileClusters(counts, {}, 5);
  r.classesName = "t.labels";
  r.classNames = {"c\\td"};
  r.agreement = compareWithClasses({0, 0, 0}, {0, 0, 0}, 1, 1);

  const std::string csv = formatReport(r, ReportFormat::kCsv);
  EXPECT_NE(csv.find("\nmode,7,\"a,b\",\"x,\"\"y\"\"\",1,0.333333,0.333333,1.000000,,,,,\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\nclass,7,,c\td,3,,,,,,,,\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\nadjusted_rand_index,,,,,1.000000,,,,,,,\n"), std::string::npos) << csv;

  const std::string json = formatReport(r, ReportFormat::kJson);
  EXPECT_NE(json.find("\"attributes\": [\"a,b\"]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"value\": \"x,\\\"y\\\"\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"names\": [\"c\\td\"]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"label\": 7,"), std::string::npos) << json;

  const std::string text = formatReport(r, ReportFormat::kText);
  EXPECT_NE(text.find("cluster 7: 3 rows (100.0%)\n  no value is more frequent here"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("modes: a,b = x,\"y\" (33.3%)\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace kelbow
