// The exported interface, with the limits that the tests can lower.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quorix_sql_parser.h"

namespace quorix {

struct Limits {
  // The longest document and message a ParseResult can describe (its lengths are int32_t).
  size_t maxDocumentBytes = 2147483647;
  size_t maxMessageBytes = 2147483647;
};

// quorix_parse_sql with explicit limits; never throws.
ParseResult parseWithLimits(const char* sql, int32_t len, const Limits& limits) noexcept;

}  // namespace quorix
