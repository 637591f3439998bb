#include "common/worker_pool.h"

#include <sched.h>

#include <algorithm>

namespace kelbow {

namespace {

// Rounds a thread waits awake for the next task (or for the last chunks to
// finish) before it sleeps: a few microseconds.
constexpr int kSpinRounds = 200;

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

constexpr std::uint64_t kCountMask = 0xffff;

}  // namespace

int availableThreads() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

WorkerPool::WorkerPool(int threads, std::function<void()> onStart) {
  for (int m = 1; m < threads; ++m)
    helpers_.emplace_back([this, m, onStart] { serve(m, onStart); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true, std::memory_order_seq_cst);
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void WorkerPool::chunkDone() {
  const int total = chunks_;  // read first: once all are finished, a next task may set it
  if (finished_.fetch_add(1, std::memory_order_seq_cst) + 1 == total &&
      callerWaiting_.load(std::memory_order_seq_cst)) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.notify_one();
  }
}

void WorkerPool::work(int member, std::uint32_t round) {
  for (;;) {
    std::uint64_t w = work_.load(std::memory_order_acquire);
    int chunk;
    do {
      if (static_cast<std::uint32_t>(w >> 32) != round) return;
      const int total = static_cast<int>((w >> 16) & kCountMask);
      chunk = static_cast<int>(w & kCountMask);
      if (chunk >= total) return;
    } while (!work_.compare_exchange_weak(w, w + 1, std::memory_order_acq_rel));
    // The task cannot end before this chunk is counted finished: task_ is valid.
    try {
      (*task_)(member, chunk);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
    }
    chunkDone();
  }
}

void WorkerPool::serve(int member, const std::function<void()>& onStart) {
  if (onStart) onStart();
  std::uint32_t seen = 0;
  for (;;) {
    auto round = [&] {
      return static_cast<std::uint32_t>(work_.load(std::memory_order_seq_cst) >> 32);
    };
    for (int spin = 0; round() == seen && !stopping_.load(std::memory_order_relaxed);) {
      if (++spin < kSpinRounds) {
        pause();
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex_);
      sleeping_.fetch_add(1, std::memory_order_seq_cst);
      wake_.wait(lock,
                 [&] { return round() != seen || stopping_.load(std::memory_order_seq_cst); });
      sleeping_.fetch_sub(1, std::memory_order_relaxed);
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    seen = round();
    work(member, seen);
  }
}

void WorkerPool::run(int chunks, const std::function<void(int, int)>& task) {
  if (chunks <= 0) return;
  if (helpers_.empty() || chunks == 1) {
    for (int c = 0; c < chunks; ++c) task(0, c);
    return;
  }
  chunks = std::min(chunks, kMostChunks);
  task_ = &task;
  chunks_ = chunks;
  finished_.store(0, std::memory_order_relaxed);
  const std::uint32_t round =
      static_cast<std::uint32_t>(work_.load(std::memory_order_relaxed) >> 32) + 1;
  work_.store(
      (static_cast<std::uint64_t>(round) << 32) | (static_cast<std::uint64_t>(chunks) << 16),
      std::memory_order_seq_cst);
  if (sleeping_.load(std::memory_order_seq_cst) > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
  work(0, round);
  for (int spin = 0; finished_.load(std::memory_order_acquire) != chunks && spin < kSpinRounds;
       ++spin)
    pause();
  if (finished_.load(std::memory_order_acquire) != chunks) {
    std::unique_lock<std::mutex> lock(mutex_);
    callerWaiting_.store(true, std::memory_order_seq_cst);
    done_.wait(lock, [&] { return finished_.load(std::memory_order_seq_cst) == chunks; });
    callerWaiting_.store(false, std::memory_order_relaxed);
  }
  task_ = nullptr;
  std::exception_ptr failure;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(failure, failure_);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelbow
