#include "common/large_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kelbow {
namespace {

TEST(LargePages, LargeTablesStartOnALargePageAndHoldWhatIsWritten) {
  for (const std::size_t n : {std::size_t{10}, std::size_t{3'000'000}}) {
    std::vector<float, LargePageAllocator<float>> v(n, -1.0f);
    if (n * sizeof(float) >= (std::size_t{4} << 20)) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % (std::size_t{2} << 20), 0u);
    }
    for (std::size_t i = 0; i < n; i += 4097) v[i] = static_cast<float>(i);
    for (std::size_t i = 0; i < n; ++i)
      ASSERT_EQ(v[i], i % 4097 == 0 ? static_cast<float>(i) : -1.0f) << i;
  }
}

}  // namespace
}  // namespace kelbow
