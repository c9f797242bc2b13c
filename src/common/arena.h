// Per-call bump allocator. Nodes, child links and unescaped strings of one statement live here
// and are released together, so freeing a tree of any size or depth is one operation; reset()
// hands the memory to the next statement, which then finds it warm in the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quorix {

class Arena {
 public:
  // The first kInlineBytes live inside the arena object itself, so a short statement parses
  // without touching the heap; `firstBlock` sizes the first heap block after that.
  static constexpr size_t kInlineBytes = 12 * 1024;

  explicit Arena(size_t firstBlock = 16 * 1024)
      : cur_(inline_),
        end_(inline_ + kInlineBytes),
        nextSize_(firstBlock < 4096 ? 4096 : firstBlock) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    freeChain(head_);
    std::free(spare_);
  }

  // Releases everything made so far. What the statement used is kept, as one block, for the
  // next one: a text of many statements then allocates nothing per statement, and a run of
  // large statements does not keep a chain of doubling blocks alive.
  void reset() {
    if (head_ != nullptr && head_->prev == nullptr) {
      // One block, the common case: keep the larger of it and the spare.
      Block* smaller = head_;
      if (spare_ == nullptr || head_->size >= spare_->size) std::swap(smaller, spare_);
      std::free(smaller);
    } else if (head_ != nullptr) {
      size_t total = 0;
      for (Block* b = head_; b != nullptr; b = b->prev) total += b->size;
      freeChain(head_);
      if (spare_ == nullptr || total > spare_->size) {
        std::free(spare_);
        // Failing here costs nothing but the reuse.
        spare_ = static_cast<Block*>(std::malloc(total));
        if (spare_ != nullptr) spare_->size = total;
      }
    }
    head_ = nullptr;
    cur_ = inline_;
    end_ = inline_ + kInlineBytes;
  }

  // A point to come back to: rewind() releases what was made after mark() and keeps what was
  // made before, so that each element of a long list reuses the memory of the one before it.
  struct Mark {
    const void* head;
    char* cur;
    char* end;
  };
  Mark mark() const { return {head_, cur_, end_}; }
  void rewind(const Mark& m) {
    while (head_ != m.head) {
      Block* b = head_;
      head_ = b->prev;
      // The largest block begun since the mark is kept for the next element.
      if (spare_ == nullptr || b->size > spare_->size) std::swap(b, spare_);
      std::free(b);
    }
    cur_ = m.cur;
    end_ = m.end;
  }

  void* allocate(size_t size, size_t align = alignof(std::max_align_t)) {
    auto p = reinterpret_cast<uintptr_t>(cur_);
    uintptr_t aligned = (p + (align - 1)) & ~(uintptr_t(align) - 1);
    if (aligned + size > reinterpret_cast<uintptr_t>(end_)) [[unlikely]] {
      grow(size + align);
      p = reinterpret_cast<uintptr_t>(cur_);
      aligned = (p + (align - 1)) & ~(uintptr_t(align) - 1);
    }
    cur_ = reinterpret_cast<char*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
  }

  // Objects made here are never destroyed: only trivially destructible types belong here.
  template <typename T, typename... Args>
  T* make(Args&&... args) {
    static_assert(std::is_trivially_destructible_v<T>);
    return new (allocate(sizeof(T), alignof(T))) T{std::forward<Args>(args)...};
  }

  // About how many bytes the pieces made since the last reset take (alignment gaps included).
  size_t bytesInUse() const {
    if (head_ == nullptr) return static_cast<size_t>(cur_ - inline_);
    size_t total =
        kInlineBytes + static_cast<size_t>(cur_ - reinterpret_cast<const char*>(head_ + 1));
    for (const Block* b = head_->prev; b != nullptr; b = b->prev) total += b->size;
    return total;
  }

  // Lengthens the latest allocation in place when the block has room for it: an array that
  // grows while nothing else is allocated then never moves.
  bool tryExtend(void* p, size_t oldSize, size_t newSize) {
    char* at = static_cast<char*>(p);
    if (at + oldSize != cur_ || newSize > static_cast<size_t>(end_ - at)) return false;
    cur_ = at + newSize;
    return true;
  }

  std::string_view copy(std::string_view s) {
    if (s.empty()) return {};
    char* p = static_cast<char*>(allocate(s.size(), 1));
    std::memcpy(p, s.data(), s.size());
    return {p, s.size()};
  }

 private:
  struct alignas(std::max_align_t) Block {
    Block* prev;
    size_t size;
  };

  static void freeChain(Block* b) {
    while (b != nullptr) {
      Block* prev = b->prev;
      std::free(b);
      b = prev;
    }
  }

  void grow(size_t atLeast) {
    Block* b;
    if (spare_ != nullptr && spare_->size >= atLeast + sizeof(Block)) {
      b = spare_;
      spare_ = nullptr;
    } else {
      size_t size = nextSize_;
      while (size < atLeast + sizeof(Block)) size *= 2;
      b = static_cast<Block*>(std::malloc(size));
      if (b == nullptr) throw std::bad_alloc();
      b->size = size;
      if (nextSize_ < (size_t(1) << 24)) nextSize_ = size * 2;
    }
    b->prev = head_;
    head_ = b;
    cur_ = reinterpret_cast<char*>(b + 1);
    end_ = reinterpret_cast<char*>(b) + b->size;
  }

  Block* head_ = nullptr;
  Block* spare_ = nullptr;
  char* cur_;
  char* end_;
  size_t nextSize_;
  alignas(std::max_align_t) char inline_[kInlineBytes];
};

}  // namespace quorix
