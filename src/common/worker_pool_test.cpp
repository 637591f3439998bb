#include "common/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kelbow {
namespace {

// Every member runs every task once, member 0 on the calling thread, the
// helpers having run onStart first; a team of one starts no thread.
TEST(WorkerPoolTest, EveryMemberRunsEveryTaskOnce) {
  for (const int threads : {1, 2, 3}) {
    thread_local int started = 0;
    WorkerPool pool(threads, [] { started = 1; });
    ASSERT_EQ(pool.size(), threads);
    const std::thread::id caller = std::this_thread::get_id();
    for (int task = 0; task < 50; ++task) {
      std::vector<std::atomic<int>> runs(threads);
      std::atomic<int> unstarted{0};
      pool.run([&](int member) {
        ++runs[member];
        if ((member == 0) != (std::this_thread::get_id() == caller)) ADD_FAILURE() << member;
        if (member > 0 && started != 1) ++unstarted;
      });
      for (int m = 0; m < threads; ++m) ASSERT_EQ(runs[m], 1) << "member " << m;
      ASSERT_EQ(unstarted, 0);
    }
  }
}

// A member's exception reaches the caller after every member has returned,
// and the team serves the next task.
TEST(WorkerPoolTest, AnExceptionReachesTheCallerAndTheTeamGoesOn) {
  WorkerPool pool(3);
  for (const int thrower : {0, 2}) {
    std::atomic<int> returned{0};
    EXPECT_THROW(pool.run([&](int member) {
      if (member == thrower) throw std::runtime_error("member");
      ++returned;
    }),
                 std::runtime_error);
    EXPECT_EQ(returned, 2);
  }
  std::atomic<int> runs{0};
  pool.run([&](int) { ++runs; });
  EXPECT_EQ(runs, 3);
}

// The shares cover 0 .. count - 1 once, in order, the first ones one larger,
// also with fewer items than members.
TEST(WorkerPoolTest, SharesCoverTheItemsInOrder) {
  for (const int members : {1, 2, 3, 7})
    for (const int count : {0, 1, 2, 6, 7, 100}) {
      int next = 0;
      for (int m = 0; m < members; ++m) {
        const ItemRange r = shareOf(count, m, members);
        EXPECT_EQ(r.begin, next);
        EXPECT_GE(r.end - r.begin, count / members);
        EXPECT_LE(r.end - r.begin, count / members + 1);
        next = r.end;
      }
      EXPECT_EQ(next, count) << members << " members, " << count << " items";
    }
}

}  // namespace
}  // namespace kelbow
