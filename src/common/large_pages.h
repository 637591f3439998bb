// An allocator for large tables read and written all over (the merge loop's
// pair costs): an allocation of a few megabytes is placed on 2 MiB
// boundaries and the kernel is asked to back it with large pages, so that
// filling it takes a handful of page faults instead of one per 4 KiB. Where
// the kernel declines, it is ordinary memory. Smaller allocations are
// ordinary ones.
#pragma once

#include <cstddef>
#include <new>

namespace kelbow {

// Allocates `bytes`, large pages asked for when it is worth it; never null
// (throws std::bad_alloc). Freed with freeLarge(p, bytes).
void* allocateLarge(std::size_t bytes);
void freeLarge(void* p, std::size_t bytes) noexcept;

template <class T>
struct LargePageAllocator {
  using value_type = T;
  LargePageAllocator() = default;
  template <class U>
  LargePageAllocator(const LargePageAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateLarge(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { freeLarge(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargePageAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace kelbow
