// An append-only MessagePack writer: smallest forms for lengths and integers, str8 for strings
// of 32..255 bytes, doubles always as float64. The only bytes written out of order are the
// headers of arrays whose count is known at their end, kept exactly as long as that count needs.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// A span entry whose four numbers are all below 128: the key "span" and the map {"start":
// {"line", "column"}, "end": {"line", "column"}} with each number a one-byte positive fixint,
// left as a zero here. The closing entry of nearly every node's map, and the most frequent
// value of every document.
inline constexpr char kSmallSpanEntry[] =
    "\xa4span\x82\xa5start\x82\xa4line\0\246column\0\243end\x82\xa4line\0\246column";
// Where the numbers go (0xa6 and 0xa3 in octal above: a hex escape would swallow the letters
// after it).
inline constexpr size_t kSmallSpanStartLine = 18, kSmallSpanStartColumn = 26,
                        kSmallSpanEndLine = 37, kSmallSpanEndColumn = 45;
// The terminator is the last number's place.
inline constexpr size_t kSmallSpanBytes = sizeof kSmallSpanEntry;
static_assert(kSmallSpanBytes == 46);

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

  // Raises InternalDefect unless the bytes from `at` to the end are one whole value whose every
  // map has the entries its header counts, each under a string key. Map headers are counted by
  // hand in the packed constants: debug builds check every statement with this.
  void checkWellFormed(size_t at) const;
  // Where the next byte goes, as a place for checkWellFormed.
  size_t mark() const { return size_; }

  // One value each (see Run for several).
  void writeNil() { run(1).raw(kNilByte); }
  void writeBool(bool v) { run(1).boolean(v); }
  void writeString(std::string_view s) { run(kStrRoom).str(s); }
  template <size_t N>
  void writeRaw(const PackedStr<N>& p) {
    run(N).raw(p);
  }
  void writeArrayHeader(size_t n) { run(kArrayHeaderRoom).arrayHeader(n); }
  void writeMapHeader(size_t n);
  // Any integer in its smallest form.
  void writeInt(int64_t v);
  void writeUInt32(uint32_t v) { writeInt(v); }
  void writeDouble(double d) { writeDoubles(&d, 1); }

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

  // What each piece of a Run may take of its room.
  static constexpr size_t kStrRoom = 32;  // a string: longer ones make their own room
  static constexpr size_t kArrayHeaderRoom = 5;
  static constexpr size_t kSpanRoom = 42 + 4 * 9;  // the fixed bytes and four numbers of up to 9

  // A run of writes with one capacity check and the position kept in a register. Through the
  // member functions above, each write loads the position that the previous one stored, and
  // that store-to-load round trip, not the copying, bounds how fast a document is written.
  // The run makes room for `room` bytes, the sum of its pieces' shares (see kStrRoom and the
  // others); debug builds check every piece against what is left. The run ends, and the writer
  // takes its end back, when it goes out of scope; nothing else may write in between.
  class Run {
   public:
    Run(MsgPackWriter& w, size_t room) : w_(w) {
      w.ensure(room);
      p_ = w.buf_ + w.size_;
      end_ = p_ + room;
    }
    ~Run() { w_.size_ = static_cast<size_t>(p_ - w_.buf_); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    template <size_t N>
    Run& raw(const PackedStr<N>& bytes) {
      use(N);
      std::memcpy(p_, bytes.bytes, N);
      p_ += N;
      return *this;
    }
    // The first `n` bytes of `bytes`, copied as all Room of them (a table entry padded to
    // Room, so that the copy has a fixed size).
    template <size_t Room>
    Run& rawPadded(const char (&bytes)[Room], size_t n) {
      use(Room);
      std::memcpy(p_, bytes, Room);
      p_ += n;
      return *this;
    }
    Run& boolean(bool v) {
      use(1);
      *p_++ = static_cast<char>(v ? 0xc3 : 0xc2);
      return *this;
    }
    // Any string, in kStrRoom of the run.
    Run& str(std::string_view s) {
      use(kStrRoom);
      if (s.size() <= 31) [[likely]] {
        *p_ = static_cast<char>(0xa0 | s.size());
        copyShort(p_ + 1, s.data(), s.size());
        p_ += 1 + s.size();
      } else {
        const auto rest = static_cast<size_t>(end_ - p_) - kStrRoom;
        p_ = longString(w_, p_, rest, s);
        end_ = p_ + rest;
      }
      return *this;
    }
    // A string of at most 31 bytes that `format(char* out)` writes in place, with Room - 1
    // bytes to work in, and whose length it returns: numbers go straight into the document, with no
    // scratch copy to read back.
    template <size_t Room, typename Format>
    Run& text(Format&& format) {
      static_assert(Room <= 33);
      use(Room);
      const size_t n = format(p_ + 1);
      *p_ = static_cast<char>(0xa0 | n);
      p_ += 1 + n;
      return *this;
    }
    Run& arrayHeader(size_t n) {
      use(kArrayHeaderRoom);
      if (n <= 15) [[likely]] {
        *p_++ = static_cast<char>(0x90 | n);
      } else {
        p_ = putLongHeader(p_, n, 0xdc);
      }
      return *this;
    }
    // The key "span" and a span map, in kSpanRoom of the run.
    Run& span(int64_t startLine, int64_t startColumn, int64_t endLine, int64_t endColumn) {
      use(kSpanRoom);
      if ((static_cast<uint64_t>(startLine) | static_cast<uint64_t>(startColumn) |
           static_cast<uint64_t>(endLine) | static_cast<uint64_t>(endColumn)) <= 127) [[likely]] {
        std::memcpy(p_, kSmallSpanEntry, kSmallSpanBytes);
        p_[kSmallSpanStartLine] = static_cast<char>(startLine);
        p_[kSmallSpanStartColumn] = static_cast<char>(startColumn);
        p_[kSmallSpanEndLine] = static_cast<char>(endLine);
        p_[kSmallSpanEndColumn] = static_cast<char>(endColumn);
        p_ += kSmallSpanBytes;
      } else {
        p_ = putSpan(p_, startLine, startColumn, endLine, endColumn);
      }
      return *this;
    }
    // The same for anything with a start and an end that have a line and a column.
    template <typename Span>
    Run& span(const Span& s) {
      return span(s.start.line, s.start.column, s.end.line, s.end.column);
    }

   private:
    void use([[maybe_unused]] size_t bytes) const {
#ifndef NDEBUG
      if (static_cast<size_t>(end_ - p_) < bytes)
        raiseOverrun(static_cast<size_t>(end_ - p_), bytes);
#endif
    }

    MsgPackWriter& w_;
    char* p_;
    char* end_;
  };

  Run run(size_t room) { return Run(*this, room); }

  void writeSpanEntry(int64_t startLine, int64_t startColumn, int64_t endLine, int64_t endColumn) {
    run(kSpanRoom).span(startLine, startColumn, endLine, endColumn);
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

  // Out of line, so that the many runs stay small, and taking and returning positions, never
  // the Run or its fields, which then stay in registers.
  // A string past 31 bytes, written at `p` of a run: the writer grows for it and for the `rest`
  // of the run's room; returns where the run goes on.
  [[gnu::noinline]] static char* longString(MsgPackWriter& w, char* p, size_t rest,
                                            std::string_view s);
  // The header of an array (`marker16` 0xdc) or map (0xde) of 16 entries or more.
  [[gnu::noinline]] static char* putLongHeader(char* p, size_t n, uint8_t marker16);
  // A span entry with a number past 127.
  [[gnu::noinline]] static char* putSpan(char* p, int64_t startLine, int64_t startColumn,
                                         int64_t endLine, int64_t endColumn);
  [[noreturn, gnu::cold, gnu::noinline]] static void raiseOverrun(size_t left, size_t wanted);

  void ensure(size_t extra) {
    if (cap_ - size_ < extra) [[unlikely]]
      grow(extra);
  }
  void grow(size_t extra);
  // From this capacity on, the buffer's pages are advised to be huge (see adviseHugePages).
  static constexpr size_t kHugePageAdviceBytes = size_t(4) << 20;
  void adviseHugePages() const;
  [[noreturn]] void raiseTooLarge() const;
  void writeHeaderAt(size_t at, size_t count);

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
