#include "summary/cf_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>

#include "input/attribute_context.h"
#include "input/tables.h"
#include "summary/summary_test_support.h"

namespace kelbow {
namespace {

using test::describe;
using test::expectTreeInvariants;
using test::plantedTable;
using test::TreeShape;

void insertAll(CFTree& tree, const std::vector<std::vector<int>>& rows) {
  for (const auto& r : rows) tree.insertRow(r.data());
}

TEST(CFTree, TheNineteenthRowSplitsTheRootLeaf) {
  CFTree tree(describe({4, 4, 4}), 0.01f, 800, 20);
  const auto rows = plantedTable(19, {4, 4, 4}, 3, 0.5, 7);
  for (int r = 0; r < 18; ++r) tree.insertRow(rows[r].data());
  EXPECT_EQ(tree.root->level, 0);
  EXPECT_EQ(tree.root->count, 18);
  EXPECT_EQ(tree.leafCount, 1);

  tree.insertRow(rows[18].data());
  EXPECT_EQ(tree.root->level, 1);
  EXPECT_EQ(tree.root->count, 2);
  EXPECT_EQ(tree.rootBlock, tree.root->block);
  EXPECT_EQ(tree.leafCount, 2);
  EXPECT_EQ(tree.rowsInserted, 19);
  expectTreeInvariants(tree);
}

// A split that an entry coming back from re-insertion causes at the root grows
// the tree at once, while other entries still wait in the list. Fan-out 4,
// threshold 100 (every entry close): the root holds leaves {000, 111} and
// {001, 110}. Row 110 joins the first leaf (a tie, the first wins), which sheds
// 111 and 110; 110 comes back first, splits the second leaf and with it the
// root; 111 then goes down from the new root to the half that holds the 110
// leaf alone, where one close entry is not enough to join it: a fourth leaf.
TEST(CFTree, ASplitDuringReinsertionGrowsTheTreeAtOnce) {
  CFTree tree(describe({2, 2, 2}), 100.0f, 800, 4);
  extendLogTable(gTreeLogTable, 5);
  const std::vector<std::vector<int>> rows = {
      {0, 0, 0}, {1, 1, 1}, {0, 0, 1}, {1, 1, 0}, {1, 1, 0}};
  CFNode* first = tree.root;
  CFNode* second = tree.newNode();
  tree.leafBlocks[tree.leafCount++] = second->block;
  for (int r = 0; r < 4; ++r) {
    (r < 2 ? first : second)->enter(test::rowEntry(tree, rows[r], r));
    tree.memberIndex.add(r, r);
  }
  CFNode* top = tree.newNode();
  top->level = 1;
  top->enter(first->summaryEntry());
  top->enter(second->summaryEntry());
  tree.root = top;
  tree.rootBlock = top->block;
  tree.rowsInserted = 4;

  tree.insertRow(rows[4].data());
  EXPECT_EQ(tree.root->level, 2);
  EXPECT_EQ(tree.leafCount, 4);
  EXPECT_EQ(tree.re_data_cands.anz, 0);
  const TreeShape shape = expectTreeInvariants(tree);
  EXPECT_EQ(shape.leafEntries, 5);
}

// Small fan-outs and budgets, so that a few thousand rows make the tree split,
// grow several levels, fill up and then absorb.
struct Shape {
  int f;
  int nc;
  int rows;
  int clusters;
  double noise;
  std::uint64_t seed;
};

void PrintTo(const Shape& s, std::ostream* os) {
  *os << "f=" << s.f << " nc=" << s.nc << " rows=" << s.rows << " clusters=" << s.clusters;
}

class CFTreeInvariants : public ::testing::TestWithParam<Shape> {};

TEST_P(CFTreeInvariants, HoldAfterEveryStage) {
  const Shape& s = GetParam();
  const std::vector<int> domains = {3, 4, 2, 5, 3, 6};
  CFTree tree(describe(domains), 0.01f, s.nc, s.f);
  const auto rows = plantedTable(s.rows, domains, s.clusters, s.noise, s.seed);
  // Check midway too: the invariants must hold while the tree still grows.
  const int half = s.rows / 8;
  insertAll(tree, {rows.begin(), rows.begin() + half});
  expectTreeInvariants(tree);
  insertAll(tree, {rows.begin() + half, rows.end()});
  const TreeShape shape = expectTreeInvariants(tree);

  EXPECT_EQ(tree.rowsInserted, s.rows);
  EXPECT_TRUE(tree.isMemoryFull());
  EXPECT_GE(shape.height, 2);        // the root split more than once
  EXPECT_GT(shape.largestEntry, 1);  // rows were absorbed
  EXPECT_LE(shape.leafEntries, tree.maxLeaves * tree.root->capacity);
  EXPECT_EQ(static_cast<int>(gTreeLogTable.size()), s.rows + 1);
}

INSTANTIATE_TEST_SUITE_P(
    SmallTrees, CFTreeInvariants,
    ::testing::Values(Shape{3, 12, 2000, 4, 0.2, 1}, Shape{3, 40, 3000, 6, 0.3, 2},
                      Shape{4, 20, 2000, 3, 0.1, 3}, Shape{4, 40, 4000, 8, 0.4, 4},
                      Shape{5, 25, 3000, 5, 0.2, 5}, Shape{6, 40, 3000, 4, 0.05, 6},
                      Shape{6, 36, 5000, 10, 0.5, 7}, Shape{5, 40, 3000, 2, 0.0, 8}));

// Few attributes and strong clusters let a node above the leaves fill to the
// brim (a new leaf takes it to capacity - 1 without a split, a son split then to
// capacity); the next son split arriving there must split it, not end the run.
// Each of these tables drives at least one son split into a full node.
class CFTreeFullNodes : public ::testing::TestWithParam<Shape> {};

TEST_P(CFTreeFullNodes, SplitBeforeTakingANewSon) {
  const Shape& s = GetParam();
  const std::vector<int> domains = {4, 4, 4};
  CFTree tree(describe(domains), 0.01f, s.nc, s.f);
  insertAll(tree, plantedTable(s.rows, domains, s.clusters, s.noise, s.seed));
  expectTreeInvariants(tree);
  EXPECT_EQ(tree.rowsInserted, s.rows);
}

INSTANTIATE_TEST_SUITE_P(StrongClusters, CFTreeFullNodes,
                         ::testing::Values(Shape{20, 800, 4000, 4, 0.02, 1},
                                           Shape{20, 800, 4000, 4, 0.05, 2},
                                           Shape{6, 40, 3000, 4, 0.05, 2}));

// The tree's files, in a fresh directory removed afterwards.
class CFTreeFiles : public ::testing::Test {
 protected:
  CFTreeFiles() {
    dir_ = std::filesystem::temp_directory_path() /
           ("kelbow-tree-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  ~CFTreeFiles() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& contents) const {
    std::ofstream(dir_ / name, std::ios::binary) << contents;
  }
  // desc with R declared rows, data with the given records.
  void table(int declared, const std::string& data) {
    write("t.desc", std::to_string(declared) + " 2\n2\n3\n");
    write("t.data", data);
  }
  std::unique_ptr<CFTree> build(int nc = 800, int f = 20) {
    return std::make_unique<CFTree>(path("t.data"), path("t.desc"), path("t00"), 0.01f, nc, f);
  }

  std::filesystem::path dir_;
};

std::string records(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
  return s;
}

TEST_F(CFTreeFiles, EchoesTheDescriptionAndReportsProgressEveryHundredRows) {
  table(250, records(250));
  ::testing::internal::CaptureStdout();
  auto tree = build();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string back(79, '\b');
  EXPECT_EQ(out, "rows=250 cols = 2\n2\n3\n" + back + "inserting object 100" + back +
                     "inserting object 200\n");
  EXPECT_EQ(tree->rowsInserted, 250);
  EXPECT_EQ(tree->attributeCount, 2);
  EXPECT_EQ(tree->domainSizes, (std::vector<int>{2, 3}));
  EXPECT_EQ(gTreeWeights, (std::vector<float>{1.0f, 0.63092977f}));
  expectTreeInvariants(*tree);
}

TEST_F(CFTreeFiles, TheLogTableFollowsTheRowsRead) {
  // Far more rows declared than present: nothing is allocated for the absent ones.
  table(1000000000, records(30));
  ::testing::internal::CaptureStdout();
  auto few = build();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(few->rowsInserted, 30);
  EXPECT_EQ(gTreeLogTable.size(), 31u);
  few.reset();
  EXPECT_TRUE(gTreeLogTable.empty());

  // More rows than declared: every row is read and every count has its logarithm.
  table(10, records(1600));
  ::testing::internal::CaptureStdout();
  auto many = build(12, 4);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(many->rowsInserted, 1600);
  EXPECT_EQ(gTreeLogTable.size(), 1601u);
  EXPECT_EQ(gTreeLogTable[1024], 10.0f);
  expectTreeInvariants(*many);
}

struct BadFile {
  const char* what;
  std::string desc;  // empty: no description file
  std::string data;  // "-": no data file
  std::string message;
};

void PrintTo(const BadFile& b, std::ostream* os) { *os << b.what; }

class CFTreeBadInput : public CFTreeFiles, public ::testing::WithParamInterface<BadFile> {};

TEST_P(CFTreeBadInput, IsRefusedWithOneLineAndStatusOne) {
  const BadFile& b = GetParam();
  if (!b.desc.empty()) write("t.desc", b.desc);
  if (b.data != "-") write("t.data", b.data);
  std::string message = b.message;
  for (std::size_t at = message.find("DIR/"); at != std::string::npos; at = message.find("DIR/"))
    message.replace(at, 4, dir_.string() + "/");
  // The message is matched literally: escape what a regular expression would read.
  std::string pattern = "^";
  for (char c : message) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), pattern + "$");
}

const std::string kDesc = "300 2\n2\n3\n";

INSTANTIATE_TEST_SUITE_P(
    Kinds, CFTreeBadInput,
    ::testing::Values(BadFile{"no description", "", "0 0\n",
                              "can't open name file\nCannot open names file"},
                      BadFile{"no data", kDesc, "-", "Cannot open input text file"},
                      BadFile{"empty data", kDesc, "", "DIR/t.data: holds no records\n"},
                      BadFile{"blank data", kDesc, " \n\n", "DIR/t.data: holds no records\n"},
                      BadFile{"code above its domain", kDesc, "0 2\n1 3\n",
                              "DIR/t.data: record 2, attribute 2: the code 3 is outside 0..2\n"}),
    [](const ::testing::TestParamInfo<BadFile>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST(CFTreeDeathTest, UnknownBlockEndsTheProcess) {
  CFTree tree(describe({2, 2}), 0.01f, 800, 20);
  EXPECT_EXIT(tree.getNodeInMemory(5), ::testing::ExitedWithCode(1),
              "^error in get node in memory\n$");
}

// The extraction reads the attribute context that the cluster summaries share.
class ExtractClusters : public ::testing::Test {
 protected:
  void SetUp() override { resetAttributeContext(); }
  void TearDown() override { resetAttributeContext(); }
  void useTreeWeights() { gWeights = gTreeWeights.data(); }
};

TEST_F(ExtractClusters, OneClusterPerLeafEntryInLeafOrder) {
  const std::vector<int> domains = {3, 4, 2, 5};
  CFTree tree(describe(domains), 0.01f, 24, 4);
  const auto rows = plantedTable(1500, domains, 5, 0.3, 21);
  insertAll(tree, rows);
  useTreeWeights();
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  const int k = tree.extractClusters(clusters);
  ASSERT_EQ(static_cast<int>(clusters.size()), k);

  int i = 0;
  std::vector<int> owner(rows.size(), -1);
  for (int li = 0; li < tree.leafCount; ++li) {
    const CFNode& leaf = *tree.getNodeInMemory(tree.leafBlocks[li]);
    for (int j = 0; j < leaf.count; ++j, ++i) {
      const ClusterSummary& c = *clusters[i];
      EXPECT_EQ(c.id, i);
      EXPECT_EQ(c.rowCount, leaf.entries[j].n);
      EXPECT_EQ(c.denseCounts(), leaf.entries[j].counts);
      EXPECT_EQ(static_cast<int>(c.members.size()), c.rowCount);
      EXPECT_TRUE(c.members.contains(leaf.entries[j].id));  // the row that made the entry
      for (int r : c.members) {
        EXPECT_EQ(owner[r], -1) << "row " << r;
        owner[r] = i;
      }
    }
  }
  EXPECT_EQ(i, k);
  EXPECT_EQ(std::count(owner.begin(), owner.end(), -1), 0);
  EXPECT_EQ(gValueCount, 14);
  EXPECT_EQ(gLogTable, gTreeLogTable.data());
}

// One leaf of three entries that never splits (nc = 1): identical rows fill the
// three slots, then go to slot 1 and 2 once each (identical), then all to slot 0.
std::unique_ptr<CFTree> treeWithLargestEntry(int largest) {
  auto tree = std::make_unique<CFTree>(describe({2, 2}), 0.01f, 1, 3);
  const int row[2] = {1, 0};
  for (int r = 0; r < largest + 4; ++r) tree->insertRow(row);
  return tree;
}

TEST_F(ExtractClusters, AcceptsTenThousandRowsInOneEntry) {
  auto tree = treeWithLargestEntry(10000);
  useTreeWeights();
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  ASSERT_EQ(tree->extractClusters(clusters), 3);
  EXPECT_EQ(clusters[0]->rowCount, 10000);
  EXPECT_EQ(clusters[1]->rowCount, 2);
  EXPECT_EQ(clusters[2]->rowCount, 2);
}

TEST_F(ExtractClusters, RefusesAnEntryOfMoreThanTenThousandRows) {
  auto tree = treeWithLargestEntry(10001);
  useTreeWeights();
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^too large partition\n$");
}

TEST_F(ExtractClusters, RefusesMemberListsThatDisagreeWithTheCounts) {
  auto tree = treeWithLargestEntry(3);
  useTreeWeights();
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  tree->memberIndex.add(99, tree->root->entries[1].id);
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^unmatched labels\n$");
  tree->root->entries[1].id = 77;  // an entry the index does not know
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^the corresponding cluster is not found\nunmatched labels\n$");
}

}  // namespace
}  // namespace kelbow
