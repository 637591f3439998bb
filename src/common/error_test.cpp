#include "common/error.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kelbow {
namespace {

// Runs `body` in a child whose standard output and error share one pipe;
// returns what the child wrote and its exit status.
template <typename Body>
std::pair<std::string, int> inChild(Body body) {
  int fds[2];
  if (::pipe(fds) != 0) return {"", -1};
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    body();
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return {out, WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1};
}

// Standard output to a pipe is fully buffered: without the flush the message
// would come first, inside the progress text.
TEST(ErrorTest, AMessageFollowsTheProgressWrittenBeforeIt) {
  const auto [out, status] = inChild([] {
    std::printf("iteration 1\niter");
    error("t.data: bad\n", true);
  });
  EXPECT_EQ(out, "iteration 1\nitert.data: bad\n");
  EXPECT_EQ(status, kFailureStatus);
}

#ifndef __SANITIZE_ADDRESS__
// An allocation that cannot be had ends the process with one line, not an abort.
TEST(ErrorTest, AFailedAllocationEndsWithOneLineAndStatusOne) {
  const auto [out, status] = inChild([] {
    const rlimit limit{1LL << 30, 1LL << 30};
    ::setrlimit(RLIMIT_AS, &limit);
    installOutOfMemoryHandler();
    std::printf("rows=3 cols = 2\n");
    std::vector<char> huge(std::size_t{1} << 31);
    std::printf("%d\n", huge[12345]);
  });
  EXPECT_EQ(out, "rows=3 cols = 2\nkelbow: out of memory\n");
  EXPECT_EQ(status, kFailureStatus);
}
#endif

}  // namespace
}  // namespace kelbow
