#include <gtest/gtest.h>

#include <cstdint>

#include "report/cluster_report.h"
#include "report/dendrogram.h"

namespace kelbow {
namespace {

// 7 rows in 4 starting clusters {0,1} {2} {3} {4,5,6}, merged 0+1, 2+3, 0+2.
Hierarchy sevenRows() {
  std::string r = "kelbow run record 1\n";
  auto put = [&](std::int32_t v) { r.append(reinterpret_cast<const char*>(&v), 4); };
  put(7), put(4), put(3);
  r.append(160, '\0');
  for (auto [s, a] : {std::pair{0, 1}, {2, 3}, {0, 2}}) put(s), put(a), put(0);
  for (int s : {0, 0, 1, 2, 3, 3, 3}) put(s);
  Hierarchy h;
  std::string err;
  EXPECT_TRUE(Hierarchy::fromRecord(r, h, err)) << err;
  return h;
}

TEST(DendrogramTest, LeavesMergesAndTheCut) {
  const Dendrogram d = buildDendrogram(sevenRows(), 30, 2);
  ASSERT_EQ(d.leaves, 4);  // every starting cluster, fewer than 30
  ASSERT_EQ(d.nodes.size(), 7u);
  EXPECT_EQ(d.root, 6);
  std::vector<long long> rows;
  std::vector<int> clusters;
  for (const Dendrogram::Node& n : d.nodes) rows.push_back(n.rows), clusters.push_back(n.cluster);
  EXPECT_EQ(rows, (std::vector<long long>{2, 1, 1, 3, 3, 4, 7}));
  // At the cut of 2, rows 3-6 form cluster 1; the root spans both.
  EXPECT_EQ(clusters, (std::vector<int>{2, 2, 1, 1, 2, 1, 0}));
  EXPECT_EQ(d.nodes[4].level, 3);
  EXPECT_EQ(d.nodes[6].level, 1);
  // The larger side first at every merge.
  EXPECT_EQ(d.leafOrder, (std::vector<int>{3, 2, 0, 1}));

  // Fewer levels drawn: the leaves are the clusters of level 2.
  const Dendrogram two = buildDendrogram(sevenRows(), 2, 5);
  EXPECT_EQ(two.leaves, 2);
  EXPECT_EQ(two.cut, 2);
  EXPECT_EQ(two.nodes.size(), 3u);
  EXPECT_EQ(two.nodes[two.root].rows, 7);

  const std::string_view colours[] = {"#111", "#222"};
  const std::string svg = renderDendrogramSvg(d, colours);
  EXPECT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_EQ(svg.find("<?xml"), std::string::npos);
  EXPECT_NE(svg.find("cut: 2 clusters"), std::string::npos);
  EXPECT_EQ(buildDendrogram(sevenRows(), 30, 1).cut, 1);
  EXPECT_EQ(renderDendrogramSvg(buildDendrogram(sevenRows(), 30, 1), {}).find("cut:"),
            std::string::npos);
}

TEST(ClusterReportTest, PageAndJsonCarryEveryClusterEscaped) {
  ClusterReport r;
  r.inputName = "a<b>&.csv";
  r.rows = 7;
  r.attributeNames = {"colour \"x\"", "size"};
  r.values = {{"red", "</td>"}, {"s", "m"}};
  r.k = 2;
  r.choice.k = 2;
  for (int k = 2; k <= 30; ++k) r.choice.levels.push_back({.k = k});
  r.choice.candidates = {2};
  r.dendrogram = buildDendrogram(sevenRows(), 30, 2);
  ClusterCounts counts(2, {2, 2});
  const int rows[4][2] = {{0, 0}, {0, 0}, {1, 1}, {1, 0}};
  for (int i = 0; i < 4; ++i) counts.add(i / 2, rows[i]);
  r.clusters = profileClusters(counts, {}, 5);
  testDistinctiveValues(counts, r.clusters);
  r.variables = rankVariables(counts, {});
  r.keyAttributes = keyAttributesOf(r.variables);
  r.typical.assign(2, {});
  r.typical[1].push_back({2, -0.3, {1, 1}});
  const std::string page = renderReportHtml(r);
  EXPECT_NE(page.find("id=\"cluster-1\""), std::string::npos);
  EXPECT_NE(page.find("id=\"cluster-2\""), std::string::npos);
  EXPECT_NE(page.find("a&lt;b&gt;&amp;.csv"), std::string::npos);
  EXPECT_EQ(page.find("</td>&"), std::string::npos);
  EXPECT_NE(page.find("&lt;/td&gt;"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http://www.w3.org/2000/svg\" width=\"800\" height=\"500\""),
            page.rfind("http://www.w3.org/2000/svg\" width=\"800\" height=\"500\""));
  const std::string json = renderReportJson(r);
  EXPECT_NE(json.find("\"attribute\": \"colour \\\"x\\\"\""), std::string::npos);
  EXPECT_NE(json.find("{\"row\": 3, \"score\": -0.300000}"), std::string::npos);
  EXPECT_NE(json.find("\"classes\": null"), std::string::npos);
}

TEST(ClusterReportTest, PValuesAsThePageShowsThem) {
  EXPECT_EQ(formatPValue(0.5), "0.500");
  EXPECT_EQ(formatPValue(0.001), "0.001");
  EXPECT_EQ(formatPValue(0.00012345), "1.2e-04");
  EXPECT_EQ(formatPValue(0), "&lt; 1e-300");
}

}  // namespace
}  // namespace kelbow
