#include "common/large_pages.h"

#include <sys/mman.h>

#include <cstdlib>

namespace kelbow {

namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Below this an allocation is an ordinary one: large pages would waste more
// than the faults they save.
constexpr std::size_t kWorthIt = 2 * kLargePage;
}  // namespace

void* allocateLarge(std::size_t bytes) {
  if (bytes < kWorthIt) {
    if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
    throw std::bad_alloc();
  }
  const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  void* p = std::aligned_alloc(kLargePage, rounded);
  if (p == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(p, rounded, MADV_HUGEPAGE);  // advice only: refused, the memory is as good
#endif
  return p;
}

void freeLarge(void* p, std::size_t) noexcept { std::free(p); }

}  // namespace kelbow
