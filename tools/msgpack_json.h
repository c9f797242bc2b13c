// Renders a MessagePack document as JSON text, keys in document order. Used by the quorix-sql
// command and by the golden-file tests, so both show a document the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorix::tools {

struct JsonStyle {
  bool pretty = true;  // two-space indentation, one entry per line
};

// Throws std::runtime_error on malformed or truncated input, or trailing bytes.
// The text is always valid UTF-8: a string's well-formed UTF-8 sequences are copied as they
// are, and every byte that belongs to none (a stray byte, an overlong form, a surrogate, a
// code point past U+10FFFF, a sequence cut short) is written as U+FFFD, one per byte.
// Integers print as JSON integers; doubles always with a fraction or exponent (1.0, -0.0,
// 1e+300) and non-finite ones as NaN, Infinity, -Infinity, as Python's json module does.
std::string msgpackToJson(const uint8_t* data, size_t size, JsonStyle style = {});

// `s` as a JSON string, quotes included, under the same rules as msgpackToJson's strings.
void appendJsonString(std::string& out, std::string_view s);

}  // namespace quorix::tools
