// Helpers shared by the tests: one call through the exported C function, its result copied
// into owned values and its blocks released.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgpack_json.h"
#include "quorix_sql_parser.h"

namespace quorix::test {

struct Outcome {
  int status = -1;
  std::vector<uint8_t> data;
  std::string error;

  std::string json(bool pretty = true) const {
    return tools::msgpackToJson(data.data(), data.size(), tools::JsonStyle{pretty});
  }
};

inline Outcome take(ParseResult r) {
  Outcome o;
  o.status = r.status;
  if (r.data != nullptr) o.data.assign(r.data, r.data + r.data_len);
  if (r.error != nullptr) o.error.assign(r.error, static_cast<size_t>(r.error_len));
  quorix_free_buffer(r.data);
  quorix_free_buffer(r.error);
  return o;
}

// Parses the whole text (len 0: NUL-terminated).
inline Outcome parse(const std::string& sql) { return take(quorix_parse_sql(sql.c_str(), 0)); }

// Parses exactly sql.size() bytes, which may hold NULs.
inline Outcome parseBytes(std::string_view sql) {
  return take(quorix_parse_sql(sql.data(), static_cast<int32_t>(sql.size())));
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

}  // namespace quorix::test
