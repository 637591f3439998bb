#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "analysis/hierarchy.h"

namespace kelbow {
namespace {

void put32(std::string& out, std::int32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void putFloat(std::string& out, float v) { out.append(reinterpret_cast<const char*>(&v), 4); }

// 7 rows in 4 starting clusters {0,1} {2} {3} {4,5,6}, merged 0+1, 2+3, 0+2.
std::string sevenRows() {
  std::string r = "kelbow run record 1\n";
  put32(r, 7), put32(r, 4), put32(r, 3);
  for (int i = 0; i < 40; ++i) putFloat(r, 0.01f * i);
  for (auto [s, a] : {std::pair{0, 1}, {2, 3}, {0, 2}}) put32(r, s), put32(r, a), putFloat(r, 0.5f);
  for (int s : {0, 0, 1, 2, 3, 3, 3}) put32(r, s);
  return r;
}

TEST(HierarchyRecordTest, ReadBackGivesEveryLevelAndTheSameBytes) {
  Hierarchy h;
  std::string err;
  ASSERT_TRUE(Hierarchy::fromRecord(sevenRows(), h, err)) << err;
  EXPECT_EQ(h.rowCount(), 7);
  EXPECT_EQ(h.startCount(), 4);
  EXPECT_FLOAT_EQ(h.curve(3), 0.03f);
  // Level 2: {0,1} holds rows 0-2, {2,3} rows 3-6, the larger numbered 1.
  EXPECT_EQ(h.labels(2), (std::vector<int>{2, 2, 2, 1, 1, 1, 1}));
  EXPECT_EQ(h.labels(4), (std::vector<int>{2, 2, 3, 4, 1, 1, 1}));
  EXPECT_EQ(h.clusterSizes(3), (std::vector<long long>{0, 3, 3, 1}));
  EXPECT_EQ(h.record(), sevenRows());
}

TEST(HierarchyRecordTest, DamagedRecordsAreRefused) {
  const std::string good = sevenRows();
  Hierarchy h;
  std::string err;
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(Hierarchy::fromRecord(good.substr(0, cut), h, err)) << cut;
    EXPECT_FALSE(err.empty());
  }
  EXPECT_FALSE(Hierarchy::fromRecord(good + "x", h, err));
  EXPECT_NE(err.find("padded"), std::string::npos) << err;
  const std::size_t merges = 20 + 12 + 160;
  const std::size_t rows = merges + 36;
  auto with = [&](std::size_t at, std::int32_t v) {
    std::string bad = good;
    std::memcpy(bad.data() + at, &v, 4);
    return bad;
  };
  // A merge of an absorbed cluster, a cluster out of range, a row's starting
  // cluster out of range, a starting cluster without rows, more merges than
  // clusters can take.
  EXPECT_FALSE(Hierarchy::fromRecord(with(merges + 24 + 4, 1), h, err));
  EXPECT_NE(err.find("merge 3"), std::string::npos) << err;
  EXPECT_FALSE(Hierarchy::fromRecord(with(merges, 4), h, err));
  EXPECT_FALSE(Hierarchy::fromRecord(with(rows + 8, -1), h, err));
  EXPECT_NE(err.find("row 3"), std::string::npos) << err;
  EXPECT_FALSE(Hierarchy::fromRecord(with(rows + 8, 0), h, err));
  EXPECT_NE(err.find("starting cluster 1 has no row"), std::string::npos) << err;
  EXPECT_FALSE(Hierarchy::fromRecord(with(28, 4), h, err));
}

}  // namespace
}  // namespace kelbow
