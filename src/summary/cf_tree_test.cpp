#include "summary/cf_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>

#include "common/vector_isa.h"
#include "input/attribute_context.h"
#include "input/table_reader.h"
#include "input/tables.h"
#include "summary/summary_test_support.h"

namespace kelbow {
namespace {

using test::bits;
using test::describe;
using test::expectSameTrees;
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
  // Reads the description and builds the tree from the data file, as the
  // large-table road does; err holds the refusal when one came.
  std::unique_ptr<CFTree> build(int nc = 800, int f = 20) {
    err.clear();
    const std::unique_ptr<ByteSource> in = openInput(path("t.desc"));
    TableDescription desc;
    if (in == nullptr || !readDescription(*in, path("t.desc"), desc, err, &heard)) return nullptr;
    auto tree = std::make_unique<CFTree>(desc, 0.01f, nc, f, false);
    const std::unique_ptr<ByteSource> data = openInput(path("t.data"));
    RecordReader rows(*data, path("t.data"), tree->domainSizes);
    if (!tree->readRows(rows, desc.rows, heard, err)) return nullptr;
    return tree;
  }

  // What the tree and the description reader report, one word an event.
  struct Heard : Progress {
    std::string text;
    void tableSize(int rows, int attributes) override {
      text += "size " + std::to_string(rows) + " " + std::to_string(attributes) + ";";
    }
    void domainSize(int d) override { text += "domain " + std::to_string(d) + ";"; }
    void rowsInserted(int rows) override { text += "rows " + std::to_string(rows) + ";"; }
    void rowsDone(int rows) override { text += "done " + std::to_string(rows) + ";"; }
    void note(std::string_view line) override { text += "note " + std::string(line); }
  } heard;
  std::string err;
  std::filesystem::path dir_;
};

std::string records(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
  return s;
}

TEST_F(CFTreeFiles, EchoesTheDescriptionAndReportsProgressEveryHundredRows) {
  table(250, records(250));
  auto tree = build();
  ASSERT_NE(tree, nullptr) << err;
  EXPECT_EQ(heard.text, "size 250 2;domain 2;domain 3;rows 100;rows 200;done 250;");
  EXPECT_EQ(tree->rowsInserted, 250);
  EXPECT_EQ(tree->attributeCount, 2);
  EXPECT_EQ(tree->domainSizes, (std::vector<int>{2, 3}));
  EXPECT_EQ(tree->weights, (std::vector<float>{1.0f, 0.63092977f}));
  expectTreeInvariants(*tree);
}

TEST_F(CFTreeFiles, TheRowsReadNotTheRowsDeclaredCount) {
  // Far more rows declared than present, and more rows than declared: a note each.
  table(1000000000, records(30));
  auto few = build();
  ASSERT_NE(few, nullptr) << err;
  EXPECT_EQ(few->rowsInserted, 30);
  EXPECT_NE(heard.text.find("note " + path("t.data") +
                            ": 30 records read; the description declares 1000000000\n"),
            std::string::npos)
      << heard.text;

  table(10, records(1600));
  auto many = build(12, 4);
  ASSERT_NE(many, nullptr) << err;
  EXPECT_EQ(many->rowsInserted, 1600);
  expectTreeInvariants(*many);
}

struct BadFile {
  const char* what;
  std::string desc;
  std::string data;
  std::string message;
};

void PrintTo(const BadFile& b, std::ostream* os) { *os << b.what; }

class CFTreeBadInput : public CFTreeFiles, public ::testing::WithParamInterface<BadFile> {};

TEST_P(CFTreeBadInput, IsRefusedWithOneLine) {
  const BadFile& b = GetParam();
  write("t.desc", b.desc);
  write("t.data", b.data);
  std::string message = b.message;
  for (std::size_t at = message.find("DIR/"); at != std::string::npos; at = message.find("DIR/"))
    message.replace(at, 4, dir_.string() + "/");
  EXPECT_EQ(build(), nullptr);
  EXPECT_EQ(err, message);
}

const std::string kDesc = "300 2\n2\n3\n";

INSTANTIATE_TEST_SUITE_P(
    Kinds, CFTreeBadInput,
    ::testing::Values(BadFile{"empty data", kDesc, "", "DIR/t.data: holds no records\n"},
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
  void useTreeWeights(const CFTree& tree) { gWeights = tree.weights.data(); }
};

TEST_F(ExtractClusters, OneClusterPerLeafEntryInLeafOrder) {
  const std::vector<int> domains = {3, 4, 2, 5};
  CFTree tree(describe(domains), 0.01f, 24, 4);
  const auto rows = plantedTable(1500, domains, 5, 0.3, 21);
  insertAll(tree, rows);
  useTreeWeights(tree);
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
      const LineVector<int>& counts = leaf.entries[j].counts;
      EXPECT_EQ(c.denseCounts(), std::vector<int>(counts.begin(), counts.end()));
      // The members are the starting-cluster number; the index gives each
      // row's starting cluster, the one of the entry that made it included.
      EXPECT_EQ(c.members, MemberSet{i});
      EXPECT_EQ(tree.memberIndex.entryOf(leaf.entries[j].id), i);
    }
  }
  EXPECT_EQ(i, k);
  for (std::size_t r = 0; r < rows.size(); ++r)
    owner[r] = tree.memberIndex.entryOf(static_cast<int>(r));
  for (int c = 0; c < k; ++c)
    EXPECT_EQ(std::count(owner.begin(), owner.end(), c), clusters[c]->rowCount) << "cluster " << c;
  EXPECT_EQ(gValueCount, 14);
}

// One leaf of three entries that never splits (nc = 1): identical rows fill the
// three slots, then go to slot 1 and 2 once each (identical), then all to slot 0.
std::unique_ptr<CFTree> treeWithLargestEntry(int largest) {
  auto tree = std::make_unique<CFTree>(describe({2, 2}), 0.01f, 1, 3);
  const int row[2] = {1, 0};
  for (int r = 0; r < largest + 4; ++r) tree->insertRow(row);
  return tree;
}

TEST_F(ExtractClusters, AnEntryMayHoldAnyNumberOfRows) {
  auto tree = treeWithLargestEntry(70000);  // counts beyond the logarithm cache too
  useTreeWeights(*tree);
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  ASSERT_EQ(tree->extractClusters(clusters), 3);
  EXPECT_EQ(clusters[0]->rowCount, 70000);
  EXPECT_EQ(clusters[1]->rowCount, 2);
  EXPECT_EQ(clusters[2]->rowCount, 2);
}

TEST_F(ExtractClusters, RefusesMemberListsThatDisagreeWithTheCounts) {
  auto tree = treeWithLargestEntry(3);
  useTreeWeights(*tree);
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  tree->memberIndex.set(5, tree->root->entries[1].id);  // one row moved to another entry
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^unmatched labels\n$");
  tree->memberIndex.set(5, tree->root->entries[0].id);
  tree->root->entries[1].id = 77;  // an entry whose rows the index does not know
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^unmatched labels\n$");
  tree->memberIndex.add(7, 1);  // a row the tree never read
  tree->root->entries[1].id = 1;
  EXPECT_EXIT(tree->extractClusters(clusters), ::testing::ExitedWithCode(1),
              "^unmatched labels\n$");
}

}  // namespace
}  // namespace kelbow

namespace kelbow {
namespace {

// The tree's own evaluations against the plain dense passes. The same rows go
// into two trees: one as the tree makes them from records (one-row entries that
// carry their value slots: row tables, path summaries kept by increments), the
// other as bare count tables (every evaluation one pass over the summed tables,
// every path summary recounted from its node). After every stage both trees
// must hold the same entries bit for bit, cached entropy values included; and
// every entry's evaluations against arriving rows must equal an independent
// dense reference, whichever way the entry computes them.
struct Twin {
  const char* what;
  std::vector<int> domains;
  int f;
  int nc;
  float threshold;
  int rows;
  int clusters;
  double noise;
  int everyKthIsRowZero;  // 0: no planted duplicates
};

void PrintTo(const Twin& t, std::ostream* os) { *os << t.what; }

class FastEvaluations : public ::testing::TestWithParam<Twin> {};

// Both builds of the lane kernels: the AVX2 one where the processor has it, and
// the base one that runs where it does not.
void checkFastAgainstPlain(const Twin& t) {
  auto rows = plantedTable(t.rows, t.domains, t.clusters, t.noise, 11);
  if (t.everyKthIsRowZero > 0)
    for (std::size_t r = 0; r < rows.size(); r += t.everyKthIsRowZero) rows[r] = rows[0];
  CFTree fast(describe(t.domains), t.threshold, t.nc, t.f);
  CFTree plain(describe(t.domains), t.threshold, t.nc, t.f);
  for (int r = 0; r < t.rows; ++r) {
    fast.insertRow(rows[r].data());
    plain.insert(test::rowEntry(plain, rows[r], r, false));
    plain.rowsInserted = r + 1;
    if (r % 97 == 0 || r == t.rows - 1) {
      expectSameTrees(fast, plain, r);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  expectTreeInvariants(fast);

  // Every entry of the fast tree against arriving rows, by table and by one
  // pass over its own counts, and the dense reference.
  for (auto& node : fast.nodes) {
    for (int i = 0; i < node->count; ++i) {
      SummaryEntry& e = node->entries[i];
      for (int p = 0; p < 12; ++p) {
        const SummaryEntry arriving = test::rowEntry(fast, rows[(p * 7919) % t.rows], 0);
        const std::uint32_t want =
            bits(test::referenceUnion(fast, e.counts, arriving.counts, e.n + 1));
        ASSERT_EQ(bits(e.directUnionWithRow(arriving.rowSlots.data())), want);
        ASSERT_EQ(bits(e.unionEntropyWithRow(arriving.rowSlots.data(), 1 << 30)), want);
        ASSERT_EQ(bits(e.unionEntropy(arriving)), want);
      }
    }
  }
}

TEST_P(FastEvaluations, MatchThePlainDensePassBitForBit) {
  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "wide build where available" : "base build");
    setWideVectors(wide);
    checkFastAgainstPlain(GetParam());
    setWideVectors(true);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FastEvaluations,
    ::testing::Values(
        Twin{"binary attributes, small nodes", {2, 2, 2}, 3, 9, 0.01f, 3000, 3, 0.2, 0},
        Twin{"one-valued attributes", {1, 3, 1, 4, 2}, 4, 16, 0.01f, 3000, 4, 0.3, 0},
        Twin{"a huge domain", {2000, 3}, 20, 800, 0.01f, 2500, 6, 0.5, 0},
        Twin{"duplicate rows", {4, 4, 4, 4}, 20, 800, 0.01f, 5000, 5, 0.2, 2},
        Twin{"all close", {3, 4, 2, 5}, 5, 40, 100.0f, 3000, 5, 0.3, 0},
        Twin{"none close", {3, 4, 2, 5}, 5, 40, 0.0f, 3000, 5, 0.3, 0},
        Twin{"fan-out three, one leaf", {2, 3, 4}, 3, 3, 0.01f, 2000, 3, 0.4, 0},
        Twin{"many attributes", std::vector<int>(42, 3), 20, 800, 0.01f, 3000, 8, 0.25, 0},
        // Bands of domain 3 in a run of two (one of them half binary), then
        // bands of domain 2 in a run of four.
        Twin{"runs of ternary and binary bands",
             {3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
             20,
             800,
             0.01f,
             3000,
             6,
             0.3,
             0},
        Twin{"mixed domains", {2, 9, 1, 17, 5, 64}, 20, 800, 0.01f, 6000, 12, 0.3, 7}),
    test::caseName<Twin>);

}  // namespace
}  // namespace kelbow
