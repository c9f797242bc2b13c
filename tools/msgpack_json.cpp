#include "msgpack_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace quorix::tools {

namespace {

// U+FFFD in UTF-8. The scanner turns every byte that starts no token into a one-byte name, so
// a document's strings may hold any bytes; JSON must be UTF-8, and a byte that cannot be shown
// as itself is shown as this, one per byte, so that the count of such bytes survives.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence that starts at s[0] (a byte >= 0x80) within
// `avail` bytes, or 0 when none starts there. The bounds on the second byte are what rule out
// overlong forms (E0, F0), UTF-16 surrogates (ED) and code points past U+10FFFF (F4).
size_t utf8SequenceLength(const uint8_t* s, uint64_t avail) {
  const uint8_t lead = s[0];
  uint8_t low = 0x80;
  uint8_t high = 0xbf;
  size_t len = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    len = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    len = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    len = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (avail < len || s[1] < low || s[1] > high) return 0;
  for (size_t i = 2; i < len; ++i) {
    if (s[i] < 0x80 || s[i] > 0xbf) return 0;
  }
  return len;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const size_t n = s.size();
  out += '"';
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (size_t len = utf8SequenceLength(p + i, n - i); len != 0) {
          out.append(reinterpret_cast<const char*>(p + i), len);
          i += len - 1;
        } else {
          out += kReplacementCharacter;
        }
    }
  }
  out += '"';
}

namespace {

class Renderer {
 public:
  Renderer(const uint8_t* data, size_t size, JsonStyle style)
      : p_(data), end_(data + size), style_(style) {}

  std::string run() {
    value(0);
    if (p_ != end_) throw std::runtime_error("trailing bytes after the document");
    return std::move(out_);
  }

 private:
  // Containers are rendered with an explicit stack so that documents of any depth are safe.
  struct Frame {
    uint64_t remaining;  // items left (a map counts keys and values)
    bool isMap;
    bool first;
  };

  uint8_t byte() {
    if (p_ >= end_) throw std::runtime_error("truncated document");
    return *p_++;
  }
  uint64_t be(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | byte();
    return v;
  }
  void newline(size_t depth) {
    if (!style_.pretty) return;
    out_ += '\n';
    out_.append(depth * 2, ' ');
  }

  void string(uint64_t n) {
    if (static_cast<uint64_t>(end_ - p_) < n) throw std::runtime_error("truncated string");
    appendJsonString(out_, std::string_view(reinterpret_cast<const char*>(p_), n));
    p_ += n;
  }

  void number(double d) {
    if (std::isnan(d)) {
      out_ += "NaN";
    } else if (std::isinf(d)) {
      out_ += d < 0 ? "-Infinity" : "Infinity";
    } else {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, d);
      std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
      out_ += s;
      if (s.find_first_of(".en") == std::string_view::npos) out_ += ".0";
    }
  }

  // Writes one scalar, or opens a container and returns its item count through `open`.
  bool scalarOrOpen(uint64_t& count, bool& isMap) {
    uint8_t b = byte();
    char buf[32];
    auto integer = [&](auto v) {
      auto r = std::to_chars(buf, buf + sizeof buf, v);
      out_.append(buf, r.ptr);
    };
    if (b <= 0x7f) return integer(int(b)), false;
    if (b >= 0xe0) return integer(int(int8_t(b))), false;
    if ((b & 0xe0) == 0xa0) return string(b & 0x1f), false;
    if ((b & 0xf0) == 0x90) return count = b & 0x0f, isMap = false, true;
    if ((b & 0xf0) == 0x80) return count = b & 0x0f, isMap = true, true;
    switch (b) {
      case 0xc0:
        out_ += "null";
        return false;
      case 0xc2:
        out_ += "false";
        return false;
      case 0xc3:
        out_ += "true";
        return false;
      case 0xcc:
        return integer(be(1)), false;
      case 0xcd:
        return integer(be(2)), false;
      case 0xce:
        return integer(be(4)), false;
      case 0xcf:
        return integer(be(8)), false;
      case 0xd0:
        return integer(int64_t(int8_t(be(1)))), false;
      case 0xd1:
        return integer(int64_t(int16_t(be(2)))), false;
      case 0xd2:
        return integer(int64_t(int32_t(be(4)))), false;
      case 0xd3:
        return integer(int64_t(be(8))), false;
      case 0xca: {
        uint32_t bits = static_cast<uint32_t>(be(4));
        float f;
        std::memcpy(&f, &bits, 4);
        return number(f), false;
      }
      case 0xcb: {
        uint64_t bits = be(8);
        double d;
        std::memcpy(&d, &bits, 8);
        return number(d), false;
      }
      case 0xd9:
        return string(be(1)), false;
      case 0xda:
        return string(be(2)), false;
      case 0xdb:
        return string(be(4)), false;
      case 0xdc:
        return count = be(2), isMap = false, true;
      case 0xdd:
        return count = be(4), isMap = false, true;
      case 0xde:
        return count = be(2), isMap = true, true;
      case 0xdf:
        return count = be(4), isMap = true, true;
      default:
        throw std::runtime_error("unsupported MessagePack type byte " + std::to_string(b));
    }
  }

  void value(size_t) {
    std::vector<Frame> stack;
    auto open = [&](uint64_t count, bool isMap) {
      out_ += isMap ? '{' : '[';
      if (count == 0) {
        out_ += isMap ? '}' : ']';
        return;
      }
      stack.push_back({isMap ? count * 2 : count, isMap, true});
    };
    uint64_t count = 0;
    bool isMap = false;
    if (scalarOrOpen(count, isMap)) open(count, isMap);
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.remaining == 0) {
        bool wasMap = f.isMap;
        stack.pop_back();
        newline(stack.size());
        out_ += wasMap ? '}' : ']';
        continue;
      }
      const bool atKey = f.isMap && (f.remaining % 2 == 0);
      if (atKey || !f.isMap) {
        if (!f.first) out_ += ',';
        f.first = false;
        newline(stack.size());
      } else {
        out_ += style_.pretty ? ": " : ":";
      }
      --f.remaining;
      if (atKey &&
          (p_ >= end_ || !((*p_ & 0xe0) == 0xa0 || *p_ == 0xd9 || *p_ == 0xda || *p_ == 0xdb))) {
        throw std::runtime_error("map key is not a string");
      }
      if (scalarOrOpen(count, isMap)) open(count, isMap);
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  JsonStyle style_;
  std::string out_;
};

}  // namespace

std::string msgpackToJson(const uint8_t* data, size_t size, JsonStyle style) {
  return Renderer(data, size, style).run();
}

}  // namespace quorix::tools
