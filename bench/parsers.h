// The two parsers behind one calling convention: a call parses one NUL-terminated text and
// releases everything it returned. The checked forms also report the size of the result and
// the error, for the untimed passes; the plain forms are what the timed loops run.
#ifndef QUORIX_BENCH_PARSERS_H
#define QUORIX_BENCH_PARSERS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "quorix_sql_parser.h"

#ifdef QUORIX_BENCH_HAVE_PG_QUERY
#include <pg_query.h>
#endif

namespace quorix_bench {

struct ParseOutcome {
  bool ok = false;
  std::size_t doc_bytes = 0;  // the MessagePack document, or PostgreSQL's JSON tree
  std::string error;
};

// Parse, encode, copy out and free, all through the exported functions.
inline std::uint8_t quorixParse(const std::string& text) {
  ParseResult r = quorix_parse_sql(text.data(), static_cast<std::int32_t>(text.size()));
  quorix_free_buffer(r.status == 0 ? static_cast<void*>(r.data) : r.error);
  return r.status;
}

inline ParseOutcome quorixParseChecked(const std::string& text) {
  ParseResult r = quorix_parse_sql(text.data(), static_cast<std::int32_t>(text.size()));
  ParseOutcome out;
  out.ok = r.status == 0;
  if (out.ok) {
    out.doc_bytes = static_cast<std::size_t>(r.data_len);
    quorix_free_buffer(r.data);
  } else {
    out.error.assign(r.error, static_cast<std::size_t>(r.error_len));
    quorix_free_buffer(r.error);
  }
  return out;
}

#ifdef QUORIX_BENCH_HAVE_PG_QUERY
inline constexpr bool kHavePgQuery = true;

// Parse and render the tree as JSON, then free: pg_query's one-call equivalent of the above.
inline bool pgParse(const std::string& text) {
  PgQueryParseResult r = pg_query_parse(text.c_str());
  bool ok = r.error == nullptr;
  pg_query_free_parse_result(r);
  return ok;
}

inline ParseOutcome pgParseChecked(const std::string& text) {
  PgQueryParseResult r = pg_query_parse(text.c_str());
  ParseOutcome out;
  out.ok = r.error == nullptr;
  if (out.ok) {
    out.doc_bytes = std::strlen(r.parse_tree);
  } else {
    out.error = r.error->message;
    out.error += " at byte " + std::to_string(r.error->cursorpos);
  }
  pg_query_free_parse_result(r);
  return out;
}
#else
inline constexpr bool kHavePgQuery = false;
#endif

}  // namespace quorix_bench

#endif  // QUORIX_BENCH_PARSERS_H
