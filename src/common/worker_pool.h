// A fixed team of threads that share one task: the merge loop spreads its pair
// costs over it. The calling thread is the team's first member, so a team of
// one starts no thread and runs every task in place.
#pragma once

#include <condition_variable>
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

  // Calls task(member) once for every member 0 .. size() - 1, member 0 on the
  // calling thread, and returns when all have returned. An exception thrown by
  // any of them is thrown here, after all have returned.
  void run(const std::function<void(int)>& task);

 private:
  void serve(int member, const std::function<void()>& onStart);

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a new task, or the end
  std::condition_variable done_;  // the last helper finished the task
  const std::function<void(int)>* task_ = nullptr;
  long long round_ = 0;  // tasks handed out so far
  int busy_ = 0;         // helpers still on the current task
  bool stopping_ = false;
  std::exception_ptr failure_;
};

// The processors this process may use (at least 1).
int availableThreads();

// The members' share of `count` items: member m of `members` takes the items
// [begin, end) of the contiguous split, the first ones one larger.
struct ItemRange {
  int begin;
  int end;
};
inline ItemRange shareOf(int count, int member, int members) {
  const int base = count / members;
  const int extra = count % members;
  const int begin = member * base + (member < extra ? member : extra);
  return {begin, begin + base + (member < extra ? 1 : 0)};
}

}  // namespace kelbow
