// What moving work to a second core costs on this machine, beside what the
// work itself costs: the round trip of one cache line between two threads, an
// entry's row table built here (20 attributes of 8 values, as the summary tree
// builds it), and one row's look-ups (a cell per attribute) in tables written
// here or on the other core, and one row's count updates in tables the other
// core has or has not just read. A row table is worth building on another core
// only when handing the work over and fetching the table back cost less than
// building it here.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "summary/entry_lanes.h"

namespace {

constexpr int kAttributes = 20;
constexpr int kDomain = 8;
constexpr int kTables = 64;  // tables written per round: 40 KB, well inside a core's cache

// Keeps the calling thread on processor `cpu` when the process may use it.
void pinTo(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// An entry of a few hundred rows in the lane layout of 20 attributes of 8 values.
struct Entry {
  kelbow::LaneLayout layout;
  std::vector<int> counts;
  std::vector<float> logCount, logBump;
  double rowLog = 0.0;
  Entry() {
    layout.build(std::vector<int>(kAttributes, kDomain));
    counts.assign(layout.cells, 0);
    logCount.assign(layout.cells, 0.0f);
    logBump.assign(layout.cells, 0.0f);
    std::uint64_t seed = 7;
    for (int c = 0; c < layout.cells; ++c) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      counts[c] = static_cast<int>((seed >> 33) % 60);
      logCount[c] = counts[c] > 0 ? std::log2(static_cast<float>(counts[c])) : 0.0f;
      logBump[c] = std::log2(static_cast<float>(counts[c] + 1));
    }
    rowLog = std::log2(481.0);
  }
  kelbow::LaneCounts view() const {
    return {counts.data(), logCount.data(), logBump.data(), rowLog};
  }
  // The cell of one row's code of every attribute.
  std::vector<int> rowCells() const {
    std::vector<int> cells;
    for (int a = 0; a < kAttributes; ++a)
      cells.push_back(layout.cellOfSlot[a * kDomain + (a * 5 + 3) % kDomain]);
    return cells;
  }
};

float lookUp(const std::vector<float>& table, const std::vector<int>& cells) {
  float sum = 0.0f;
  for (int cell : cells) sum = static_cast<float>(sum + static_cast<double>(table[cell]) * 0.33);
  return sum;
}

// A thread on processor 1 that does `work` once per round the caller (on
// processor 0) asks for, the caller waiting until it is done.
class Partner {
 public:
  explicit Partner(std::function<void()> work) : work_(std::move(work)) {
    pinTo(0);
    thread_ = std::thread([this] {
      pinTo(1);
      int done = 0;
      while (!stop_.load(std::memory_order_relaxed)) {
        const int r = round_.load(std::memory_order_acquire);
        if (r > done && r % 2 == 1) {
          work_();
          done = r + 1;
          round_.store(done, std::memory_order_release);
        } else {
          pause();
        }
      }
    });
  }
  ~Partner() {
    stop_ = true;
    thread_.join();
  }
  void runRound() {
    round_.store(++r_, std::memory_order_release);
    ++r_;
    while (round_.load(std::memory_order_acquire) != r_) pause();
  }

 private:
  std::function<void()> work_;
  std::atomic<int> round_{0};
  std::atomic<bool> stop_{false};
  int r_ = 0;
  std::thread thread_;
};

void BM_CacheLineRoundTrip(benchmark::State& state) {
  alignas(64) static std::atomic<std::uint64_t> flag{0};
  flag = 0;
  std::atomic<bool> stop{false};
  pinTo(0);
  std::thread partner([&] {
    pinTo(1);
    std::uint64_t seen = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      const std::uint64_t f = flag.load(std::memory_order_acquire);
      if (f != seen && f % 2 == 1) {
        seen = f + 1;
        flag.store(seen, std::memory_order_release);
      } else {
        pause();
      }
    }
  });
  std::uint64_t f = 0;
  for (auto _ : state) {
    flag.store(++f, std::memory_order_release);
    ++f;
    while (flag.load(std::memory_order_acquire) != f) pause();
  }
  stop = true;
  partner.join();
}
BENCHMARK(BM_CacheLineRoundTrip)->UseRealTime();

void BM_RowTableBuiltHere(benchmark::State& state) {
  const Entry e;
  std::vector<float> table(e.layout.cells);
  for (auto _ : state) {
    kelbow::buildLaneTable(e.layout, e.view(), table.data());
    benchmark::DoNotOptimize(table.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RowTableBuiltHere);

// One row's look-ups in each of kTables tables, last written by this thread
// (range 0) or by a thread on the other processor (range 1); time per table.
void BM_LookUpsInTablesWritten(benchmark::State& state) {
  const bool elsewhere = state.range(0) == 1;
  const Entry e;
  const std::vector<int> cells = e.rowCells();
  std::vector<std::vector<float>> tables(kTables, std::vector<float>(e.layout.cells));
  float value = 0.0f;
  auto write = [&] {
    value += 1.0f;
    for (auto& t : tables)
      for (float& x : t) x = value;
  };
  Partner partner(write);
  float sum = 0.0f;
  for (auto _ : state) {
    state.PauseTiming();
    if (elsewhere)
      partner.runRound();
    else
      write();
    state.ResumeTiming();
    for (const auto& t : tables) sum += lookUp(t, cells);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kTables);
}
BENCHMARK(BM_LookUpsInTablesWritten)->Arg(0)->Arg(1);

// One row's count updates (a cell per attribute written) in each of kTables
// tables that the other processor has not read (range 0) or has just read
// whole (range 1), as a helper reads an entry to build its table from it;
// time per table.
void BM_StoresToTablesReadElsewhere(benchmark::State& state) {
  const bool readElsewhere = state.range(0) == 1;
  const Entry e;
  const std::vector<int> cells = e.rowCells();
  std::vector<std::vector<float>> tables(kTables, std::vector<float>(e.layout.cells, 1.0f));
  std::atomic<float> seen{0.0f};
  Partner partner([&] {
    float sum = 0.0f;
    if (readElsewhere)
      for (const auto& t : tables)
        for (float x : t) sum += x;
    seen.store(sum, std::memory_order_relaxed);
  });
  for (auto _ : state) {
    state.PauseTiming();
    partner.runRound();
    state.ResumeTiming();
    for (auto& t : tables)
      for (int cell : cells) t[cell] += 1.0f;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kTables);
}
BENCHMARK(BM_StoresToTablesReadElsewhere)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
