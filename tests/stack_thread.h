// Runs a callable on a thread with a chosen stack size, the way a host's worker thread with a
// small stack calls the library. The default thread stack (often 8 MiB) would hide recursion
// that a 1 MiB host thread cannot afford.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <memory>
#include <type_traits>

namespace quorix::test {

// The stack of a modest host worker thread.
inline constexpr size_t kHostStackBytes = size_t(1) << 20;

// Calls fn() on a new thread whose stack is stackBytes and waits for it to finish. Returns 0, or
// the pthread error code when the thread could not be started (fn then did not run).
template <typename Fn>
int runOnStack(size_t stackBytes, Fn&& fn) {
  using Callable = std::remove_reference_t<Fn>;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  int rc = pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  if (rc == 0) {
    rc = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
          (*static_cast<Callable*>(arg))();
          return nullptr;
        },
        const_cast<void*>(static_cast<const void*>(std::addressof(fn))));
  }
  pthread_attr_destroy(&attr);
  if (rc == 0) pthread_join(thread, nullptr);
  return rc;
}

}  // namespace quorix::test
