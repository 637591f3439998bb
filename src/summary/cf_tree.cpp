#include "summary/cf_tree.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "common/error.h"
#include "input/tables.h"

namespace kelbow {

std::vector<float> gTreeWeights;
std::vector<float> gTreeLogTable;

namespace {

// Rows between two progress lines.
constexpr int kProgressStep = 100;
// Each progress line overwrites the previous one on a terminal.
constexpr char kBackspaces[] =
    "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b"
    "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b";
static_assert(sizeof kBackspaces - 1 == 79);
// Most rows a leaf entry may hold when it becomes a starting cluster.
constexpr int kPartitionLimit = 10000;
// Bytes of a node page besides its entries.
constexpr int kPageHeader = 5 + 10;
// Smallest fan-out for which a split leaves a seed on each side.
constexpr int kMinFanOut = 3;

}  // namespace

CFTree::CFTree(DescriptionText& description, ByteSource& data, const std::string& dataFileName,
               const std::string& /*treeFileName*/, float threshold, int nc, int f) {
  const int declaredRows = readDescription(description);
  setUp(threshold, nc, f);
  readData(data, dataFileName, declaredRows);
}

CFTree::CFTree(const TableDescription& desc, float threshold, int nc, int f) {
  applyDescription(desc);
  setUp(threshold, nc, f);
}

CFTree::~CFTree() {
  gTreeWeights.clear();
  gTreeWeights.shrink_to_fit();
  gTreeLogTable.clear();
  gTreeLogTable.shrink_to_fit();
}

int CFTree::readDescription(DescriptionText& description) {
  const std::unique_ptr<ByteSource> in = description.reader();
  const std::string& name = description.fileName();
  NumberReader numbers(*in);
  TableDescription desc;
  std::string err;
  bool ok = readTableSize(numbers, name, desc, err);
  if (ok) {
    std::printf("rows=%d cols = %d\n", desc.rows, desc.attributeCount);
    for (int a = 0; ok && a < desc.attributeCount; ++a) {
      ok = readDomainSize(numbers, name, a, desc, err);
      if (ok) std::printf("%d\n", desc.domainSizes[a]);
    }
  }
  ok = ok && checkInformative(desc, name, err);
  if (!ok) fatal(err + description.swappedFilesHint());
  applyDescription(desc);
  return desc.rows;
}

void CFTree::applyDescription(const TableDescription& desc) {
  attributeCount = desc.attributeCount;
  domainSizes = desc.domainSizes;
  singleValuedCount = desc.singleValuedCount;
  valueCount = desc.valueCount;
  gTreeWeights = attributeWeights(domainSizes);
  // Sized by the rows actually read (insertRow), never by the declared count,
  // which may be far off in either direction.
  gTreeLogTable = logTable(2);
  logTableSize = static_cast<int>(gTreeLogTable.size());
}

void CFTree::setUp(float newThreshold, int nc, int f) {
  if (f < kMinFanOut) fatal("the summary tree needs a fan-out of at least 3\n");
  if (nc < 1) fatal("the summary tree needs a leaf-entry budget of at least 1\n");
  const long long entrySize = 4LL * valueCount + 8;
  const long long page = f * entrySize + kPageHeader;
  if (page > INT_MAX) fatal("the summary tree's nodes would not fit in memory for this table\n");
  pageSize = static_cast<int>(page);
  maxLeaves = static_cast<int>(std::ceil(static_cast<double>(nc) / f));
  threshold = newThreshold;
  leafBlocks.assign(maxLeaves, 0);
  leafCount = 0;
  rowsInserted = 0;
  nextBlock = 0;

  root = newNode();
  root->level = 0;
  leafBlocks[leafCount++] = root->block;
  rootBlock = root->block;
}

void CFTree::readData(ByteSource& data, const std::string& dataFileName, int declaredRows) {
  RecordReader reader(data, dataFileName, domainSizes);
  std::vector<int> codes(attributeCount);
  std::string err;
  for (;;) {
    const RecordReader::Result r = reader.read(codes.data(), err);
    if (r == RecordReader::Result::kEnd) break;
    if (r == RecordReader::Result::kBad) fatal(err);
    if (rowsInserted == INT_MAX - 1)
      fatal(dataFileName + ": record " + std::to_string(rowsInserted + 1) +
            ": more records than the tool can count\n");
    insertRow(codes.data());
    if (rowsInserted % kProgressStep == 0) {
      std::fputs(kBackspaces, stdout);
      std::printf("inserting object %d", rowsInserted);
    }
  }
  if (rowsInserted == 0) fatal(dataFileName + ": holds no records\n");
  std::printf("\n");
  // Every record is used whatever the description says, but a count that
  // differs often means a cut file or a wrong description.
  if (rowsInserted != declaredRows)
    error(dataFileName + ": " + std::to_string(rowsInserted) + " records read; the description declares " +
              std::to_string(declaredRows) + "\n",
          false);
}

void CFTree::insertRow(const int* codes) {
  // Every count of every entry is at most the number of rows inserted.
  extendLogTable(gTreeLogTable, rowsInserted + 1);
  logTableSize = static_cast<int>(gTreeLogTable.size());

  SummaryEntry e(valueCount, this);
  e.id = rowsInserted;
  int offset = 0;
  for (int a = 0; a < attributeCount; ++a) {
    e.counts[offset + codes[a]] = 1;
    offset += domainSizes[a];
  }
  e.n = 1;
  insert(e);
}

void CFTree::insert(const SummaryEntry& e) {
  if (root == nullptr) root = getNodeInMemory(rootBlock);
  reinsertDone.assign(root->level + 1, 0);
  re_data_cands.insert(e.toRecord());

  // Records go in and come out at the head: entries shed by a re-insertion are
  // inserted again, in reverse group order, before anything that was waiting.
  while (re_data_cands.anz > 0) {
    const EntryRecord* record = re_data_cands.first();
    if (record == nullptr) fatal("CFTree::insert: inconsistent list re_data_cands");
    SummaryEntry entry(valueCount, this);
    entry.fromRecord(*record);
    re_data_cands.erase();

    CFNode* sibling = nullptr;
    if (root->insert(entry, sibling) == SPLIT) {
      CFNode* grown = newNode();
      grown->level = static_cast<std::int16_t>(root->level + 1);
      grown->enter(root->summaryEntry());
      grown->enter(sibling->summaryEntry());
      root = grown;
      rootBlock = grown->block;
    }
  }
  ++rowsInserted;
  reinsertDone.clear();
}

CFNode* CFTree::newNode() {
  nodes.push_back(std::make_unique<CFNode>(this));
  return nodes.back().get();
}

CFNode* CFTree::getNodeInMemory(int block) {
  // Blocks are issued 0, 1, 2, ... as nodes are made, so a block number is
  // normally its node's place in the table; the scan covers anything else.
  if (block >= 0 && block < static_cast<int>(nodes.size()) && nodes[block]->block == block)
    return nodes[block].get();
  for (const auto& node : nodes)
    if (node->block == block) return node.get();
  fatal("error in get node in memory\n");
}

int CFTree::extractClusters(std::vector<std::unique_ptr<ClusterSummary>>& out) {
  out.clear();
  int total = 0;
  std::vector<int> rows;
  for (int li = 0; li < leafCount; ++li) {
    CFNode* leaf = getNodeInMemory(leafBlocks[li]);
    for (int j = 0; j < leaf->count; ++j) {
      const SummaryEntry& e = leaf->entries[j];
      auto cluster = std::make_unique<ClusterSummary>(attributeCount, singleValuedCount,
                                                      domainSizes.data(), gTreeLogTable.data());
      cluster->initFromCounts(e.counts.data(), e.n, total + j);
      const int k = memberIndex.rowsOf(e.id, rows);
      if (k != e.n) fatal("unmatched labels\n");
      if (k > kPartitionLimit) fatal("too large partition\n");
      cluster->members.clear();
      cluster->members.insert(rows.begin(), rows.end());
      out.push_back(std::move(cluster));
    }
    total += leaf->count;
  }
  return total;
}

}  // namespace kelbow
