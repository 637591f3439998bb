// A library for LD_PRELOAD that makes allocations fail, for the sweep in
// alloc_sweep.sh: with KELBOW_FAIL_ALLOCATION_FROM=N set, the N-th allocation
// of the process (counted from its start, 1-based) and every one after it
// return null with ENOMEM. With KELBOW_COUNT_ALLOCATIONS=FILE set, the number of
// allocations made is written to FILE when the process exits normally.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {

unsigned long gCount = 0;
unsigned long gFailFrom = 0;  // 0: never
bool gRead = false;

// Reads the settings at the first allocation, without allocating.
bool fails() {
  if (!gRead) {
    gRead = true;
    if (const char* from = std::getenv("KELBOW_FAIL_ALLOCATION_FROM"))
      gFailFrom = std::strtoul(from, nullptr, 10);
  }
  ++gCount;
  if (gFailFrom == 0 || gCount < gFailFrom) return false;
  errno = ENOMEM;
  return true;
}

__attribute__((destructor)) void reportCount() {
  const char* file = std::getenv("KELBOW_COUNT_ALLOCATIONS");
  if (file == nullptr) return;
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%lu\n", gCount);
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (::write(fd, text, static_cast<std::size_t>(n)) != n) std::perror("fail_alloc");
  ::close(fd);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) { return fails() ? nullptr : __libc_malloc(size); }

void* calloc(std::size_t n, std::size_t size) { return fails() ? nullptr : __libc_calloc(n, size); }

void* realloc(void* p, std::size_t size) { return fails() ? nullptr : __libc_realloc(p, size); }

void* memalign(std::size_t alignment, std::size_t size) {
  return fails() ? nullptr : __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return fails() ? nullptr : __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  if (fails()) return ENOMEM;
  *out = __libc_memalign(alignment, size);
  return *out == nullptr ? ENOMEM : 0;
}

}  // extern "C"
