#include "msgpack_writer.h"

#include <new>
#include <string>

#include "errors.h"

namespace quorix {

MsgPackWriter::MsgPackWriter(size_t reserve, size_t limit)
    : buf_(inline_), cap_(kInlineBytes), limit_(limit) {
  if (reserve > kInlineBytes) {
    buf_ = static_cast<char*>(std::malloc(reserve));
    if (buf_ == nullptr) throw std::bad_alloc();
    cap_ = reserve;
  }
}

void MsgPackWriter::grow(size_t extra) {
  // `extra` is an upper bound of the next value (a header may be shorter than reserved), so the
  // exact check is checkLimit(); this one stops the buffer from growing far past the limit.
  size_t needed = size_ + extra;
  if (needed > limit_ + 16) raiseTooLarge();
  size_t cap = cap_ * 2;
  if (cap < needed) cap = needed;
  char* p;
  if (buf_ == inline_) {
    p = static_cast<char*>(std::malloc(cap));
    if (p != nullptr) std::memcpy(p, buf_, size_);
  } else {
    p = static_cast<char*>(std::realloc(buf_, cap));
  }
  if (p == nullptr) throw std::bad_alloc();
  buf_ = p;
  cap_ = cap;
}

void MsgPackWriter::checkLimit() const {
  if (size_ > limit_) raiseTooLarge();
}

void MsgPackWriter::raiseTooLarge() const {
  throw InternalDefect("value out of range: the document exceeds " + std::to_string(limit_) +
                       " bytes, the most that data_len can describe");
}

}  // namespace quorix
