#include "encoder/msgpack_writer.h"

#include <new>
#include <string>

#include "common/errors.h"

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
  if (needed - begin_ > limit_ + 16) raiseTooLarge();
  // Towards the caller's estimate when there is one (a little over it, since estimates run
  // short as often as long); by half again otherwise, which wastes less than doubling. An
  // estimate that proved short is corrected by small steps: it is close by then.
  size_t cap;
  if (expected_ == 0) {
    cap = cap_ + cap_ / 2;
  } else if (expected_ >= needed) {
    cap = expected_ + expected_ / 16;
  } else {
    cap = needed + needed / 16;
  }
  if (cap < cap_ + cap_ / 16) cap = cap_ + cap_ / 16;
  // Never more than the longest document allowed: a long text's projection must not turn the
  // limit's error into an out-of-memory one.
  const size_t most = begin_ + limit_ + 16 + 8;
  if (cap > most) cap = most;
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

void MsgPackWriter::reserveFront(size_t bytes) {
  ensure(bytes);
  size_ = bytes;
  front_ = bytes;
  begin_ = 0;
}

void MsgPackWriter::widenFront(size_t bytes) {
  if (bytes <= front_) return;
  ensure(bytes - front_);
  std::memmove(buf_ + bytes, buf_ + front_, size_ - front_);
  size_ += bytes - front_;
  front_ = bytes;
}

void MsgPackWriter::writeFrontArrayHeader(size_t count) {
  size_t n = arrayHeaderBytes(count);
  // More entries than the reservation foresaw: make room by moving the document up.
  widenFront(n);
  writeHeaderAt(front_ - n, count);
  begin_ = front_ - n;
  front_ = 0;
}

void MsgPackWriter::widenArrayHeader(size_t at, size_t from, size_t to) {
  ensure(to - from);
  std::memmove(buf_ + at + to, buf_ + at + from, size_ - at - from);
  size_ += to - from;
}

void MsgPackWriter::writeArrayHeaderAt(size_t at, size_t reserved, size_t count) {
  const size_t needed = arrayHeaderBytes(count);
  if (needed != reserved) {
    throw InternalDefect("array header of " + std::to_string(count) + " entries needs " +
                         std::to_string(needed) + " bytes, " + std::to_string(reserved) +
                         " were kept");
  }
  writeHeaderAt(at, count);
}

void MsgPackWriter::writeHeaderAt(size_t at, size_t count) {
  size_t end = size_;
  size_ = at;
  writeArrayHeader(count);
  size_ = end;
}

uint8_t* MsgPackWriter::release() {
  size_t n = size();
  char* block;
  if (buf_ == inline_) {
    block = static_cast<char*>(std::malloc(n));
    if (block == nullptr) throw std::bad_alloc();
    // Knowing that the length is bounded, GCC would copy with an inline `rep movsq`, whose
    // start-up alone costs as much as the C library's vector copy of a whole small document
    // (profiled: 3 to 4% of a small statement's time); hiding the bound keeps the call.
    size_t length = n;
#if defined(__GNUC__)
    asm("" : "+r"(length));
#endif
    std::memcpy(block, buf_ + begin_, length);
  } else {
    // The host frees the block from its first byte, so the document has to start there.
    if (begin_ != 0) std::memmove(buf_, buf_ + begin_, n);
    block = buf_;
    if (cap_ - n > cap_ / 32) {
      // Give back the unused tail; shrinking happens in place.
      if (char* shrunk = static_cast<char*>(std::realloc(buf_, n))) block = shrunk;
    }
  }
  buf_ = inline_;
  cap_ = kInlineBytes;
  size_ = 0;
  begin_ = 0;
  return reinterpret_cast<uint8_t*>(block);
}

namespace {

// The signed 64-bit rule, through a local pointer: stores through the buffer's char pointer
// would otherwise make the compiler reload the writer's fields after every byte.
char* putInt(char* p, int64_t v) {
  auto be = [&p](uint64_t x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) *p++ = static_cast<char>(x >> (8 * i));
  };
  const uint64_t u = static_cast<uint64_t>(v);
  if (v >= 0) {
    if (u <= 127) {
      *p++ = static_cast<char>(u);
    } else if (u <= 0xff) {
      *p++ = static_cast<char>(0xcc);
      be(u, 1);
    } else if (u <= 0xffff) {
      *p++ = static_cast<char>(0xcd);
      be(u, 2);
    } else if (u <= 0xffffffffULL) {
      *p++ = static_cast<char>(0xce);
      be(u, 4);
    } else {
      *p++ = static_cast<char>(0xcf);
      be(u, 8);
    }
  } else if (v >= -32) {
    *p++ = static_cast<char>(u);
  } else if (v >= -128) {
    *p++ = static_cast<char>(0xd0);
    be(u, 1);
  } else if (v >= -32768) {
    *p++ = static_cast<char>(0xd1);
    be(u, 2);
  } else if (v >= -2147483648LL) {
    *p++ = static_cast<char>(0xd2);
    be(u, 4);
  } else {
    *p++ = static_cast<char>(0xd3);
    be(u, 8);
  }
  return p;
}

}  // namespace

char* MsgPackWriter::putSpanGeneral(char* p, bool withKey, int64_t startLine, int64_t startColumn,
                                    int64_t endLine, int64_t endColumn) {
  if (withKey) p = putText(p, kSpanKey);
  p = putInt(putText(p, kStartLine), startLine);
  p = putInt(putText(p, kColumnKey), startColumn);
  p = putInt(putText(p, kEndLine), endLine);
  return putInt(putText(p, kColumnKey), endColumn);
}

void MsgPackWriter::checkLimit() const {
  if (size() > limit_) raiseTooLarge();
}

void MsgPackWriter::raiseTooLarge() const {
  throw InternalDefect("value out of range: the document exceeds " + std::to_string(limit_) +
                       " bytes, the most that data_len can describe");
}

}  // namespace quorix
