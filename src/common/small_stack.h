// A LIFO stack for the explicit walks that replace recursion over long chains.
#pragma once

#include <cstddef>
#include <vector>

namespace quorix {

// A LIFO work list whose first entries live on the stack: typical statements never allocate,
// and chains of any length spill to the heap.
template <typename T, size_t N>
class SmallStack {
 public:
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  void push(const T& v) {
    if (size_ < N) {
      local_[size_] = v;
    } else {
      spill_.push_back(v);
    }
    ++size_;
  }
  T pop() {
    --size_;
    if (size_ < N) return local_[size_];
    T v = spill_.back();
    spill_.pop_back();
    return v;
  }

 private:
  T local_[N];
  std::vector<T> spill_;
  size_t size_ = 0;
};

}  // namespace quorix
