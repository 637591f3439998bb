// Storage that shares no cache line with any other allocation: every block
// starts on a 64-byte boundary and is rounded up to whole lines. For data that
// one thread writes while another thread works on its neighbours (the summary
// tree's entries, once the root's and the rest of a full tree go to two
// threads): a line written on one processor and read on the other costs a
// transfer at every use.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace kelbow {

inline constexpr std::size_t kCacheLine = 64;

template <class T>
struct CacheLineAllocator {
  using value_type = T;
  CacheLineAllocator() = default;
  template <class U>
  CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > (static_cast<std::size_t>(-1) - kCacheLine) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(::operator new(lineBytes(n), std::align_val_t(kCacheLine)));
  }
  // The unsized form: compilers that do not assume sized deallocation
  // (clang without -fsized-deallocation) declare no other.
  void deallocate(T* p, std::size_t) noexcept {
    ::operator delete(p, std::align_val_t(kCacheLine));
  }
  template <class U>
  bool operator==(const CacheLineAllocator<U>&) const noexcept {
    return true;
  }

 private:
  static std::size_t lineBytes(std::size_t n) {
    return (n * sizeof(T) + kCacheLine - 1) / kCacheLine * kCacheLine;
  }
};

// A vector whose elements share no cache line with other allocations.
template <class T>
using LineVector = std::vector<T, CacheLineAllocator<T>>;

}  // namespace kelbow
