// The inner operations of the summary tree: inserting a row into a full tree
// (the per-row cost of the large-table road once its leaves are all made), and
// the evaluations of one entry against an arriving row: by the plain pass over
// the summed count tables, by one pass over the entry's own counts, and by its
// row table, with and without the table's rebuild after the entry changed. The
// second argument of the entry cases picks the build of the lane kernels: 1
// the AVX2 one where the processor has it, 0 the base one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "common/vector_isa.h"
#include "input/table_reader.h"
#include "summary/cf_tree.h"

namespace {

constexpr int kDomain = 8;
constexpr int kPlanted = 12;

kelbow::TableDescription describe(int attributes, int domain) {
  kelbow::TableDescription desc;
  desc.rows = 0;
  desc.attributeCount = attributes;
  desc.domainSizes.assign(attributes, domain);
  desc.valueCount = attributes * domain;
  return desc;
}

// Rows of planted clusters: each code is the cluster's with probability 0.7.
std::vector<std::vector<int>> plantedRows(int rows, int attributes, int domain,
                                          std::uint64_t seed) {
  auto next = [&seed] {
    return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33;
  };
  std::vector<std::vector<int>> prototypes(kPlanted, std::vector<int>(attributes));
  for (auto& p : prototypes)
    for (int& c : p) c = static_cast<int>(next() % domain);
  std::vector<std::vector<int>> table(rows, std::vector<int>(attributes));
  for (auto& row : table) {
    const auto& p = prototypes[next() % kPlanted];
    for (int a = 0; a < attributes; ++a)
      row[a] = next() % 10 < 7 ? p[a] : static_cast<int>(next() % domain);
  }
  return table;
}

void BM_InsertRowIntoFullTree(benchmark::State& state) {
  const int attributes = static_cast<int>(state.range(0));
  const auto rows = plantedRows(100000, attributes, kDomain, 1);
  kelbow::CFTree tree(describe(attributes, kDomain), 0.01f, 800, 20, false);
  for (const auto& r : rows) tree.insertRow(r.data());  // the tree is full long before
  std::size_t i = 0;
  for (auto _ : state) {
    tree.insertRow(rows[i].data());
    if (++i == rows.size()) i = 0;
  }
  state.counters["leaves"] = tree.leafCount;
}
BENCHMARK(BM_InsertRowIntoFullTree)->Arg(20)->Arg(42);

// An entry of many rows, as a leaf entry of a full tree holds, and row entries
// to evaluate against it.
struct EntryFixture {
  explicit EntryFixture(int attributes)
      : tree(describe(attributes, kDomain), 0.01f, 800, 20, false),
        rows(plantedRows(4096, attributes, kDomain, 7)) {
    entry.init(tree.valueCount, &tree);
    for (int r = 0; r < 2000; ++r) {
      kelbow::SummaryEntry row = rowEntry(rows[r]);
      entry.mergeIn(row, 0.0f);
    }
    for (int r = 0; r < 64; ++r) arriving.push_back(rowEntry(rows[2000 + r]));
  }
  kelbow::SummaryEntry rowEntry(const std::vector<int>& codes) {
    kelbow::SummaryEntry e(tree.valueCount, &tree);
    for (int a = 0; a < tree.attributeCount; ++a) {
      const int slot = tree.slotOffsets[a] + codes[a];
      e.counts[slot] = 1;
      e.rowSlots.push_back(slot);
    }
    e.n = 1;
    return e;
  }
  kelbow::CFTree tree;
  std::vector<std::vector<int>> rows;
  kelbow::SummaryEntry entry;
  std::vector<kelbow::SummaryEntry> arriving;
};

void BM_EntryUnionPlainPass(benchmark::State& state) {
  EntryFixture f(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.entry.unionEntropy(f.arriving[i]));
    i = (i + 1) % f.arriving.size();
  }
}
BENCHMARK(BM_EntryUnionPlainPass)->Arg(20)->Arg(42);

void BM_EntryUnionOwnCounts(benchmark::State& state) {
  kelbow::setWideVectors(state.range(1) != 0);
  EntryFixture f(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.entry.directUnionWithRow(f.arriving[i].rowSlots.data()));
    i = (i + 1) % f.arriving.size();
  }
}
BENCHMARK(BM_EntryUnionOwnCounts)->ArgsProduct({{20, 42}, {1, 0}});

void BM_EntryUnionRowTable(benchmark::State& state) {
  kelbow::setWideVectors(state.range(1) != 0);
  EntryFixture f(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.entry.unionEntropyWithRow(f.arriving[i].rowSlots.data(), 1 << 20));
    i = (i + 1) % f.arriving.size();
  }
}
BENCHMARK(BM_EntryUnionRowTable)->ArgsProduct({{20, 42}, {1, 0}});

// One more row joins the entry, whose row table is then built anew.
void BM_EntryAddRowAndRebuildTable(benchmark::State& state) {
  kelbow::setWideVectors(state.range(1) != 0);
  EntryFixture f(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    const kelbow::SummaryEntry& row = f.arriving[i];
    f.entry.addRow(row.rowSlots.data(), 1.0f);
    benchmark::DoNotOptimize(f.entry.unionEntropyWithRow(row.rowSlots.data(), 1 << 20));
    i = (i + 1) % f.arriving.size();
  }
}
BENCHMARK(BM_EntryAddRowAndRebuildTable)->ArgsProduct({{20, 42}, {1, 0}});

}  // namespace

BENCHMARK_MAIN();
