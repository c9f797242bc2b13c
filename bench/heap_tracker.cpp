#include "heap_tracker.h"

#include <malloc.h>

#include <cerrno>
#include <cstddef>

// glibc's own entry points, which it exports precisely so that a replacement can forward to them.
extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* ptr, std::size_t size) noexcept;
void __libc_free(void* ptr) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void* __libc_valloc(std::size_t size) noexcept;
void* __libc_pvalloc(std::size_t size) noexcept;
}

namespace {

// Per thread, not atomics: a locked add on every allocation would tax the allocation-heavy
// parsers more than the light ones, and shared counters would tie the threads of the
// two-thread benchmarks together. The peaks are taken on one thread, which frees what it
// allocates.
thread_local std::int64_t g_current = 0;
thread_local std::int64_t g_peak = 0;

std::int64_t usable(void* p) { return static_cast<std::int64_t>(malloc_usable_size(p)); }

void* counted(void* p) {
  if (p != nullptr) {
    g_current += usable(p);
    if (g_current > g_peak) g_peak = g_current;
  }
  return p;
}

void uncount(void* p) {
  if (p != nullptr) g_current -= usable(p);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) noexcept { return counted(__libc_malloc(size)); }

void* calloc(std::size_t count, std::size_t size) noexcept {
  return counted(__libc_calloc(count, size));
}

void* realloc(void* ptr, std::size_t size) noexcept {
  std::int64_t before = ptr != nullptr ? usable(ptr) : 0;
  void* p = __libc_realloc(ptr, size);
  if (p != nullptr) {
    g_current -= before;
    return counted(p);
  }
  // realloc(ptr, 0) frees ptr; any other null result leaves ptr as it was.
  if (size == 0) g_current -= before;
  return p;
}

void free(void* ptr) noexcept {
  uncount(ptr);
  __libc_free(ptr);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
  return counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  return counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = counted(__libc_memalign(alignment, size));
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

void* valloc(std::size_t size) noexcept { return counted(__libc_valloc(size)); }

void* pvalloc(std::size_t size) noexcept { return counted(__libc_pvalloc(size)); }

}  // extern "C"

namespace quorix_bench {

std::int64_t heapCurrent() { return g_current; }
std::int64_t heapPeak() { return g_peak; }
void heapResetPeak() { g_peak = g_current; }

}  // namespace quorix_bench
