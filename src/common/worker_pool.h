// A fixed team of threads that share out the chunks of one task: the merge
// loop spreads its pair costs over it. The calling thread works too and takes
// chunks until none is left, so a helper that is slow to wake (a busy machine)
// costs nothing but the chunk it took; a team of one starts no thread and runs
// every chunk in place. Between tasks the helpers wait a few microseconds
// awake, then asleep.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kelbow {

class WorkerPool {
 public:
  // A team of `threads` (at least 1) members; every helper thread calls
  // `onStart` once before its first task (to take on what the calling thread's
  // thread-local tables hold, for instance).
  explicit WorkerPool(int threads, std::function<void()> onStart = {});
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int size() const { return static_cast<int>(helpers_.size()) + 1; }

  // Calls task(member, chunk) once for every chunk 0 .. chunks - 1 (at most
  // kMostChunks), each on whichever member takes it (0: the calling thread),
  // and returns when all have returned. No two calls at once have the same
  // member. An exception thrown by any of them is thrown here, after all have
  // returned.
  void run(int chunks, const std::function<void(int member, int chunk)>& task);
  static constexpr int kMostChunks = 0xffff;

 private:
  void serve(int member, const std::function<void()>& onStart);
  // Takes and runs chunks of the current task while there are any; false when
  // the task of round `round` has none left (or has ended).
  void work(int member, std::uint32_t round);
  void chunkDone();

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a new task, or the end, for helpers asleep
  std::condition_variable done_;  // the last chunk is finished
  const std::function<void(int, int)>* task_ = nullptr;
  // The task's round (high 32 bits), its chunks and the chunks taken (16 bits
  // each): a helper that wakes late finds another round and takes nothing.
  std::atomic<std::uint64_t> work_{0};
  std::atomic<int> finished_{0};  // chunks of the current task finished
  int chunks_ = 0;
  std::atomic<int> sleeping_{0};  // helpers asleep on wake_
  std::atomic<bool> callerWaiting_{false};
  std::atomic<bool> stopping_{false};
  std::exception_ptr failure_;  // under mutex_
};

// The processors this process may use (at least 1).
int availableThreads();

// The share of `count` items in chunk c of `chunks`: items [begin, end) of the
// contiguous split, the first chunks one larger.
struct ItemRange {
  int begin;
  int end;
};
inline ItemRange shareOf(int count, int chunk, int chunks) {
  const int base = count / chunks;
  const int extra = count % chunks;
  const int begin = chunk * base + (chunk < extra ? chunk : extra);
  return {begin, begin + base + (chunk < extra ? 1 : 0)};
}

}  // namespace kelbow
