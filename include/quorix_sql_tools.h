/*
 * quorix_sql_tools: what comes after parsing, on the same scanner and parser as
 * libquorix_sql_parser: format, normalize, fingerprint, split and tokens.
 *
 * Every function takes the SQL text as quorix_parse_sql does:
 *   len <= 0: sql is a NUL-terminated string and all of it is read (NULL reads as "");
 *   len  > 0: exactly the first len bytes are read; they must not contain a NUL.
 * and returns a record by value, 40 bytes with padding zeroed, laid out as ParseResult is:
 *   success: status 0, the result block and its count (bytes of text, or records), error NULL;
 *   failure: status 1, the block NULL, count 0, error holds error_len bytes plus a NUL.
 * Every non-NULL block goes back through quorix_tools_free, once, on any thread. Nothing is
 * thrown, printed or aborted; any number of calls may run at once on any threads.
 *
 * format, normalize and fingerprint need text that parses, and fail with exactly the message
 * quorix_parse_sql gives. split and tokens read any text and fail only on bad arguments.
 * Positions are 1-based lines and 1-based byte columns; offsets are 0-based bytes.
 */
#ifndef QUORIX_SQL_TOOLS_H
#define QUORIX_SQL_TOOLS_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QUORIX_TOOLS_API __declspec(dllimport)
#elif defined(__GNUC__)
#define QUORIX_TOOLS_API __attribute__((visibility("default")))
#else
#define QUORIX_TOOLS_API
#endif

#ifdef __cplusplus
#define QUORIX_TOOLS_NOEXCEPT noexcept
extern "C" {
#else
#define QUORIX_TOOLS_NOEXCEPT
#endif

/* Text: text_len bytes followed by a NUL (text is never NULL on success). */
typedef struct QuorixText {
  uint8_t status;
  char* text;
  int32_t text_len;
  char* error;
  int32_t error_len;
} QuorixText;

/* One 64-bit fingerprint per statement, in text order (NULL when there are none). */
typedef struct QuorixFingerprints {
  uint8_t status;
  uint64_t* fingerprints;
  int32_t count;
  char* error;
  int32_t error_len;
} QuorixFingerprints;

/* A statement's extent: its first token to one past its last (comments between them
 * included, the ';' excluded); end_line and end_column are those of its last byte. */
typedef struct QuorixStatement {
  uint32_t start;
  uint32_t end;
  uint32_t start_line;
  uint32_t start_column;
  uint32_t end_line;
  uint32_t end_column;
} QuorixStatement;

typedef struct QuorixStatements {
  uint8_t status;
  QuorixStatement* statements;
  int32_t count;
  char* error;
  int32_t error_len;
} QuorixStatements;

/* Token classes, for highlighters. */
enum {
  QUORIX_CLASS_KEYWORD = 0,
  QUORIX_CLASS_IDENTIFIER = 1,
  QUORIX_CLASS_STRING = 2,
  QUORIX_CLASS_NUMBER = 3,
  QUORIX_CLASS_OPERATOR = 4,
  QUORIX_CLASS_PUNCTUATION = 5,
  QUORIX_CLASS_COMMENT = 6,
  QUORIX_CLASS_INVALID = 7 /* a byte that no token of the dialect starts with */
};

/* QuorixToken.flags: a comment or string literal still open at the end of the text, which
 * then runs to the end (the parser rejects such text; tokens shows it). */
#define QUORIX_TOKEN_UNTERMINATED 1u

/* One token, comments included: bytes start to end (one past the last), at line and column.
 * kind is the scanner's kind, named by quorix_token_kind_name ("tkSelect", "tkComment"). */
typedef struct QuorixToken {
  uint32_t start;
  uint32_t end;
  uint32_t line;
  uint32_t column;
  uint8_t kind;
  uint8_t token_class;
  uint8_t flags;
  uint8_t reserved;
} QuorixToken;

typedef struct QuorixTokens {
  uint8_t status;
  QuorixToken* tokens;
  int32_t count;
  char* error;
  int32_t error_len;
} QuorixTokens;

#if defined(__cplusplus)
#define QUORIX_TOOLS_ASSERT static_assert
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QUORIX_TOOLS_ASSERT _Static_assert
#endif
#ifdef QUORIX_TOOLS_ASSERT
QUORIX_TOOLS_ASSERT(sizeof(QuorixText) == 40, "QuorixText must be 40 bytes");
QUORIX_TOOLS_ASSERT(sizeof(QuorixFingerprints) == 40, "QuorixFingerprints must be 40 bytes");
QUORIX_TOOLS_ASSERT(sizeof(QuorixStatements) == 40, "QuorixStatements must be 40 bytes");
QUORIX_TOOLS_ASSERT(sizeof(QuorixTokens) == 40, "QuorixTokens must be 40 bytes");
QUORIX_TOOLS_ASSERT(offsetof(QuorixTokens, count) == 16, "count at 16");
QUORIX_TOOLS_ASSERT(offsetof(QuorixTokens, error) == 24, "error at 24");
QUORIX_TOOLS_ASSERT(offsetof(QuorixTokens, error_len) == 32, "error_len at 32");
QUORIX_TOOLS_ASSERT(sizeof(QuorixStatement) == 24, "QuorixStatement must be 24 bytes");
QUORIX_TOOLS_ASSERT(sizeof(QuorixToken) == 20, "QuorixToken must be 20 bytes");
#undef QUORIX_TOOLS_ASSERT
#endif

/* quorix_sql_format flags. */
#define QUORIX_FORMAT_PRETTY 1u

/* The text in the house style: compact (one line per statement) or, with
 * QUORIX_FORMAT_PRETTY, clauses on lines of their own. Comments are kept. */
QUORIX_TOOLS_API QuorixText quorix_sql_format(const char* sql, int32_t len,
                                              uint32_t flags) QUORIX_TOOLS_NOEXCEPT;

/* The text with every constant of a SELECT, INSERT, UPDATE or DELETE replaced by $1, $2, ...
 * and everything else as written. */
QUORIX_TOOLS_API QuorixText quorix_sql_normalize(const char* sql,
                                                 int32_t len) QUORIX_TOOLS_NOEXCEPT;

/* One fingerprint per statement: equal for statements that differ only in constants,
 * blanks, comments, keyword case, noise words and the length of lists of constants. */
QUORIX_TOOLS_API QuorixFingerprints quorix_sql_fingerprint(const char* sql,
                                                           int32_t len) QUORIX_TOOLS_NOEXCEPT;

/* The statements of any text, valid or not, found by the scanner alone. */
QUORIX_TOOLS_API QuorixStatements quorix_sql_split(const char* sql,
                                                   int32_t len) QUORIX_TOOLS_NOEXCEPT;

/* Every token of any text, comments included. */
QUORIX_TOOLS_API QuorixTokens quorix_sql_tokens(const char* sql, int32_t len) QUORIX_TOOLS_NOEXCEPT;

/* Where an error message of either library places its error in the text it came from:
 * the position a parse error carries, or, for a literal that could not be converted (whose
 * message, "Parsed integer outside of valid range" say, names no position), that literal,
 * found with the scanner. sql and len as above; message_len <= 0 reads a NUL-terminated
 * message. Returns 1 and fills *position (line and column 1-based, the column in bytes;
 * width the literal's bytes, 0 for a parse error), or 0 with *position zeroed when no place
 * is known. Allocates nothing the caller frees. */
typedef struct QuorixErrorPosition {
  uint32_t line;
  uint32_t column;
  uint32_t width;
} QuorixErrorPosition;

QUORIX_TOOLS_API int32_t
quorix_sql_error_position(const char* sql, int32_t len, const char* message, int32_t message_len,
                          QuorixErrorPosition* position) QUORIX_TOOLS_NOEXCEPT;

/* Constant names: "tkSelect" for a token kind, "keyword" for a class; "" when out of range. */
QUORIX_TOOLS_API const char* quorix_token_kind_name(uint8_t kind) QUORIX_TOOLS_NOEXCEPT;
QUORIX_TOOLS_API const char* quorix_token_class_name(uint8_t token_class) QUORIX_TOOLS_NOEXCEPT;

/* Releases any block of the records above, on any thread. NULL is accepted and ignored. */
QUORIX_TOOLS_API void quorix_tools_free(void* block) QUORIX_TOOLS_NOEXCEPT;

/* The library's version, the same as quorix_parser_version's. */
QUORIX_TOOLS_API const char* quorix_tools_version(void) QUORIX_TOOLS_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUORIX_SQL_TOOLS_H */
