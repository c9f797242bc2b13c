#include "encoder/kept_block.h"

#include <malloc.h>

#include <cstdlib>

namespace quorix {

namespace {

struct KeptBlock {
  void* block = nullptr;
  size_t size = 0;
  unsigned idleCalls = 0;
};

// Per thread, so no call waits for another and nothing is shared. Trivially destructible, so
// that a thread that never keeps a block costs the C library nothing at its exit.
thread_local KeptBlock tKept;

// Frees the kept block when the thread ends. Touched only once a block is kept, which is when
// the C library records the destructor (a few dozen bytes of its own, until the thread ends).
struct FreeAtThreadExit {
  bool armed = false;
  ~FreeAtThreadExit() {
    std::free(tKept.block);
    tKept = KeptBlock{};
  }
};
thread_local FreeAtThreadExit tFreeAtThreadExit;

}  // namespace

char* takeKeptBlock(size_t bytes, size_t& capacity) noexcept {
  KeptBlock& kept = tKept;
  if (kept.block == nullptr || kept.size < bytes) return nullptr;
  char* block = static_cast<char*>(kept.block);
  capacity = kept.size;
  kept.block = nullptr;
  kept.size = 0;
  kept.idleCalls = 0;
  return block;
}

void keepOrFree(void* block) noexcept {
  if (block == nullptr) return;
  const size_t size = malloc_usable_size(block);
  KeptBlock& kept = tKept;
  if (size < kMinKeptBlock || size > kMaxKeptBlock || size <= kept.size) {
    std::free(block);
    return;
  }
  std::free(kept.block);
  tFreeAtThreadExit.armed = true;
  kept.block = block;
  kept.size = size;
  kept.idleCalls = 0;
}

void noteCallEnd() noexcept {
  KeptBlock& kept = tKept;
  if (kept.block == nullptr || ++kept.idleCalls < kKeptBlockIdleCalls) return;
  std::free(kept.block);
  kept.block = nullptr;
  kept.size = 0;
  kept.idleCalls = 0;
}

size_t keptBlockBytes() noexcept { return tKept.size; }

}  // namespace quorix
