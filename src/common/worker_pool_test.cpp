#include "common/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kelbow {
namespace {

// Every chunk runs once, on a member of the team (0: the calling thread), no
// member on two chunks at once, helpers only after their onStart; a team of
// one runs every chunk on the calling thread.
TEST(WorkerPoolTest, EveryChunkRunsOnceOnSomeMember) {
  for (const int threads : {1, 2, 3}) {
    thread_local int started = 0;
    WorkerPool pool(threads, [] { started = 1; });
    ASSERT_EQ(pool.size(), threads);
    const std::thread::id caller = std::this_thread::get_id();
    for (const int chunks : {1, 2, 7, 1000}) {
      std::vector<std::atomic<int>> runs(chunks);
      std::vector<std::atomic<int>> busy(threads);
      std::atomic<int> wrong{0};
      pool.run(chunks, [&](int member, int chunk) {
        if (member < 0 || member >= threads || busy[member]++ != 0) ++wrong;
        if ((member == 0) != (std::this_thread::get_id() == caller)) ++wrong;
        if (member > 0 && started != 1) ++wrong;
        ++runs[chunk];
        --busy[member];
      });
      for (int c = 0; c < chunks; ++c) ASSERT_EQ(runs[c], 1) << threads << " threads, chunk " << c;
      ASSERT_EQ(wrong, 0) << threads << " threads, " << chunks << " chunks";
    }
  }
}

// A chunk's exception reaches the caller after every chunk has returned, and
// the team serves the next task.
TEST(WorkerPoolTest, AnExceptionReachesTheCallerAndTheTeamGoesOn) {
  WorkerPool pool(3);
  for (const int thrower : {0, 5}) {
    std::atomic<int> returned{0};
    EXPECT_THROW(pool.run(8,
                          [&](int, int chunk) {
                            if (chunk == thrower) throw std::runtime_error("chunk");
                            ++returned;
                          }),
                 std::runtime_error);
    EXPECT_EQ(returned, 7);
  }
  std::atomic<int> runs{0};
  pool.run(40, [&](int, int) { ++runs; });
  EXPECT_EQ(runs, 40);
}

// The shares cover 0 .. count - 1 once, in order, the first ones one larger,
// also with fewer items than chunks.
TEST(WorkerPoolTest, SharesCoverTheItemsInOrder) {
  for (const int chunks : {1, 2, 3, 7})
    for (const int count : {0, 1, 2, 6, 7, 100}) {
      int next = 0;
      for (int c = 0; c < chunks; ++c) {
        const ItemRange r = shareOf(count, c, chunks);
        EXPECT_EQ(r.begin, next);
        EXPECT_GE(r.end - r.begin, count / chunks);
        EXPECT_LE(r.end - r.begin, count / chunks + 1);
        next = r.end;
      }
      EXPECT_EQ(next, count) << chunks << " chunks, " << count << " items";
    }
}

}  // namespace
}  // namespace kelbow
