#include "stack_budget.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace quorix {

namespace {

// The calling thread's stack as [low, high), or false when the platform cannot tell. For the
// main thread glibc derives it from the stack's mapping and RLIMIT_STACK.
bool threadStack(uintptr_t& low, uintptr_t& high) noexcept {
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  void* addr = nullptr;
  size_t size = 0;
  const bool ok = pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0;
  pthread_attr_destroy(&attr);
  if (!ok) return false;
  low = reinterpret_cast<uintptr_t>(addr);
  high = low + size;
  return true;
#else
  (void)low;
  (void)high;
  return false;
#endif
}

}  // namespace

bool StackBudget::allowsSlow(size_t need) noexcept {
  if (!looked_) {
    looked_ = true;
    uintptr_t low = 0;
    uintptr_t high = 0;
    // A host that runs us on a stack of its own making (a coroutine, a fiber) is not on the
    // stack the thread reports; then only the nesting limit applies.
    if (threadStack(low, high) && low < entry_ && entry_ <= high) low_ = low;
  }
  if (low_ == 0) return true;
  const size_t room = entry_ - low_;
  return room >= kStackCosts.margin && need <= room - kStackCosts.margin;
}

}  // namespace quorix
