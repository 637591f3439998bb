#include "common/cache_lines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kelbow {
namespace {

// Blocks of every small size, interleaved with ordinary ones: each starts a
// cache line and keeps what is written into it as the vectors grow.
TEST(CacheLines, BlocksStartALineAndHoldWhatIsWritten) {
  std::vector<LineVector<int>> lined;
  std::vector<std::vector<char>> plain;
  for (int k = 1; k <= 100; ++k) {
    lined.emplace_back(k, k);
    plain.emplace_back(k % 37 + 1, 'x');
    lined[k / 2].push_back(-k);
  }
  for (const LineVector<int>& v : lined)
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % kCacheLine, 0u) << v.size();
  for (int k = 1; k <= 100; ++k) {
    const LineVector<int>& v = lined[k - 1];
    const std::size_t own = static_cast<std::size_t>(k);
    ASSERT_GE(v.size(), own);
    for (std::size_t i = 0; i < own; ++i) ASSERT_EQ(v[i], k) << k << " " << i;
  }
}

}  // namespace
}  // namespace kelbow
