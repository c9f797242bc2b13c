// The exported C functions of libquorix_sql_tools. Failures are turned into error results
// exactly as the parser's are (see boundary.h).
#include "quorix_sql_tools.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "api/boundary.h"
#include "lexer/lexer.h"
#include "tools/token_class.h"
#include "tools/tools.h"

namespace quorix {

namespace {

constexpr char kVersion[] = "0.1.0";
constexpr size_t kMaxMessageBytes = std::numeric_limits<int32_t>::max();

// The number of records as the result's int32_t count; fewer than 2^31 tokens can come from a
// text of at most 2^31 - 1 bytes, but the check costs nothing.
int32_t recordCount(size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw InternalDefect("value out of range: more records than a count can describe");
  return static_cast<int32_t>(n);
}

// The records handed to a host are the tools' own, block and all.
static_assert(sizeof(tools::ScannedToken) == sizeof(QuorixToken) &&
              offsetof(tools::ScannedToken, start) == offsetof(QuorixToken, start) &&
              offsetof(tools::ScannedToken, column) == offsetof(QuorixToken, column) &&
              offsetof(tools::ScannedToken, kind) == offsetof(QuorixToken, kind) &&
              offsetof(tools::ScannedToken, tokenClass) == offsetof(QuorixToken, token_class) &&
              offsetof(tools::ScannedToken, unterminated) == offsetof(QuorixToken, flags));
static_assert(QUORIX_TOKEN_UNTERMINATED == static_cast<unsigned>(true));
static_assert(sizeof(tools::StatementRange) == sizeof(QuorixStatement) &&
              offsetof(tools::StatementRange, endColumn) == offsetof(QuorixStatement, end_column));

QuorixText textResult(std::string (*tool)(std::string_view, bool), const char* sql, int32_t len,
                      bool option) noexcept {
  return guardedCall<QuorixText>(
      [&](QuorixText& r) {
        const std::string text = tool(takeInput(sql, len), option);
        if (text.size() > kMaxMessageBytes)
          throw InternalDefect("value out of range: the text exceeds 2147483647 bytes");
        auto* block = static_cast<char*>(std::malloc(text.size() + 1));
        if (block == nullptr) throw std::bad_alloc();
        std::memcpy(block, text.c_str(), text.size() + 1);
        r.text = block;
        r.text_len = static_cast<int32_t>(text.size());
      },
      kMaxMessageBytes);
}

}  // namespace

}  // namespace quorix

using quorix::guardedCall;
using quorix::takeInput;

extern "C" {

QUORIX_TOOLS_API QuorixText quorix_sql_format(const char* sql, int32_t len,
                                              uint32_t flags) noexcept {
  return quorix::textResult(quorix::tools::formatSql, sql, len,
                            (flags & QUORIX_FORMAT_PRETTY) != 0);
}

QUORIX_TOOLS_API QuorixText quorix_sql_normalize(const char* sql, int32_t len) noexcept {
  return quorix::textResult(
      [](std::string_view text, bool) { return quorix::tools::normalizeSql(text); }, sql, len,
      false);
}

QUORIX_TOOLS_API QuorixFingerprints quorix_sql_fingerprint(const char* sql, int32_t len) noexcept {
  return guardedCall<QuorixFingerprints>(
      [&](QuorixFingerprints& r) {
        const std::vector<uint64_t> prints = quorix::tools::fingerprintSql(takeInput(sql, len));
        r.count = quorix::recordCount(prints.size());
        if (prints.empty()) return;
        r.fingerprints = static_cast<uint64_t*>(std::malloc(prints.size() * sizeof(uint64_t)));
        if (r.fingerprints == nullptr) throw std::bad_alloc();
        std::memcpy(r.fingerprints, prints.data(), prints.size() * sizeof(uint64_t));
      },
      quorix::kMaxMessageBytes);
}

QUORIX_TOOLS_API QuorixStatements quorix_sql_split(const char* sql, int32_t len) noexcept {
  return guardedCall<QuorixStatements>(
      [&](QuorixStatements& r) {
        auto statements = quorix::tools::splitStatements(takeInput(sql, len));
        r.count = quorix::recordCount(statements.size());
        r.statements = reinterpret_cast<QuorixStatement*>(statements.release());
      },
      quorix::kMaxMessageBytes);
}

QUORIX_TOOLS_API QuorixTokens quorix_sql_tokens(const char* sql, int32_t len) noexcept {
  return guardedCall<QuorixTokens>(
      [&](QuorixTokens& r) {
        auto tokens = quorix::tools::scanTokens(takeInput(sql, len));
        r.count = quorix::recordCount(tokens.size());
        r.tokens = reinterpret_cast<QuorixToken*>(tokens.release());
      },
      quorix::kMaxMessageBytes);
}

QUORIX_TOOLS_API int32_t quorix_sql_error_position(const char* sql, int32_t len,
                                                   const char* message, int32_t message_len,
                                                   QuorixErrorPosition* position) noexcept {
  if (position == nullptr) return 0;
  *position = QuorixErrorPosition{};
  try {
    const std::optional<quorix::tools::ErrorPlace> place =
        quorix::tools::errorPlace(takeInput(sql, len), takeInput(message, message_len));
    if (!place) return 0;
    *position = QuorixErrorPosition{place->line, place->column, place->width};
    return 1;
  } catch (...) {
    // A text the scanner cannot take (a NUL within len) or no memory: no place is known.
    return 0;
  }
}

QUORIX_TOOLS_API const char* quorix_token_kind_name(uint8_t kind) noexcept {
  // The names are string literals, so each view ends in a NUL.
  return kind < quorix::kTokenKindCount ? quorix::tokenKindName(quorix::TokenKind(kind)).data()
                                        : "";
}

QUORIX_TOOLS_API const char* quorix_token_class_name(uint8_t token_class) noexcept {
  return token_class < std::size(quorix::tools::kTokenClassNames)
             ? quorix::tools::kTokenClassNames[token_class].data()
             : "";
}

QUORIX_TOOLS_API void quorix_tools_free(void* block) noexcept {
  if (block == quorix::kOutOfMemory) return;
  std::free(block);
}

QUORIX_TOOLS_API const char* quorix_tools_version(void) noexcept { return quorix::kVersion; }

}  // extern "C"
