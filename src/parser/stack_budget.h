// How much of the calling thread's stack a parse may still use. Hosts call the library from
// threads of every size (musl's default is 128 KiB, many runtimes give workers 256 KiB) and a
// stack overflow is a crash no host language can catch, so deep nesting has to fail as an
// error while there is still room to report it and to encode what was accepted.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace quorix {

// Frame sizes measured by painting a thread's stack and parsing, then encoding, every nesting
// construct at two depths. Per level, an optimised build's parse takes 112 to 512 bytes and its
// encoder up to 576 (a subquery in a join condition); -O0 takes 384 to 2,784 and 1,392; the
// AddressSanitizer build's encoder up to 1,792. Between a check and the deepest frame below it:
// up to 5.8 KiB optimised, 7.5 KiB at -O0 and 6.4 KiB under ASan, when an error is thrown there
// (the unwinder's own frames are the largest part).
struct StackCosts {
  // The encoder's stack per nesting level, rounded up: it runs after the parse of a statement
  // has unwound, from about where the parse started, and some constructs (prefix NOT, IN and
  // quantified subqueries) take more per level to write than to parse.
  size_t encodePerLevel;
  // What must stay free below the deepest check: the frames a level's parse reaches before the
  // next check (an operand's leaf, the error message and the unwinder's own frames when it
  // throws), or the encoder's deepest leaf frames (number formatting, buffer growth).
  size_t margin;
  // Below this much use since the call began nothing is looked up: the thread's bounds cost a
  // system call, and statements that nest a few levels are the common case.
  size_t quiet;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr StackCosts kStackCosts{2048, 32 << 10, 16 << 10};
#elif defined(__OPTIMIZE__)
inline constexpr StackCosts kStackCosts{768, 16 << 10, 16 << 10};
#else
inline constexpr StackCosts kStackCosts{1536, 32 << 10, 8 << 10};
#endif

class StackBudget {
 public:
  // Taken when a call starts: parsing and encoding both grow the stack from about here.
  [[gnu::always_inline]] StackBudget() noexcept : entry_(here()) {}

  // Whether the parse may open nesting level `depth` here: room below this point for what one
  // level's parse still calls, and room from the start for the encoder to come back down to
  // this depth. Cheap while the call has used little stack; one look-up of the thread's bounds
  // after that.
  [[gnu::always_inline]] bool allows(int depth) {
    const size_t used = entry_ > here() ? entry_ - here() : 0;
    const size_t need = std::max(used, static_cast<size_t>(depth) * kStackCosts.encodePerLevel);
    return need <= kStackCosts.quiet || allowsSlow(need);
  }

 private:
  [[gnu::always_inline]] static uintptr_t here() noexcept {
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  }
  bool allowsSlow(size_t need) noexcept;

  uintptr_t entry_;
  uintptr_t low_ = 0;  // lowest usable address of the thread's stack; 0 while unknown
  bool looked_ = false;
};

}  // namespace quorix
