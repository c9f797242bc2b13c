// A strict reader for the documents quorix_parse_sql hands out. It accepts only the forms the
// writer is allowed to produce, each in its smallest encoding, and walks the document with an
// explicit stack so that a deep document cannot exhaust the fuzzer's own stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorix_fuzz {

struct StatementSummary {
  std::string variant;  // the "variant" of the statement's "kind" map
  int64_t startLine = 0, startColumn = 0, endLine = 0, endColumn = 0;
};

struct DocumentCheck {
  bool ok = false;
  std::string problem;  // set when !ok: what is wrong and at which byte offset
  std::vector<StatementSummary> statements;
  std::vector<std::string> numbers;  // the "value" texts of every "Number" literal, in order
};

namespace detail {

enum class Type { Nil, Bool, Int, Double, Str, Array, Map };

struct Item {
  Type type = Type::Nil;
  int64_t integer = 0;  // Int (unsigned 64-bit values above INT64_MAX are refused)
  std::string_view str;
  uint32_t count = 0;  // Array entries, Map pairs
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t offset() const { return pos_; }
  bool atEnd() const { return pos_ == size_; }
  const std::string& problem() const { return problem_; }

  // Reads one value header (a string whole); false with problem() set on any violation.
  bool next(Item& item) {
    if (pos_ >= size_) return fail("truncated document");
    const size_t at = pos_;
    const uint8_t b = data_[pos_++];
    item = Item{};
    if (b <= 0x7f) return integer(item, b);
    if (b >= 0xe0) return integer(item, static_cast<int8_t>(b));
    if (b >= 0xa0 && b <= 0xbf) return string(item, b & 0x1fu, 0);
    if (b >= 0x90 && b <= 0x9f) return container(item, Type::Array, b & 0x0fu, 0);
    if (b >= 0x80 && b <= 0x8f) return container(item, Type::Map, b & 0x0fu, 0);
    uint64_t v = 0;
    switch (b) {
      case 0xc0:
        item.type = Type::Nil;
        return true;
      case 0xc2:
      case 0xc3:
        item.type = Type::Bool;
        item.integer = b == 0xc3;
        return true;
      case 0xcb:
        item.type = Type::Double;
        return big(8, v);
      case 0xcc:
      case 0xcd:
      case 0xce:
      case 0xcf: {
        static constexpr uint64_t kMin[] = {0x80, 0x100, 0x10000, 0x100000000};
        if (!big(size_t(1) << (b - 0xcc), v)) return false;
        if (v < kMin[b - 0xcc]) return fail("unsigned integer not in its smallest form", at);
        if (v > uint64_t(INT64_MAX)) return fail("unsigned integer above INT64_MAX", at);
        return integer(item, static_cast<int64_t>(v));
      }
      case 0xd0:
      case 0xd1:
      case 0xd2:
      case 0xd3: {
        const unsigned width = 1u << (b - 0xd0);
        if (!big(width, v)) return false;
        int64_t s = static_cast<int64_t>(v);
        if (width < 8 && (v >> (8 * width - 1)) != 0) s -= int64_t(1) << (8 * width);
        // Non-negative values belong in the unsigned forms; each signed form must be the
        // narrowest that holds the value.
        static constexpr int64_t kMax[] = {-33, -129, -32769, -2147483649LL};
        if (s > kMax[b - 0xd0]) return fail("signed integer not in its smallest form", at);
        return integer(item, s);
      }
      case 0xd9:
        return big(1, v) && string(item, v, 32);
      case 0xda:
        return big(2, v) && string(item, v, 256);
      case 0xdb:
        return big(4, v) && string(item, v, 65536);
      case 0xdc:
        return big(2, v) && container(item, Type::Array, v, 16);
      case 0xdd:
        return big(4, v) && container(item, Type::Array, v, 65536);
      case 0xde:
        return big(2, v) && container(item, Type::Map, v, 16);
      case 0xdf:
        return big(4, v) && container(item, Type::Map, v, 65536);
      default:
        // bin, ext, float32 and the never-used byte are not part of the document's forms.
        return fail("form the writer never produces", at);
    }
  }

  bool fail(const std::string& what) { return fail(what, pos_); }
  bool fail(const std::string& what, size_t at) {
    if (problem_.empty()) problem_ = what + " at byte " + std::to_string(at);
    return false;
  }

 private:
  bool integer(Item& item, int64_t v) {
    item.type = Type::Int;
    item.integer = v;
    return true;
  }
  bool big(size_t n, uint64_t& v) {
    if (size_ - pos_ < n) return fail("truncated number or length");
    v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[pos_++];
    return true;
  }
  bool string(Item& item, uint64_t n, uint64_t smallest) {
    if (n < smallest) return fail("string length not in its smallest form", pos_);
    if (size_ - pos_ < n) return fail("string runs past the end");
    item.type = Type::Str;
    item.str = std::string_view(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return true;
  }
  bool container(Item& item, Type type, uint64_t n, uint64_t smallest) {
    if (n < smallest) return fail("container header not in its smallest form", pos_);
    // Every entry takes at least one byte, which also keeps absurd counts from being trusted.
    const uint64_t bytes = type == Type::Map ? 2 * n : n;
    if (bytes > size_ - pos_) return fail("container larger than the rest of the document");
    item.type = type;
    item.count = static_cast<uint32_t>(n);
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  std::string problem_;
};

struct Frame {
  uint64_t pending;  // values still to read (a map counts keys and values)
  bool map;
  size_t firstKey;      // where this map's keys start on the shared key stack
  bool number = false;  // a map whose "variant" is "Number"
};

// Every value well-formed, map keys strings and unique per map, every line and column number
// at least 1 (all spans are filled before encoding), nothing after the top-level value.
inline bool checkWellFormed(const uint8_t* data, size_t size, std::string& problem,
                            std::vector<std::string>& numbers) {
  Reader r(data, size);
  auto bad = [&](const char* what, size_t at) {
    r.fail(what, at);
    problem = r.problem();
    return false;
  };
  std::vector<Frame> stack;
  std::vector<std::string_view> keys;
  stack.push_back({1, false, 0});
  std::string_view lastKey;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.pending == 0) {
      keys.resize(top.firstKey);
      stack.pop_back();
      continue;
    }
    const bool isKey = top.map && top.pending % 2 == 0;
    const size_t at = r.offset();
    Item item;
    if (!r.next(item)) {
      problem = r.problem();
      return false;
    }
    --top.pending;
    if (isKey) {
      if (item.type != Type::Str) return bad("map key not a string", at);
      for (size_t k = top.firstKey; k < keys.size(); ++k)
        if (keys[k] == item.str) return bad("duplicate map key", at);
      keys.push_back(item.str);
      lastKey = item.str;
      continue;
    }
    // "column" also names a column reference's column, as a string.
    if (top.map && ((lastKey == "line" && (item.type != Type::Int || item.integer < 1)) ||
                    (lastKey == "column" && item.type == Type::Int && item.integer < 1)))
      return bad("line or column not a positive integer", at);
    if (top.map && item.type == Type::Str) {
      if (lastKey == "variant" && item.str == "Number") top.number = true;
      if (lastKey == "value" && top.number) numbers.emplace_back(item.str);
    }
    if (item.type == Type::Array && item.count > 0)
      stack.push_back({item.count, false, keys.size()});
    if (item.type == Type::Map && item.count > 0)
      stack.push_back({2 * uint64_t(item.count), true, keys.size()});
  }
  if (!r.atEnd()) return bad("bytes after the document", r.offset());
  return true;
}

// Skips one complete value of an already validated document.
inline void skipValue(Reader& r) {
  uint64_t pending = 1;
  Item item;
  while (pending > 0 && r.next(item)) {
    --pending;
    if (item.type == Type::Array) pending += item.count;
    if (item.type == Type::Map) pending += 2 * uint64_t(item.count);
  }
}

inline bool expectKey(Reader& r, std::string_view key) {
  Item item;
  const size_t at = r.offset();
  if (!r.next(item) || item.type != Type::Str || item.str != key)
    return r.fail("expected key \"" + std::string(key) + "\"", at);
  return true;
}

inline bool expectMap(Reader& r, uint32_t count, const char* what) {
  Item item;
  const size_t at = r.offset();
  if (!r.next(item) || item.type != Type::Map || item.count != count)
    return r.fail(std::string(what) + ": expected a map of " + std::to_string(count), at);
  return true;
}

inline bool readInt(Reader& r, int64_t& out) {
  Item item;
  const size_t at = r.offset();
  if (!r.next(item) || item.type != Type::Int) return r.fail("expected an integer", at);
  out = item.integer;
  return true;
}

inline bool readLocation(Reader& r, int64_t& line, int64_t& column) {
  return expectMap(r, 2, "location") && expectKey(r, "line") && readInt(r, line) &&
         expectKey(r, "column") && readInt(r, column);
}

inline bool readStatement(Reader& r, StatementSummary& s) {
  if (!expectMap(r, 2, "statement") || !expectKey(r, "kind")) return false;
  Item kind;
  size_t at = r.offset();
  if (!r.next(kind) || kind.type != Type::Map || kind.count < 1)
    return r.fail("statement kind is not a map", at);
  if (!expectKey(r, "variant")) return false;
  Item variant;
  at = r.offset();
  if (!r.next(variant) || variant.type != Type::Str) return r.fail("variant not a string", at);
  s.variant.assign(variant.str);
  for (uint32_t i = 1; i < kind.count; ++i) {
    skipValue(r);
    skipValue(r);
  }
  return expectKey(r, "span") && expectMap(r, 2, "span") && expectKey(r, "start") &&
         readLocation(r, s.startLine, s.startColumn) && expectKey(r, "end") &&
         readLocation(r, s.endLine, s.endColumn);
}

}  // namespace detail

// Validates a whole document: an array of statements, each a map of exactly "kind" (a map
// that starts with "variant") then "span", with the statements' variants and spans collected.
inline DocumentCheck checkDocument(const uint8_t* data, size_t size) {
  DocumentCheck out;
  if (!detail::checkWellFormed(data, size, out.problem, out.numbers)) return out;
  detail::Reader r(data, size);
  detail::Item top;
  if (!r.next(top) || top.type != detail::Type::Array) {
    out.problem = "document is not an array";
    return out;
  }
  for (uint32_t i = 0; i < top.count; ++i) {
    StatementSummary s;
    if (!detail::readStatement(r, s)) {
      out.problem = r.problem();
      return out;
    }
    out.statements.push_back(std::move(s));
  }
  out.ok = true;
  return out;
}

// The document without its "span" entries, keys and values: what must stay the same when only
// the blanks and comments between tokens change. Map headers keep their counts, so the result
// is only good for comparing two documents.
inline std::string withoutSpans(std::string_view doc) {
  detail::Reader r(reinterpret_cast<const uint8_t*>(doc.data()), doc.size());
  std::string out;
  std::vector<std::pair<uint64_t, bool>> open{{1, false}};  // values left, is a map
  detail::Item item;
  while (!open.empty()) {
    auto& [pending, map] = open.back();
    if (pending == 0) {
      open.pop_back();
      continue;
    }
    const bool key = map && pending % 2 == 0;
    const size_t start = r.offset();
    if (!r.next(item)) break;
    --pending;
    if (key && item.str == "span") {
      --pending;
      detail::skipValue(r);
      continue;
    }
    out.append(doc.substr(start, r.offset() - start));
    if (item.type == detail::Type::Array && item.count > 0) open.push_back({item.count, false});
    if (item.type == detail::Type::Map && item.count > 0)
      open.push_back({2 * uint64_t(item.count), true});
  }
  return out;
}

}  // namespace quorix_fuzz
