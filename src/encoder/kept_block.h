// The one piece of memory the library keeps between calls: the last document block a host
// released on a thread, handed to that thread's next call of a size that can use it.
//
// A large document is written into memory that has to come from somewhere: from malloc, a
// freshly mapped block faults in page by page and every page is zeroed first, which measured
// costs a whole-text call half its speed. Whether glibc reuses its heap instead depends on how
// the process used malloc before (its thresholds adapt to the blocks freed, and a heap top
// past the trim threshold is given back on every free), so a host that never tuned malloc saw
// anything between full and half speed. A block kept here has its pages in place.
//
// Bounds: one block per thread, of kMinKeptBlock to kMaxKeptBlock bytes; given back by the
// thread's kKeptBlockIdleCalls-th call in a row that did not use it, when a call's document
// needed much less of it (the writer hands back the unused tail), and at thread exit.
#pragma once

#include <cstddef>

namespace quorix {

inline constexpr size_t kMinKeptBlock = size_t(64) << 10;
inline constexpr size_t kMaxKeptBlock = size_t(32) << 20;
inline constexpr unsigned kKeptBlockIdleCalls = 16;

// The thread's kept block if it holds at least `bytes`, with its usable size in `capacity`;
// null otherwise. The block is the caller's from then on (a malloc'd block).
char* takeKeptBlock(size_t bytes, size_t& capacity) noexcept;

// Keeps a malloc'd block that a host released for this thread's next call, or frees it: too
// small or too large to keep, or a block is kept already (the larger of the two stays).
void keepOrFree(void* block) noexcept;

// The end of one parse call on this thread: a kept block that this many calls in a row have
// not taken is freed.
void noteCallEnd() noexcept;

// What the calling thread keeps now, in bytes (for tests and for the curious).
size_t keptBlockBytes() noexcept;

}  // namespace quorix
