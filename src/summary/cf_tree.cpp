#include "summary/cf_tree.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "common/error.h"
#include "common/message_text.h"
#include "input/tables.h"
#include "summary/leaf_stage.h"

namespace kelbow {

namespace {

// Bytes of a node page besides its entries.
constexpr int kPageHeader = 5 + 10;
// Smallest fan-out for which a split leaves a seed on each side.
constexpr int kMinFanOut = 3;

}  // namespace

CFTree::CFTree(const TableDescription& desc, float threshold, int nc, int f, bool keepMembers,
               std::string descriptionName)
    : keepMembers(keepMembers), descriptionName_(std::move(descriptionName)) {
  applyDescription(desc);
  setUp(threshold, nc, f);
}

CFTree::~CFTree() = default;

void CFTree::applyDescription(const TableDescription& desc) {
  attributeCount = desc.attributeCount;
  domainSizes = desc.domainSizes;
  singleValuedCount = desc.singleValuedCount;
  valueCount = desc.valueCount;
  weights = attributeWeights(domainSizes);
  slotOffsets.assign(attributeCount, 0);
  informativeAttributes.clear();
  int offset = 0;
  for (int a = 0; a < attributeCount; ++a) {
    slotOffsets[a] = offset;
    offset += domainSizes[a];
    if (domainSizes[a] != 1) informativeAttributes.push_back(a);
  }
  informativeWeights.clear();
  for (int a : informativeAttributes) informativeWeights.push_back(weights[a]);
  lanes.build(domainSizes);
  for (Side& side : sides_) {
    side.laneCodes.assign(lanes.offsetOfLane.size() + 2 * kPad, -1);
    side.laneSums.assign(lanes.offsetOfLane.size() + 2 * kPad, 0.0f);
    side.cellsSlots.assign(attributeCount + 2 * kPad, 0);
    side.rowCells.assign(informativeAttributes.size() + 2 * kPad, 0);
    side.cellsKnown = false;
  }
  directCost = 0;
  tableCost = 0;
  for (const LaneBand& band : lanes.bands) {
    const long long d = band.domain;
    directCost += d;
    // The shared prefix pass plus, at worst, a replayed tail for every code.
    tableCost += d + d * (d + 1) / 2;
  }
}

const int* CFTree::rowLaneCodes(const int* slots, int side) {
  const std::vector<int>& laneOf = lanes.laneOfAttribute;
  int* laneCodes = sides_[side].laneCodes.data() + kPad;
  for (std::size_t i = 0; i < informativeAttributes.size(); ++i) {
    const int a = informativeAttributes[i];
    laneCodes[laneOf[i]] = slots[a] - slotOffsets[a];
  }
  return laneCodes;
}

const int* CFTree::rowCells(const LineVector<int>& rowSlots, int side) {
  if (rowSlots.size() != static_cast<std::size_t>(attributeCount))
    fatal("CFTree::rowCells: a row without a slot for every attribute\n");
  Side& work = sides_[side];
  int* known = work.cellsSlots.data() + kPad;
  int* cells = work.rowCells.data() + kPad;
  if (!work.cellsKnown || !std::equal(rowSlots.begin(), rowSlots.end(), known)) {
    std::copy(rowSlots.begin(), rowSlots.end(), known);
    work.cellsKnown = true;
    for (std::size_t t = 0; t < informativeAttributes.size(); ++t)
      cells[t] = lanes.cellOfSlot[rowSlots[informativeAttributes[t]]];
  }
  return cells;
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

bool CFTree::readRows(RowSource& rows, int declaredRows, Progress& progress, std::string& err) {
  std::vector<int> codes(attributeCount);
  for (;;) {
    const RowSource::Result r = rows.read(codes.data(), err);
    if (r == RowSource::Result::kEnd) break;
    if (r == RowSource::Result::kBad) return false;
    if (rowsInserted == INT_MAX) {
      err = shownName(rows.fileName()) + ": record " +
            std::to_string(static_cast<long long>(rowsInserted) + 1) + ": more than " +
            std::to_string(INT_MAX) + " records, the most the tool can count\n";
      return false;
    }
    if (rowsInserted == 0 && !memoryFits(err)) return false;
    insertRow(codes.data());
    if (rowsInserted % Progress::kRowStep == 0) progress.rowsInserted(rowsInserted);
  }
  if (rowsInserted == 0) {
    err = shownName(rows.fileName()) + ": holds no records\n";
    return false;
  }
  progress.rowsDone(rowsInserted);
  // Every record is used whatever the description says, but a count that
  // differs often means a cut file or a wrong description.
  if (rowsInserted != declaredRows)
    progress.note(shownName(rows.fileName()) + ": " + std::to_string(rowsInserted) +
                  " records read; the description declares " + std::to_string(declaredRows) + "\n");
  return true;
}

void CFTree::insertRow(const int* codes) {
  // One entry serves every arriving row.
  SummaryEntry& e = arriving_;
  if (e.tree == nullptr) e.init(valueCount, this);
  arrivingSlots_.resize(attributeCount);
  for (int a = 0; a < attributeCount; ++a) arrivingSlots_[a] = slotOffsets[a] + codes[a];
  e.becomeRow(arrivingSlots_.data(), rowsInserted);
  if (leafStage != nullptr && isMemoryFull() && re_data_cands.anz == 0)
    passRowDown();
  else
    insert(e);
}

void CFTree::passRowDown() {
  if (root == nullptr) root = getNodeInMemory(rootBlock);
  // The root's node and entries have their own side from now on; the stage's
  // thread takes the other, as this thread left it, with the first row.
  const int rootSide = root->level > 0 ? root->level : INT_MAX;
  // Written once: the stage's thread reads it at every entry.
  if (rootSideLevel_ != rootSide) rootSideLevel_ = rootSide;
  CFNode* node = root->level > 0 ? root->passDown(arriving_) : root;
  leafStage->push(node, arriving_.id, arriving_.rowSlots.data());
  ++rowsInserted;
}

double CFTree::memoryBound() const {
  // Every leaf entry, one entry per node above the leaves (fewer nodes than
  // leaves), a partition's worth of copies and the arriving row: each with a
  // count table of V four-byte slots and, in the lane layout, its counts, their
  // two logarithms and a row table.
  const double entries = static_cast<double>(maxLeaves) * pageSize / (4.0 * valueCount + 8) +
                         2.0 * maxLeaves + 2.0 * (pageSize / (4.0 * valueCount + 8)) + 4;
  return entries * (4.0 * valueCount + 16.0 * lanes.cells);
}

bool CFTree::memoryFits(std::string& err) const {
  const double pages = static_cast<double>(sysconf(_SC_PHYS_PAGES));
  const double pageBytes = static_cast<double>(sysconf(_SC_PAGESIZE));
  if (pages <= 0 || pageBytes <= 0) return true;
  const double physical = pages * pageBytes;
  const double need = memoryBound();
  if (need <= physical) return true;
  char line[256];
  std::snprintf(
      line, sizeof line,
      ": %d value slots: the summary tree would need up to %.1f GB of memory, more than the "
      "%.1f GB of this machine\n",
      valueCount, need / 1e9, physical / 1e9);
  err = (descriptionName_.empty() ? std::string("the table") : descriptionName_) + line;
  return false;
}

void CFTree::insert(const SummaryEntry& e) {
  if (root == nullptr) root = getNodeInMemory(rootBlock);
  reinsertDone.assign(root->level + 1, 0);

  // Records go in and come out at the head: entries shed by a re-insertion are
  // inserted again, in reverse group order, before anything that was waiting.
  // The arriving entry, whose record would be the head, goes first without one.
  // Each is inserted from one reused entry, taken as a fresh copy of its record
  // (no son, no cached entropy value) would be.
  SummaryEntry& entry = inserting_;
  bool arriving = true;
  while (arriving || re_data_cands.anz > 0) {
    if (arriving) {
      entry.assign(e);
      arriving = false;
    } else {
      const EntryRecord* record = re_data_cands.first();
      if (record == nullptr) fatal("CFTree::insert: inconsistent list re_data_cands");
      entry.init(valueCount, this);
      entry.fromRecord(*record);
      re_data_cands.erase();
    }
    entry.entropyCache = -1.0f;

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

float CFTree::largeCountLog(int k, int side) const {
  const long long i = static_cast<long long>(k) - kLog2CacheSize;
  if (i >= kLargeLogCells) return log2Computed(k);
  std::vector<float>& largeLogs = sides_[side].largeLogs;
  if (i >= static_cast<long long>(largeLogs.size())) {
    // Counts grow one row at a time: fill a block ahead.
    constexpr long long kBlock = 4096;
    const long long filled = std::min<long long>(kLargeLogCells, (i / kBlock + 1) * kBlock);
    for (long long j = static_cast<long long>(largeLogs.size()); j < filled; ++j)
      largeLogs.push_back(log2Computed(static_cast<int>(kLog2CacheSize + j)));
  }
  return largeLogs[i];
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
  long long rows = 0;
  // Leaf entry id -> starting-cluster number, sorted by id.
  std::vector<std::pair<int, int>> clusterOfEntry;
  for (int li = 0; li < leafCount; ++li) {
    CFNode* leaf = getNodeInMemory(leafBlocks[li]);
    for (int j = 0; j < leaf->count; ++j) {
      const SummaryEntry& e = leaf->entries[j];
      auto cluster = std::make_unique<ClusterSummary>(attributeCount, singleValuedCount,
                                                      domainSizes.data(), nullptr);
      // Its members are {total + j}: the merge loop unites starting-cluster
      // numbers, and rows are found through memberIndex only when asked for.
      cluster->initFromCounts(e.counts.data(), e.n, total + j);
      clusterOfEntry.emplace_back(e.id, total + j);
      rows += e.n;
      out.push_back(std::move(cluster));
    }
    total += leaf->count;
  }
  if (rows != rowsInserted) fatal("unmatched labels\n");
  if (!keepMembers) return total;

  // Every row's entry id becomes its starting-cluster number, and every entry
  // must have been given exactly its n rows.
  std::sort(clusterOfEntry.begin(), clusterOfEntry.end());
  std::vector<int> rowsSeen(total, 0);
  if (memberIndex.size() != rowsInserted) fatal("unmatched labels\n");
  for (int r = 0; r < rowsInserted; ++r) {
    const int id = memberIndex.entryOf(r);
    const auto at =
        std::lower_bound(clusterOfEntry.begin(), clusterOfEntry.end(), std::make_pair(id, INT_MIN));
    if (at == clusterOfEntry.end() || at->first != id) fatal("unmatched labels\n");
    memberIndex.set(r, at->second);
    ++rowsSeen[at->second];
  }
  for (int c = 0; c < total; ++c)
    if (rowsSeen[c] != out[c]->rowCount) fatal("unmatched labels\n");
  return total;
}

}  // namespace kelbow
