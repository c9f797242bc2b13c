// An append-only MessagePack writer: smallest forms for lengths and integers, str8 for strings
// of 32..255 bytes, doubles always as float64. The only bytes written out of order are the
// headers of arrays whose count is known at their end, kept exactly as long as that count needs.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace quorix {

// A string of at most 31 bytes, packed at compile time with its fixstr header, so that keys and
// variant names cost one memcpy.
template <size_t N>
struct PackedStr {
  char bytes[N];
  static constexpr size_t size = N;
};

template <size_t N>
consteval PackedStr<N> packed(const char (&text)[N]) {
  static_assert(N - 1 <= 31, "only fixstr keys are precomputed");
  PackedStr<N> p{};
  p.bytes[0] = static_cast<char>(0xa0 + (N - 1));
  for (size_t i = 0; i + 1 < N; ++i) p.bytes[i + 1] = text[i];
  return p;
}

// Byte strings joined at compile time, so that a run of fixed keys, headers and variant names
// between two values is written with one capacity check and one copy.
template <size_t... N>
consteval PackedStr<(N + ...)> cat(const PackedStr<N>&... parts) {
  PackedStr<(N + ...)> out{};
  size_t at = 0;
  ((std::copy(parts.bytes, parts.bytes + N, out.bytes + at), at += N), ...);
  return out;
}

consteval PackedStr<1> fixmap(size_t n) { return {{static_cast<char>(0x80 | n)}}; }
consteval PackedStr<1> fixarray(size_t n) { return {{static_cast<char>(0x90 | n)}}; }
inline constexpr PackedStr<1> kNilByte{{static_cast<char>(0xc0)}};
inline constexpr PackedStr<1> kFalseByte{{static_cast<char>(0xc2)}};
inline constexpr PackedStr<1> kTrueByte{{static_cast<char>(0xc3)}};

// The parts joined, as one constant: w.writeRaw(kSeq<fixmap(2), key::kind>).
template <auto... Parts>
inline constexpr auto kSeq = cat(Parts...);

// The fixed pieces of a span entry around its four numbers.
namespace span_bytes {
inline constexpr char kSpanKey[] = "\xa4span";
inline constexpr char kStartLine[] = "\x82\xa5start\x82\xa4line";
// (0xa6 and 0xa3 in octal: a hex escape would swallow the letters after it.)
inline constexpr char kColumnKey[] = "\246column";
inline constexpr char kEndLine[] = "\243end\x82\xa4line";
}  // namespace span_bytes

// A span entry on one line: the fixed bytes, with the numbers left as zeros. Each number's
// width is fixed by the pattern: 1 for a positive fixint, 2 for 0xcc and one byte, 3 for 0xcd
// and two.
template <size_t LineBytes, size_t StartColumnBytes = 1, size_t EndColumnBytes = 1>
constexpr std::array<char, 42 + 2 * LineBytes + StartColumnBytes + EndColumnBytes>
spanPatternOnLine() {
  std::array<char, 42 + 2 * LineBytes + StartColumnBytes + EndColumnBytes> out{};
  size_t at = 0;
  auto text = [&](std::string_view t) {
    for (char c : t) out[at++] = c;
  };
  auto number = [&](size_t bytes) {
    if (bytes > 1) out[at] = static_cast<char>(bytes == 2 ? 0xcc : 0xcd);
    at += bytes;
  };
  text(span_bytes::kSpanKey);
  text(span_bytes::kStartLine);
  number(LineBytes);
  text(span_bytes::kColumnKey);
  number(StartColumnBytes);
  text(span_bytes::kEndLine);
  number(LineBytes);
  text(span_bytes::kColumnKey);
  number(EndColumnBytes);
  return out;
}

class MsgPackWriter {
 public:
  static constexpr size_t kDefaultLimit = 2147483647;  // what ParseResult::data_len can hold
  // Documents up to this size are built inside the writer object itself (on the caller's
  // stack), so a short statement costs no heap traffic beyond the block handed to the host.
  static constexpr size_t kInlineBytes = 8 * 1024;

  explicit MsgPackWriter(size_t reserve = 256, size_t limit = kDefaultLimit);
  ~MsgPackWriter() {
    if (buf_ != inline_) std::free(buf_);
  }
  MsgPackWriter(const MsgPackWriter&) = delete;
  MsgPackWriter& operator=(const MsgPackWriter&) = delete;

  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(buf_ + begin_); }
  size_t size() const { return size_ - begin_; }
  size_t capacity() const { return cap_; }
  // Raises the range fault when the document is longer than the limit.
  void checkLimit() const;

  // For an array whose count is known only at its end: `reserveFront` (on an empty writer)
  // keeps `bytes` for the header, `writeFrontArrayHeader` fills it in once the count is known.
  // The header ends where the reserved bytes end; if it is shorter than they are, the document
  // starts a little later (data() knows where).
  void reserveFront(size_t bytes);
  // Makes the reservation `bytes` long, moving what is written so far up when it was shorter.
  void widenFront(size_t bytes);
  void writeFrontArrayHeader(size_t count);

  // The same for an array inside the document (a long list written while its end is still
  // being read): `reserveArrayHeader` keeps `bytes` at the current end and returns where they
  // are; `widenArrayHeader` makes them `to` bytes long, moving what follows them up; once the
  // count is known, `writeArrayHeaderAt` fills them in, and the count's header must be exactly
  // as long as the bytes kept. Places stay valid while the writer grows (they are offsets), but
  // not across widenFront.
  // The length of the smallest header of an array of `count` entries.
  static constexpr size_t arrayHeaderBytes(size_t count) {
    return count <= 15 ? 1 : count <= 0xffff ? 3 : 5;
  }
  size_t reserveArrayHeader(size_t bytes) {
    ensure(bytes);
    const size_t at = size_;
    size_ += bytes;
    return at;
  }
  void widenArrayHeader(size_t at, size_t from, size_t to);
  void writeArrayHeaderAt(size_t at, size_t reserved, size_t count);

  // The expected final size: growth goes straight there instead of doubling, so the buffer
  // ends close to the document's size.
  void expectTotal(size_t bytes) { expected_ = bytes; }

  // Hands the document over as one malloc'd block of exactly size() bytes, for free() to
  // release; a buffer already on the heap changes hands without a copy. The writer is empty
  // afterwards. Throws bad_alloc.
  uint8_t* release();

  void writeNil() { put(0xc0); }
  void writeBool(bool v) { put(v ? 0xc3 : 0xc2); }

  void writeString(std::string_view s) {
    size_t n = s.size();
    ensure(n + 5);
    if (n <= 31) {
      putUnchecked(static_cast<uint8_t>(0xa0 | n));
    } else if (n <= 0xff) {
      putUnchecked(0xd9);
      putUnchecked(static_cast<uint8_t>(n));
    } else if (n <= 0xffff) {
      putUnchecked(0xda);
      putBE16(static_cast<uint16_t>(n));
    } else {
      putUnchecked(0xdb);
      putBE32(static_cast<uint32_t>(n));
    }
    copyShort(buf_ + size_, s.data(), n);
    size_ += n;
  }

  template <size_t N>
  void writeRaw(const PackedStr<N>& p) {
    ensure(N);
    std::memcpy(buf_ + size_, p.bytes, N);
    size_ += N;
  }

  void writeArrayHeader(size_t n) { writeHeader(n, 0x90, 0xdc, 0xdd); }
  void writeMapHeader(size_t n) { writeHeader(n, 0x80, 0xde, 0xdf); }

  void writeInt(int64_t v) {
    ensure(9);
    intUnchecked(v);
  }

  void writeUInt32(uint32_t v) {
    ensure(5);
    writeUnsigned(v);
  }

  // A run of writes with one capacity check and the position kept in a register. Through the
  // member functions above, each write loads the position that the previous one stored, and
  // that store-to-load round trip, not the copying, bounds how fast a document is written.
  // `open` makes room for at most `bytes` and returns where writing goes on; the put functions
  // below write at a position and return the one after; `close` takes the end back. Nothing
  // else may write in between.
  char* open(size_t bytes) {
    ensure(bytes);
    return buf_ + size_;
  }
  void close(const char* p) { size_ = static_cast<size_t>(p - buf_); }

  template <size_t N>
  static char* put(char* p, const PackedStr<N>& bytes) {
    std::memcpy(p, bytes.bytes, N);
    return p + N;
  }
  // A string of at most 31 bytes, as a fixstr.
  static char* putFixStr(char* p, std::string_view s) {
    *p = static_cast<char>(0xa0 | s.size());
    copyShort(p + 1, s.data(), s.size());
    return p + 1 + s.size();
  }
  // An array header, in at most 5 bytes.
  static char* putArrayHeader(char* p, size_t n) {
    if (n <= 15) [[likely]] {
      *p = static_cast<char>(0x90 | n);
      return p + 1;
    }
    if (n <= 0xffff) {
      p[0] = static_cast<char>(0xdc);
      p[1] = static_cast<char>(n >> 8);
      p[2] = static_cast<char>(n);
      return p + 3;
    }
    p[0] = static_cast<char>(0xdd);
    p[1] = static_cast<char>(n >> 24);
    p[2] = static_cast<char>(n >> 16);
    p[3] = static_cast<char>(n >> 8);
    p[4] = static_cast<char>(n);
    return p + 5;
  }

  // The most a span entry takes: its fixed 42 bytes and four numbers of up to 9.
  static constexpr size_t kSpanEntryBytes = 42 + 4 * 9;

  // The key "span" and then the span map {"start": {"line", "column"}, "end": {"line",
  // "column"}}: the closing entry of nearly every node's map, and the most frequent value of
  // every document. At most kSpanEntryBytes.
  char* putSpanEntry(char* p, int64_t startLine, int64_t startColumn, int64_t endLine,
                     int64_t endColumn) {
    if ((static_cast<uint64_t>(startLine) | static_cast<uint64_t>(startColumn) |
         static_cast<uint64_t>(endLine) | static_cast<uint64_t>(endColumn)) <= 127) [[likely]] {
      std::memcpy(p, kSmallPattern.data(), kSmallPattern.size());
      p[18] = static_cast<char>(startLine);
      p[26] = static_cast<char>(startColumn);
      p[37] = static_cast<char>(endLine);
      p[45] = static_cast<char>(endColumn);
      return p + kSmallPattern.size();
    }
    return putSpanEntryBeyond127(p, startLine, startColumn, endLine, endColumn);
  }

  void writeSpanEntry(int64_t startLine, int64_t startColumn, int64_t endLine, int64_t endColumn) {
    close(putSpanEntry(open(kSpanEntryBytes), startLine, startColumn, endLine, endColumn));
  }

  // Fixed bytes followed by one string: one capacity check for both.
  template <size_t N>
  void writeRawThenString(const PackedStr<N>& p, std::string_view s) {
    if (s.size() <= 31) [[likely]] {
      ensure(N + 1 + s.size());
      std::memcpy(buf_ + size_, p.bytes, N);
      buf_[size_ + N] = static_cast<char>(0xa0 | s.size());
      copyShort(buf_ + size_ + N + 1, s.data(), s.size());
      size_ += N + 1 + s.size();
      return;
    }
    writeRaw(p);
    writeString(s);
  }

  // Fixed bytes, a string, fixed bytes: one run when the string is a fixstr.
  template <size_t N, size_t M>
  void writeRawStringRaw(const PackedStr<N>& before, std::string_view s,
                         const PackedStr<M>& after) {
    if (s.size() <= 31) [[likely]] {
      close(put(putFixStr(put(open(N + 32 + M), before), s), after));
      return;
    }
    writeRawThenString(before, s);
    writeRaw(after);
  }

  // Fixed bytes, then an array header: one run.
  template <size_t N>
  void writeRawThenArrayHeader(const PackedStr<N>& p, size_t n) {
    close(putArrayHeader(put(open(N + 5), p), n));
  }

  // Fixed bytes, then a short string that `format(char* out)` writes in place and whose length
  // (at most 31, at most Room) it returns: numbers go straight into the document, with no
  // scratch copy to read back.
  template <size_t Room, size_t N, typename Format>
  void writeRawThenText(const PackedStr<N>& p, Format&& format) {
    static_assert(Room <= 255);
    ensure(N + 1 + Room);
    char* out = buf_ + size_;
    std::memcpy(out, p.bytes, N);
    size_t n = format(out + N + 1);
    out[N] = static_cast<char>(0xa0 | n);
    size_ += N + 1 + n;
  }

  void writeSpanMap(int64_t startLine, int64_t startColumn, int64_t endLine, int64_t endColumn) {
    close(putSpanGeneral(open(kSpanEntryBytes), false, startLine, startColumn, endLine, endColumn));
  }

  void writeDouble(double d) {
    ensure(9);
    putUnchecked(0xcb);
    putBE64(std::bit_cast<uint64_t>(d));
  }

  // A run of float 64 values, as writeDouble would write them one by one.
  void writeDoubles(const double* values, size_t n) {
    ensure(9 * n);
    char* p = buf_ + size_;
    for (size_t i = 0; i < n; ++i, p += 9) {
      const uint64_t be = __builtin_bswap64(std::bit_cast<uint64_t>(values[i]));
      p[0] = static_cast<char>(0xcb);
      std::memcpy(p + 1, &be, 8);
    }
    size_ += 9 * n;
  }

 private:
  // Names and short literals dominate: copy them with a pair of overlapping loads and stores
  // (reading only the n source bytes) instead of a call into the C library.
  static void copyShort(char* to, const char* from, size_t n) {
    if (n >= 8 && n <= 16) {
      uint64_t a, b;
      std::memcpy(&a, from, 8);
      std::memcpy(&b, from + n - 8, 8);
      std::memcpy(to, &a, 8);
      std::memcpy(to + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
      uint32_t a, b;
      std::memcpy(&a, from, 4);
      std::memcpy(&b, from + n - 4, 4);
      std::memcpy(to, &a, 4);
      std::memcpy(to + n - 4, &b, 4);
    } else if (n < 4) {
      if (n != 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
      }
    } else {
      std::memcpy(to, from, n);
    }
  }

  // Lines and columns: below 128 as one byte, up to 65535 in three, inline; the rest out of
  // line.
  void intUnchecked(int64_t v) {
    if (static_cast<uint64_t>(v) <= 127) [[likely]] {
      putUnchecked(static_cast<uint8_t>(v));
    } else if (static_cast<uint64_t>(v) <= 0xff) {
      putUnchecked(0xcc);
      putUnchecked(static_cast<uint8_t>(v));
    } else if (static_cast<uint64_t>(v) <= 0xffff) {
      putUnchecked(0xcd);
      putBE16(static_cast<uint16_t>(v));
    } else {
      intUncheckedWide(v);
    }
  }

  [[gnu::noinline]] void intUncheckedWide(int64_t v) {
    if (v >= 0) {
      writeUnsigned(static_cast<uint64_t>(v));
    } else if (v >= -32) {
      putUnchecked(static_cast<uint8_t>(v));
    } else if (v >= -128) {
      putUnchecked(0xd0);
      putUnchecked(static_cast<uint8_t>(v));
    } else if (v >= -32768) {
      putUnchecked(0xd1);
      putBE16(static_cast<uint16_t>(v));
    } else if (v >= -2147483648LL) {
      putUnchecked(0xd2);
      putBE32(static_cast<uint32_t>(v));
    } else {
      putUnchecked(0xd3);
      putBE64(static_cast<uint64_t>(v));
    }
  }

  void writeUnsigned(uint64_t v) {
    if (v <= 127) {
      putUnchecked(static_cast<uint8_t>(v));
    } else if (v <= 0xff) {
      putUnchecked(0xcc);
      putUnchecked(static_cast<uint8_t>(v));
    } else if (v <= 0xffff) {
      putUnchecked(0xcd);
      putBE16(static_cast<uint16_t>(v));
    } else if (v <= 0xffffffffULL) {
      putUnchecked(0xce);
      putBE32(static_cast<uint32_t>(v));
    } else {
      putUnchecked(0xcf);
      putBE64(v);
    }
  }

  void writeHeader(size_t n, uint8_t fix, uint8_t b16, uint8_t b32) {
    ensure(5);
    if (n <= 15) {
      putUnchecked(static_cast<uint8_t>(fix | n));
    } else if (n <= 0xffff) {
      putUnchecked(b16);
      putBE16(static_cast<uint16_t>(n));
    } else {
      putUnchecked(b32);
      putBE32(static_cast<uint32_t>(n));
    }
  }

  void put(uint8_t b) {
    ensure(1);
    putUnchecked(b);
  }
  void putUnchecked(uint8_t b) { buf_[size_++] = static_cast<char>(b); }
  void putBE16(uint16_t v) {
    v = static_cast<uint16_t>((v >> 8) | (v << 8));
    std::memcpy(buf_ + size_, &v, 2);
    size_ += 2;
  }
  void putBE32(uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(buf_ + size_, &v, 4);
    size_ += 4;
  }
  void putBE64(uint64_t v) {
    v = __builtin_bswap64(v);
    std::memcpy(buf_ + size_, &v, 8);
    size_ += 8;
  }

  void ensure(size_t extra) {
    if (cap_ - size_ < extra) [[unlikely]]
      grow(extra);
  }
  void grow(size_t extra);
  [[noreturn]] void raiseTooLarge() const;
  void writeHeaderAt(size_t at, size_t count);
  // The span entries with a number past 127: out of line, so that the many places that write
  // a span entry stay small.
  [[gnu::noinline]] static char* putSpanEntryBeyond127(char* p, int64_t startLine,
                                                       int64_t startColumn, int64_t endLine,
                                                       int64_t endColumn) {
    if (startLine == endLine && static_cast<uint64_t>(startLine) <= 0xffff &&
        (static_cast<uint64_t>(startColumn) | static_cast<uint64_t>(endColumn)) <= 127) {
      // Past line 127 of a text of short lines: the line takes two or three bytes, the columns
      // one each.
      if (startLine <= 0xff) {
        std::memcpy(p, kLine8Pattern.data(), kLine8Pattern.size());
        p[19] = p[39] = static_cast<char>(startLine);
        p[27] = static_cast<char>(startColumn);
        p[47] = static_cast<char>(endColumn);
        return p + kLine8Pattern.size();
      }
      std::memcpy(p, kLine16Pattern.data(), kLine16Pattern.size());
      p[19] = p[40] = static_cast<char>(startLine >> 8);
      p[20] = p[41] = static_cast<char>(startLine);
      p[28] = static_cast<char>(startColumn);
      p[49] = static_cast<char>(endColumn);
      return p + kLine16Pattern.size();
    }
    if (startLine == endLine && static_cast<uint64_t>(startLine) <= 127 &&
        (static_cast<uint64_t>(startColumn) | static_cast<uint64_t>(endColumn)) <= 0xffff) {
      // A long line among the first 127: each column is one of three widths, so one of nine
      // fixed layouts with holes (columns only grow along a line, so six are ever used).
      static constexpr auto kWriters = []<size_t... Pair>(std::index_sequence<Pair...>) {
        return std::array<char* (*)(char*, char, uint32_t, uint32_t), sizeof...(Pair)>{
            &putSpanOnShortLine<Pair / 3 + 1, Pair % 3 + 1>...};
      }
      (std::make_index_sequence<9>{});
      const auto start = static_cast<uint32_t>(startColumn);
      const auto end = static_cast<uint32_t>(endColumn);
      return kWriters[(numberWidth(start) - 1) * 3 + numberWidth(end) - 1](
          p, static_cast<char>(startLine), start, end);
    }
    if (startLine == endLine &&
        (static_cast<uint64_t>(startLine) | static_cast<uint64_t>(startColumn) |
         static_cast<uint64_t>(endColumn)) <= 0xffff) {
      return putSpanEntryOnLine(p, static_cast<uint32_t>(startLine),
                                static_cast<uint32_t>(startColumn),
                                static_cast<uint32_t>(endColumn));
    }
    return putSpanGeneral(p, true, startLine, startColumn, endLine, endColumn);
  }

  // How many bytes a number up to 65535 takes as a MessagePack unsigned integer.
  static constexpr size_t numberWidth(uint32_t v) {
    return size_t{1} + size_t{v > 127} + size_t{v > 0xff};
  }

  // Fills a number hole of a precomputed layout (whose marker byte is already in place).
  template <size_t Width>
  static void fillNumber(char* at, uint32_t v) {
    if constexpr (Width == 1) {
      at[0] = static_cast<char>(v);
    } else if constexpr (Width == 2) {
      at[1] = static_cast<char>(v);
    } else {
      at[1] = static_cast<char>(v >> 8);
      at[2] = static_cast<char>(v);
    }
  }

  template <size_t StartWidth, size_t EndWidth>
  static char* putSpanOnShortLine(char* p, char line, uint32_t startColumn, uint32_t endColumn) {
    static constexpr auto kPattern = spanPatternOnLine<1, StartWidth, EndWidth>();
    constexpr size_t kLineAt = sizeof kSpanKey - 1 + sizeof kStartLine - 1;
    constexpr size_t kStartAt = kLineAt + 1 + sizeof kColumnKey - 1;
    constexpr size_t kEndLineAt = kStartAt + StartWidth + sizeof kEndLine - 1;
    constexpr size_t kEndAt = kEndLineAt + 1 + sizeof kColumnKey - 1;
    std::memcpy(p, kPattern.data(), kPattern.size());
    p[kLineAt] = p[kEndLineAt] = line;
    fillNumber<StartWidth>(p + kStartAt, startColumn);
    fillNumber<EndWidth>(p + kEndAt, endColumn);
    return p + kPattern.size();
  }

  // A span within one line, with numbers up to 65535: in a long text or a long line, most
  // spans that miss the all-small pattern.
  static char* putSpanEntryOnLine(char* p, uint32_t line, uint32_t startColumn,
                                  uint32_t endColumn) {
    char lineBytes[4], startBytes[4], endBytes[4];
    const size_t lineLength = smallUInt(line, lineBytes);
    const size_t startLength = smallUInt(startColumn, startBytes);
    const size_t endLength = smallUInt(endColumn, endBytes);
    p = putText(putText(p, kSpanKey), kStartLine);
    p = putPadded(p, lineBytes, lineLength);
    p = putPadded(putText(p, kColumnKey), startBytes, startLength);
    p = putPadded(putText(p, kEndLine), lineBytes, lineLength);
    return putPadded(putText(p, kColumnKey), endBytes, endLength);
  }

  static constexpr auto& kSpanKey = span_bytes::kSpanKey;
  static constexpr auto& kStartLine = span_bytes::kStartLine;
  static constexpr auto& kColumnKey = span_bytes::kColumnKey;
  static constexpr auto& kEndLine = span_bytes::kEndLine;

  static constexpr auto kSmallPattern = spanPatternOnLine<1>();
  static constexpr auto kLine8Pattern = spanPatternOnLine<2>();
  static constexpr auto kLine16Pattern = spanPatternOnLine<3>();

  // Fixed text without its terminator; returns the position after it.
  template <size_t N>
  static char* putText(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
  }

  // A number padded to four bytes, copied as one word; the position advances by its length.
  static char* putPadded(char* p, const char* bytes, size_t length) {
    std::memcpy(p, bytes, 4);
    return p + length;
  }

  // A number up to 65535 in its smallest unsigned form, padded to four bytes; returns its length.
  static size_t smallUInt(uint32_t v, char* out) {
    if (v <= 127) {
      out[0] = static_cast<char>(v);
      out[1] = out[2] = out[3] = 0;
      return 1;
    }
    if (v <= 0xff) {
      out[0] = static_cast<char>(0xcc);
      out[1] = static_cast<char>(v);
      out[2] = out[3] = 0;
      return 2;
    }
    out[0] = static_cast<char>(0xcd);
    out[1] = static_cast<char>(v >> 8);
    out[2] = static_cast<char>(v);
    out[3] = 0;
    return 3;
  }

  // Any span map, optionally after the key "span": the path for numbers of 128 and more.
  // Writes at most kSpanEntryBytes at `p` and returns the position after them.
  [[gnu::noinline]] static char* putSpanGeneral(char* p, bool withKey, int64_t startLine,
                                                int64_t startColumn, int64_t endLine,
                                                int64_t endColumn);

  char* buf_;
  size_t size_ = 0;
  size_t cap_;
  size_t limit_;
  size_t begin_ = 0;     // where the document starts in buf_ (see reserveFront)
  size_t front_ = 0;     // bytes reserved for the front header
  size_t expected_ = 0;  // the caller's estimate of the final size; 0 for none
  char inline_[kInlineBytes];
};

}  // namespace quorix
