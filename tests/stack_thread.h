// Runs a callable on a thread with a chosen stack size, the way a host's worker thread with a
// small stack calls the library. The default thread stack (often 8 MiB) would hide recursion
// that a 1 MiB host thread cannot afford.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>

namespace quorix::test {

// The stack of a modest host worker thread, on which 500 nesting levels fit in an optimised
// build. Sanitizers and -O0 make frames two to five times as large, so those builds give the
// same tests twice the stack.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__OPTIMIZE__)
inline constexpr size_t kHostStackBytes = size_t(2) << 20;
#else
inline constexpr size_t kHostStackBytes = size_t(1) << 20;
#endif

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

// Runs fn on a thread with the host-sized stack. An exception comes back as its message rather
// than ending the process from the thread; "" is success.
template <typename Fn>
std::string failureOnHostStack(Fn&& fn) {
  std::string error;
  const int rc = runOnStack(kHostStackBytes, [&] {
    try {
      fn();
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
  return rc == 0 ? error : "no thread: " + std::to_string(rc);
}

}  // namespace quorix::test
