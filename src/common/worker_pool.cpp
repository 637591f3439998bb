#include "common/worker_pool.h"

#include <sched.h>

#include <algorithm>

namespace kelbow {

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
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void WorkerPool::serve(int member, const std::function<void()>& onStart) {
  if (onStart) onStart();
  long long seen = 0;
  for (;;) {
    const std::function<void(int)>* task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || round_ != seen; });
      if (stopping_) return;
      seen = round_;
      task = task_;
    }
    std::exception_ptr failure;
    try {
      (*task)(member);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure && !failure_) failure_ = failure;
    if (--busy_ == 0) done_.notify_one();
  }
}

void WorkerPool::run(const std::function<void(int)>& task) {
  if (helpers_.empty()) {
    task(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    busy_ = static_cast<int>(helpers_.size());
    ++round_;
  }
  wake_.notify_all();
  std::exception_ptr failure;
  try {
    task(0);
  } catch (...) {
    failure = std::current_exception();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return busy_ == 0; });
  task_ = nullptr;
  if (!failure) failure = failure_;
  failure_ = nullptr;
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelbow
