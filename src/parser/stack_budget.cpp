#include "parser/stack_budget.h"

#if defined(__linux__)
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>

#include <cstring>
#endif

namespace quorix {

namespace {

#if defined(__linux__)
// The main thread's stack ends at the top of its mapping, just above the program's file name
// (AT_EXECFN), and may grow to RLIMIT_STACK below that: two cheap calls, where glibc's
// pthread_getattr_np reads /proc/self/maps for the same answer (about 20 us a call). False when
// `at` is not on the main thread's stack, or when that stack has no limit.
bool mainThreadStack(uintptr_t at, uintptr_t& low) noexcept {
  const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  rlimit limit;
  if (name == nullptr || getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return false;
  // Rounded up to 4 KiB pages: with larger pages the top is higher still, so this errs on the
  // side of less room.
  const uintptr_t top =
      (reinterpret_cast<uintptr_t>(name) + std::strlen(name) + 4096) & ~uintptr_t(4095);
  if (at >= top || top - at >= limit.rlim_cur) return false;
  low = top - limit.rlim_cur;
  return true;
}
#endif

// The lowest usable address of the calling thread's stack, whose frame `at` is, or false when
// the platform cannot tell.
bool threadStackLow(uintptr_t at, uintptr_t& low) noexcept {
#if defined(__linux__)
  if (mainThreadStack(at, low)) return true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  void* addr = nullptr;
  size_t size = 0;
  const bool ok = pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0;
  pthread_attr_destroy(&attr);
  // A host that runs us on a stack of its own making (a coroutine, a fiber) is not on the stack
  // the thread reports.
  if (!ok || at < reinterpret_cast<uintptr_t>(addr) ||
      at - reinterpret_cast<uintptr_t>(addr) > size)
    return false;
  low = reinterpret_cast<uintptr_t>(addr);
  return true;
#else
  (void)at;
  (void)low;
  return false;
#endif
}

}  // namespace

bool StackBudget::allowsSlow(size_t need) noexcept {
  if (!looked_) {
    looked_ = true;
    if (!threadStackLow(entry_, low_)) low_ = 0;  // only the nesting limit applies
  }
  if (low_ == 0) return true;
  const size_t room = entry_ - low_;
  return room >= kStackCosts.margin && need <= room - kStackCosts.margin;
}

}  // namespace quorix
