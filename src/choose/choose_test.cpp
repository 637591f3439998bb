#include "choose/choose.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "choose/code_table.h"
#include "choose/reference_rows.h"

namespace kelbow {
namespace {

// Reference tables keep every column's values and their frequencies.
TEST(ReferenceRows, EachColumnKeepsItsCountsAndASeedFixesTheRows) {
  const std::vector<std::vector<long long>> counts = {{5, 0, 3}, {1, 7}, {8}};
  auto draw = [&](long long rows, std::uint64_t seed) {
    ReferenceRows source(counts, rows, seed, "ref");
    std::vector<std::vector<int>> out;
    std::vector<int> codes(3);
    std::string err;
    while (source.read(codes.data(), err) == RowSource::Result::kRecord) out.push_back(codes);
    EXPECT_TRUE(source.atEnd());
    return out;
  };
  const auto all = draw(100, 7);  // more than the table holds: all 8 rows
  ASSERT_EQ(all.size(), 8u);
  std::vector<std::vector<long long>> seen = {{0, 0, 0}, {0, 0}, {0}};
  for (const auto& row : all)
    for (int a = 0; a < 3; ++a) ++seen[a][row[a]];
  EXPECT_EQ(seen, counts);
  EXPECT_EQ(draw(8, 7), all);
  EXPECT_NE(draw(8, 8), all);
  EXPECT_EQ(draw(5, 7).size(), 5u);
}

// A curve of normalised expected entropies by number of clusters (entry k for
// k clusters, 40 entries) that falls by `drop[k]` on reaching k clusters
// and by `base` at every other step.
std::vector<float> curve(const std::vector<std::pair<int, double>>& drops, double base) {
  std::vector<float> c(40, 0.0f);
  double v = 1.0;
  c[1] = static_cast<float>(v);
  for (int k = 2; k < 40; ++k) {
    double d = base / k;
    for (const auto& [at, size] : drops)
      if (at == k) d = size;
    v -= d;
    c[k] = static_cast<float>(v);
  }
  return c;
}

std::vector<std::vector<float>> references(int n) {
  std::vector<std::vector<float>> r;
  for (int i = 0; i < n; ++i) r.push_back(curve({}, 0.02 + 0.0005 * i));
  return r;
}

TEST(Judge, ACornerFarAboveTheReferencesIsTheAnswer) {
  Choice c;
  const auto table = curve({{2, 0.1}, {3, 0.1}, {4, 0.1}}, 0.02);
  judge(table.data(), references(10), {table, table}, c);
  EXPECT_EQ(c.k, 4);
  EXPECT_EQ(c.candidates, std::vector<int>{4});
  EXPECT_TRUE(c.at(4).supported);
  EXPECT_EQ(c.at(4).ordersSupported, 2);
  EXPECT_GT(c.at(4).z, 100);
}

TEST(Judge, NoCornerAboveTheReferencesIsNoStructure) {
  Choice c;
  const auto table = curve({}, 0.021);
  judge(table.data(), references(10), {}, c);
  EXPECT_EQ(c.k, 1);
  EXPECT_TRUE(c.candidates.empty());
  for (const LevelEvidence& e : c.levels) EXPECT_FALSE(e.supported) << e.k;
}

TEST(Judge, NestedStructureRecommendsTheFinerLevelAndListsTheCoarser) {
  Choice c;
  const auto table = curve({{2, 0.2}, {3, 0.05}, {4, 0.05}, {5, 0.05}}, 0.02);
  judge(table.data(), references(10), {}, c);
  EXPECT_EQ(c.k, 5);
  EXPECT_EQ(c.candidates, (std::vector<int>{5, 2}));
}

// A corner that most other row orders do not show gives way to one they do.
TEST(Judge, ACornerMostOrdersDoNotShowIsNotRecommended) {
  Choice c;
  const auto table = curve({{2, 0.2}, {3, 0.05}, {4, 0.05}, {5, 0.05}}, 0.02);
  const auto coarse = curve({{2, 0.35}}, 0.02);
  judge(table.data(), references(10), {coarse, coarse, table}, c);
  EXPECT_EQ(c.k, 2);
  EXPECT_EQ(c.candidates, (std::vector<int>{2, 5}));
  EXPECT_EQ(c.at(5).ordersSupported, 1);
}

}  // namespace
}  // namespace kelbow
