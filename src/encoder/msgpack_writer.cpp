#include "encoder/msgpack_writer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "common/errors.h"
#include "encoder/kept_block.h"

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
    // The block a host released last on this thread, if it is big enough, has its pages in
    // place already (see kept_block.h).
    size_t kept = 0;
    p = takeKeptBlock(needed, kept);
    if (p != nullptr) {
      cap = kept;
    } else {
      p = static_cast<char*>(std::malloc(cap));
    }
    if (p != nullptr) std::memcpy(p, buf_, size_);
  } else {
    p = static_cast<char*>(std::realloc(buf_, cap));
  }
  if (p == nullptr) throw std::bad_alloc();
  buf_ = p;
  cap_ = cap;
  adviseHugePages();
}

void MsgPackWriter::adviseHugePages() const {
#ifdef MADV_HUGEPAGE
  // A block this large is one that malloc maps afresh on most calls (past the mapping
  // threshold glibc has adapted to), so each 4 KiB page faults in on its first write: huge
  // pages fault in 512 times more rarely. The advice covers every page the block touches, so
  // that a mapped block stays one mapping and glibc can still grow it with mremap instead of a
  // copy. Advice only: where the kernel has huge pages switched off, nothing changes.
  if (cap_ < kHugePageAdviceBytes) return;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto from = reinterpret_cast<uintptr_t>(buf_) & ~(page - 1);
  const auto to = (reinterpret_cast<uintptr_t>(buf_) + cap_ + page - 1) & ~(page - 1);
  madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
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
    if (cap_ - n > cap_ / 8) {
      // Give back an unused tail worth giving back; shrinking happens in place. A tail of the
      // size that estimates leave (a sixteenth) stays: glibc raises its mapping threshold to
      // the size of a mapped block when it is freed, and a block cut down to the document
      // would set it just below the next call's request for the same text, so that call would
      // be mapped (and fault in) afresh instead of reusing the heap. Measured on 1 MiB of
      // short statements with glibc's defaults: 106 MB/s cutting every tail, 259 without.
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

namespace {

// A span's number: nearly always below 65536.
[[gnu::always_inline]] inline char* putSpanNumber(char* p, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  if (u <= 127) {
    *p = static_cast<char>(u);
    return p + 1;
  }
  if (u <= 0xff) {
    p[0] = static_cast<char>(0xcc);
    p[1] = static_cast<char>(u);
    return p + 2;
  }
  if (u <= 0xffff) {
    p[0] = static_cast<char>(0xcd);
    p[1] = static_cast<char>(u >> 8);
    p[2] = static_cast<char>(u);
    return p + 3;
  }
  return putInt(p, v);
}

// The small entry's fixed bytes from `From` up to `To`.
template <size_t From, size_t To>
char* putSpanPiece(char* p) {
  std::memcpy(p, kSmallSpanEntry + From, To - From);
  return p + (To - From);
}

// The small entry with both lines `LineBytes` wide (0xcc or 0xcd and the number).
template <size_t LineBytes>
constexpr auto kSpanOnLinePattern = [] {
  std::array<char, kSmallSpanBytes + 2 * (LineBytes - 1)> out{};
  size_t at = 0;
  for (size_t i = 0; i < kSmallSpanBytes; ++i) {
    if (i == kSmallSpanStartLine || i == kSmallSpanEndLine) {
      out[at] = static_cast<char>(LineBytes == 2 ? 0xcc : 0xcd);
      at += LineBytes;
    } else {
      out[at++] = kSmallSpanEntry[i];
    }
  }
  return out;
}();

template <size_t LineBytes>
char* putSpanOnLine(char* p, uint64_t line, int64_t startColumn, int64_t endColumn) {
  constexpr auto& pattern = kSpanOnLinePattern<LineBytes>;
  constexpr size_t wider = LineBytes - 1;
  std::memcpy(p, pattern.data(), pattern.size());
  for (size_t at : {kSmallSpanStartLine, kSmallSpanEndLine + wider}) {
    if constexpr (LineBytes == 3) p[at + 1] = static_cast<char>(line >> 8);
    p[at + LineBytes - 1] = static_cast<char>(line);
  }
  p[kSmallSpanStartColumn + wider] = static_cast<char>(startColumn);
  p[kSmallSpanEndColumn + 2 * wider] = static_cast<char>(endColumn);
  return p + pattern.size();
}

}  // namespace

char* MsgPackWriter::putSpan(char* p, int64_t startLine, int64_t startColumn, int64_t endLine,
                             int64_t endColumn) {
  // Past line 127 of a text of short lines, where most spans are, only the lines are wider than
  // in the small entry, and a layout of its own pays: without it, a text of short statements
  // takes 4% more instructions and a long INSERT 5% more.
  const auto line = static_cast<uint64_t>(startLine);
  if (startLine == endLine && line <= 0xffff &&
      (static_cast<uint64_t>(startColumn) | static_cast<uint64_t>(endColumn)) <= 127) {
    return line <= 0xff ? putSpanOnLine<2>(p, line, startColumn, endColumn)
                        : putSpanOnLine<3>(p, line, startColumn, endColumn);
  }
  p = putSpanNumber(putSpanPiece<0, kSmallSpanStartLine>(p), startLine);
  p = putSpanNumber(putSpanPiece<kSmallSpanStartLine + 1, kSmallSpanStartColumn>(p), startColumn);
  p = putSpanNumber(putSpanPiece<kSmallSpanStartColumn + 1, kSmallSpanEndLine>(p), endLine);
  return putSpanNumber(putSpanPiece<kSmallSpanEndLine + 1, kSmallSpanEndColumn>(p), endColumn);
}

char* MsgPackWriter::longString(MsgPackWriter& w, char* p, size_t rest, std::string_view s) {
  const size_t n = s.size();
  w.size_ = static_cast<size_t>(p - w.buf_);
  w.ensure(5 + n + rest);
  p = w.buf_ + w.size_;
  if (n <= 0xff) {
    *p++ = static_cast<char>(0xd9);
  } else {
    *p++ = static_cast<char>(n <= 0xffff ? 0xda : 0xdb);
    if (n > 0xffff) {
      *p++ = static_cast<char>(n >> 24);
      *p++ = static_cast<char>(n >> 16);
    }
    *p++ = static_cast<char>(n >> 8);
  }
  *p++ = static_cast<char>(n);
  std::memcpy(p, s.data(), n);
  return p + n;
}

void MsgPackWriter::writeInt(int64_t v) {
  ensure(9);
  size_ = static_cast<size_t>(putInt(buf_ + size_, v) - buf_);
}

void MsgPackWriter::writeMapHeader(size_t n) {
  ensure(5);
  if (n <= 15) {
    buf_[size_++] = static_cast<char>(0x80 | n);
  } else {
    size_ = static_cast<size_t>(putLongHeader(buf_ + size_, n, 0xde) - buf_);
  }
}

char* MsgPackWriter::putLongHeader(char* p, size_t n, uint8_t marker16) {
  if (n <= 0xffff) {
    p[0] = static_cast<char>(marker16);
    p[1] = static_cast<char>(n >> 8);
    p[2] = static_cast<char>(n);
    return p + 3;
  }
  p[0] = static_cast<char>(marker16 + 1);
  p[1] = static_cast<char>(n >> 24);
  p[2] = static_cast<char>(n >> 16);
  p[3] = static_cast<char>(n >> 8);
  p[4] = static_cast<char>(n);
  return p + 5;
}

void MsgPackWriter::raiseOverrun(size_t left, size_t wanted) {
  throw InternalDefect("a run of writes overruns its room: " + std::to_string(wanted) +
                       " bytes wanted, " + std::to_string(left) + " left");
}

namespace {

// Reads the head of the value at `p` (before `end`): returns the position after its own bytes,
// and for an array or map the number of values inside it (a map's keys and values both count);
// nullptr for bytes that are no form the writer uses or that run past the end.
const unsigned char* readHead(const unsigned char* p, const unsigned char* end, uint64_t& inside,
                              bool& map) {
  const unsigned char b = *p++;
  auto bigEndian = [&](size_t bytes, uint64_t& out) {
    if (static_cast<size_t>(end - p) < bytes) return false;
    out = 0;
    for (size_t i = 0; i < bytes; ++i) out = out << 8 | *p++;
    return true;
  };
  uint64_t n = 0;
  inside = 0;
  map = false;
  if (b <= 0x7f || b >= 0xe0 || b == 0xc0 || b == 0xc2 || b == 0xc3) return p;
  if (b >= 0x80 && b <= 0x9f) {
    map = b <= 0x8f;
    inside = (b & 0x0f) * (map ? 2u : 1u);
    return p;
  }
  switch (b) {
    case 0xcc:
    case 0xd0:
      n = 1;
      break;
    case 0xcd:
    case 0xd1:
      n = 2;
      break;
    case 0xce:
    case 0xd2:
      n = 4;
      break;
    case 0xcf:
    case 0xd3:
    case 0xcb:
      n = 8;
      break;
    case 0xd9:
    case 0xda:
    case 0xdb:
      if (!bigEndian(size_t{1} << (b - 0xd9), n)) return nullptr;
      break;
    case 0xdc:
    case 0xdd:
      return bigEndian(b == 0xdc ? 2 : 4, inside) ? p : nullptr;
    case 0xde:
    case 0xdf:
      map = true;
      if (!bigEndian(b == 0xde ? 2 : 4, inside)) return nullptr;
      inside *= 2;
      return p;
    default:
      if (b < 0xa0 || b > 0xbf) return nullptr;
      n = b & 0x1f;
      break;
  }
  return static_cast<uint64_t>(end - p) < n ? nullptr : p + n;
}

bool isStringHead(unsigned char b) { return (b >= 0xa0 && b <= 0xbf) || (b >= 0xd9 && b <= 0xdb); }

}  // namespace

void MsgPackWriter::checkWellFormed(size_t at) const {
  // Without recursion: a document nests as deeply as the text does.
  struct Open {
    uint64_t left;  // values still to read
    bool map;
  };
  std::vector<Open> open{{1, false}};
  const auto* p = reinterpret_cast<const unsigned char*>(buf_ + at);
  const auto* end = reinterpret_cast<const unsigned char*>(buf_ + size_);
  while (p != nullptr && !open.empty()) {
    Open& top = open.back();
    if (top.left == 0) {
      open.pop_back();
      continue;
    }
    // A map's keys are at its even places counted from its end.
    if (p == end || (top.map && top.left % 2 == 0 && !isStringHead(*p))) {
      p = nullptr;
      break;
    }
    --top.left;
    uint64_t inside;
    bool map;
    p = readHead(p, end, inside, map);
    if (inside != 0) open.push_back({inside, map});
  }
  if (p != end) {
    throw InternalDefect("the bytes written from " + std::to_string(at) +
                         " are not one whole MessagePack value with string keys");
  }
}

void MsgPackWriter::checkLimit() const {
  if (size() > limit_) raiseTooLarge();
}

void MsgPackWriter::raiseTooLarge() const {
  throw InternalDefect("value out of range: the document exceeds " + std::to_string(limit_) +
                       " bytes, the most that data_len can describe");
}

}  // namespace quorix
