// Helpers of the summary tree's unit tests: table descriptions, rows as data
// entries, generated tables with planted clusters, and a check of the tree's
// invariants. Only the test binary includes this header.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "input/table_reader.h"
#include "summary/cf_tree.h"

namespace kelbow::test {

inline TableDescription describe(const std::vector<int>& domains, int rows = 100) {
  TableDescription desc;
  desc.rows = rows;
  desc.attributeCount = static_cast<int>(domains.size());
  desc.domainSizes = domains;
  for (int d : domains) {
    desc.valueCount += d;
    if (d == 1) ++desc.singleValuedCount;
  }
  return desc;
}

// The data entry of one row of `tree`'s table, as the tree makes it from a
// record (with its value slots); withSlots false gives the same counts alone,
// which the entry arithmetic treats by its plain passes.
inline SummaryEntry rowEntry(CFTree& tree, const std::vector<int>& codes, int id,
                             bool withSlots = true) {
  SummaryEntry e(tree.valueCount, &tree);
  int offset = 0;
  for (int a = 0; a < tree.attributeCount; ++a) {
    e.counts[offset + codes[a]] = 1;
    if (withSlots) e.rowSlots.push_back(offset + codes[a]);
    offset += tree.domainSizes[a];
  }
  e.id = id;
  e.n = 1;
  return e;
}

// The entropy value of the union of two count tables by the plain dense pass,
// written out independently of the tree's code: log2 k as ln k / ln 2 in
// double rounded to float, every slot in order, zero counts skipped, acc
// rounded after every step and the weighted sum once per attribute.
inline float referenceUnion(const CFTree& tree, const LineVector<int>& a, const LineVector<int>& b,
                            int n) {
  auto log2f = [](int k) {
    return k == 0 ? 0.0f : static_cast<float>(std::log(static_cast<double>(k)) / std::log(2.0));
  };
  const double ln = log2f(n);
  float sum = 0.0f;
  int offset = 0;
  for (int at = 0; at < tree.attributeCount; ++at) {
    const int d = tree.domainSizes[at];
    if (d != 1) {
      float acc = 0.0f;
      for (int s = offset; s < offset + d; ++s) {
        const int c = a[s] + b[s];
        if (c != 0) acc = static_cast<float>(acc + c * (static_cast<double>(log2f(c)) - ln));
      }
      const double w = static_cast<float>(1.0 / (std::log(static_cast<double>(d)) / std::log(2.0)));
      sum = static_cast<float>(sum + static_cast<double>(acc) * w);
    }
    offset += d;
  }
  return static_cast<float>(-static_cast<double>(sum) /
                            (tree.attributeCount - tree.singleValuedCount));
}

// Rows drawn from `clusters` prototypes; each code is replaced by a random one
// with probability `noise`. Deterministic for a seed.
inline std::vector<std::vector<int>> plantedTable(int rows, const std::vector<int>& domains,
                                                  int clusters, double noise, std::uint64_t seed) {
  std::uint64_t state = seed;
  auto next = [&state] {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  };
  auto below = [&next](int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); };
  std::vector<std::vector<int>> prototypes(clusters);
  for (auto& p : prototypes)
    for (int d : domains) p.push_back(below(d));
  std::vector<std::vector<int>> table;
  for (int r = 0; r < rows; ++r) {
    std::vector<int> row = prototypes[below(clusters)];
    for (std::size_t a = 0; a < domains.size(); ++a)
      if (static_cast<double>(next() >> 11) / 9007199254740992.0 < noise)
        row[a] = below(domains[a]);
    table.push_back(row);
  }
  return table;
}

// What the invariant check saw, for tests that want to know which paths ran.
struct TreeShape {
  int height = 0;  // level of the root
  int leafEntries = 0;
  int largestEntry = 0;  // most rows in one leaf entry
};

// Checks the tree from the root down: no node over capacity or empty; every
// entry above the leaves equals its son's summary and is one level above it;
// the leaves are exactly the leafBlocks, at most maxLeaves of them; every leaf
// entry's member list has n rows, and every row 0..N-1 is listed exactly once
// (when the tree keeps members).
inline TreeShape expectTreeInvariants(CFTree& tree) {
  TreeShape shape;
  CFNode* root = tree.getNodeInMemory(tree.rootBlock);
  shape.height = root->level;
  std::set<int> leavesSeen;
  std::vector<int> timesListed(tree.rowsInserted, 0);
  long long rowsInLeaves = 0;
  std::function<void(CFNode*)> walk = [&](CFNode* node) {
    EXPECT_GE(node->count, 1) << "block " << node->block;
    EXPECT_LE(node->count, node->capacity) << "block " << node->block;
    if (node->level == 0) {
      EXPECT_TRUE(leavesSeen.insert(node->block).second);
      for (int j = 0; j < node->count; ++j) {
        const SummaryEntry& e = node->entries[j];
        EXPECT_EQ(e.level, 0);
        rowsInLeaves += e.n;
        ++shape.leafEntries;
        shape.largestEntry = std::max(shape.largestEntry, e.n);
        if (!tree.keepMembers) continue;
        std::vector<int> rows;
        EXPECT_EQ(tree.memberIndex.rowsOf(e.id, rows), e.n) << "entry " << e.id;
        for (int r : rows) {
          ASSERT_GE(r, 0);
          ASSERT_LT(r, tree.rowsInserted);
          ++timesListed[r];
        }
      }
      return;
    }
    for (int i = 0; i < node->count; ++i) {
      SummaryEntry& e = node->entries[i];
      CFNode* son = tree.getNodeInMemory(e.id);
      EXPECT_EQ(son->level, node->level - 1);
      EXPECT_EQ(e.level, node->level);
      const SummaryEntry fresh = son->summaryEntry();
      EXPECT_EQ(e.n, fresh.n) << "block " << node->block << " slot " << i;
      EXPECT_EQ(e.counts, fresh.counts) << "block " << node->block << " slot " << i;
      walk(son);
    }
  };
  walk(root);
  EXPECT_LE(tree.leafCount, tree.maxLeaves);
  EXPECT_EQ(std::set<int>(tree.leafBlocks.begin(), tree.leafBlocks.begin() + tree.leafCount),
            leavesSeen);
  EXPECT_EQ(static_cast<int>(leavesSeen.size()), tree.leafCount);
  EXPECT_EQ(rowsInLeaves, tree.rowsInserted);
  if (tree.keepMembers) {
    for (int r = 0; r < tree.rowsInserted; ++r) EXPECT_EQ(timesListed[r], 1) << "row " << r;
  }
  return shape;
}

inline std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

// Both trees hold the same nodes and entries, bit for bit (cached entropy
// values included); `row` names the moment in the messages.
inline void expectSameTrees(CFTree& fast, CFTree& plain, int row) {
  ASSERT_EQ(fast.nodes.size(), plain.nodes.size()) << "after row " << row;
  ASSERT_EQ(fast.rootBlock, plain.rootBlock) << "after row " << row;
  ASSERT_EQ(fast.leafCount, plain.leafCount) << "after row " << row;
  for (std::size_t b = 0; b < fast.nodes.size(); ++b) {
    const CFNode& x = *fast.nodes[b];
    const CFNode& y = *plain.nodes[b];
    ASSERT_EQ(x.level, y.level);
    ASSERT_EQ(x.count, y.count) << "block " << b << " after row " << row;
    for (int i = 0; i < x.count; ++i) {
      const SummaryEntry& p = x.entries[i];
      const SummaryEntry& q = y.entries[i];
      ASSERT_EQ(p.id, q.id) << "block " << b << " slot " << i << " after row " << row;
      ASSERT_EQ(p.n, q.n) << "block " << b << " slot " << i << " after row " << row;
      ASSERT_EQ(p.counts, q.counts) << "block " << b << " slot " << i << " after row " << row;
      // An empty cache and the value a recount gives are the same state.
      SummaryEntry pc = p, qc = q;
      ASSERT_EQ(bits(pc.entropy()), bits(qc.entropy()))
          << "block " << b << " slot " << i << " after row " << row;
    }
  }
}

// A parameterised case's name from its parameter's `what`, every character
// that is not a letter or a digit made '_'.
template <class Param>
std::string caseName(const ::testing::TestParamInfo<Param>& info) {
  std::string name = info.param.what;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

}  // namespace kelbow::test
