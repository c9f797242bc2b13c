/*
 * quorix_sql_parser: SQL text in, one MessagePack document (or one error message) out.
 *
 * Thread safety: every function may be called from any number of threads at once, sharing
 * nothing writable; a block may be released on any thread. The one thing kept between calls is
 * per thread: the last large document block released on that thread, reused by its next call
 * (64 KiB to 32 MiB, given back after 16 calls that do not use it and at thread exit).
 *
 * Positions in documents and messages are 1-based lines and 1-based *byte* columns.
 */
#ifndef QUORIX_SQL_PARSER_H
#define QUORIX_SQL_PARSER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QUORIX_API __declspec(dllimport)
#elif defined(__GNUC__)
#define QUORIX_API __attribute__((visibility("default")))
#else
#define QUORIX_API
#endif

#ifdef __cplusplus
#define QUORIX_NOEXCEPT noexcept
extern "C" {
#else
#define QUORIX_NOEXCEPT
#endif

/*
 * The result of quorix_parse_sql, returned by value (40 bytes; padding is always zero).
 *   success: status 0, data/data_len hold the document (data_len >= 1, no terminator),
 *            error NULL, error_len 0.
 *   failure: status 1, data NULL, data_len 0, error holds error_len bytes plus a NUL.
 * Whichever of data and error is set belongs to the caller until it is handed to
 * quorix_free_buffer.
 */
typedef struct ParseResult {
  uint8_t status;
  uint8_t* data;
  int32_t data_len;
  char* error;
  int32_t error_len;
} ParseResult;

#if defined(__cplusplus)
static_assert(sizeof(ParseResult) == 40, "ParseResult must be 40 bytes");
static_assert(offsetof(ParseResult, status) == 0, "status at 0");
static_assert(offsetof(ParseResult, data) == 8, "data at 8");
static_assert(offsetof(ParseResult, data_len) == 16, "data_len at 16");
static_assert(offsetof(ParseResult, error) == 24, "error at 24");
static_assert(offsetof(ParseResult, error_len) == 32, "error_len at 32");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ParseResult) == 40, "ParseResult must be 40 bytes");
_Static_assert(offsetof(ParseResult, status) == 0, "status at 0");
_Static_assert(offsetof(ParseResult, data) == 8, "data at 8");
_Static_assert(offsetof(ParseResult, data_len) == 16, "data_len at 16");
_Static_assert(offsetof(ParseResult, error) == 24, "error at 24");
_Static_assert(offsetof(ParseResult, error_len) == 32, "error_len at 32");
#endif

/*
 * Optional: the library initialises itself when it is loaded. Idempotent, callable from any
 * thread; installs no signal handlers.
 */
QUORIX_API void quorix_parser_init(void) QUORIX_NOEXCEPT;

/* The library's version, "0.1.0". A constant: always the same pointer; never free it. */
QUORIX_API const char* quorix_parser_version(void) QUORIX_NOEXCEPT;

/*
 * Parses every statement in sql and returns the document or the first error.
 *   len <= 0: sql is a NUL-terminated string and all of it is parsed (NULL reads as "").
 *   len  > 0: exactly the first len bytes are parsed; they must not contain a NUL (that is
 *             reported as an error result). Nothing past sql[len - 1] is read.
 * Never throws, aborts or prints. Release the returned block with quorix_free_buffer:
 *
 *   ParseResult r = quorix_parse_sql(text, 0);
 *   if (r.status == 0) { use(r.data, r.data_len); quorix_free_buffer(r.data); }
 *   else               { report(r.error);         quorix_free_buffer(r.error); }
 */
QUORIX_API ParseResult quorix_parse_sql(const char* sql, int32_t len) QUORIX_NOEXCEPT;

/*
 * Releases a data or error block of a ParseResult, on any thread. NULL is accepted and ignored.
 * Do not pass blocks from anywhere else, and do not release a block twice. A large document's
 * block may be kept for the releasing thread's next call instead of being freed at once.
 */
QUORIX_API void quorix_free_buffer(void* buffer) QUORIX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUORIX_SQL_PARSER_H */
