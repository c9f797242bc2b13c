// Parser frame: primitives, the error frame, statement dispatch and the statement loop.
#include <charconv>
#include <cmath>
#include <string>

#include "errors.h"
#include "parser.h"

namespace quorix {

Parser::Parser(std::string_view text, Arena& arena) : arena_(arena), lexer_(text, arena) {
  lexer_.next(current_);
}

void Parser::raiseExpected(TokenKind kind) const {
  std::string m = "expected ";
  m += tokenKindName(kind);
  error(m);
}

void Parser::raiseExpectedIdent(std::string_view description) const {
  std::string m = "expected ";
  m += description;
  error(m);
}

void Parser::error(std::string_view message) const {
  std::string m;
  m.reserve(64 + message.size() + current_.lexeme.size());
  m += "Parse error at line ";
  m += std::to_string(current_.line);
  m += ", col ";
  m += std::to_string(current_.column);
  m += ": ";
  m += message;
  m += " (got ";
  m += tokenKindName(current_.kind);
  m += " '";
  m += current_.lexeme;
  m += "')";
  throw ParseError(m);
}

SqlNode* Parser::parseStatement() {
  SqlNode* stmt = nullptr;
  switch (current_.kind) {
    case tkSelect:
      stmt = parseSelectStmt();
      break;
    case tkInsert:
      stmt = parseInsertStmt();
      break;
    case tkUpdate:
      stmt = parseUpdateStmt();
      break;
    case tkDelete:
      stmt = parseDeleteStmt();
      break;
    case tkCreate:
      stmt = parseCreateStmt();
      break;
    case tkDrop:
      stmt = parseDropStmt();
      break;
    default:
      error("expected SQL statement (SELECT, INSERT, UPDATE, DELETE, CREATE, DROP)");
  }
  if (check(tkSemicolon)) advance();
  return stmt;
}

SqlNode* Parser::parseCreateStmt() {
  Token create = expect(tkCreate);
  if (check(tkTable)) return parseCreateTableAfterCreate(create);
  if (check(tkIndex)) return parseCreateIndexAfterCreate(create);
  error("expected TABLE or INDEX after CREATE");
}

SqlNode* Parser::parseDropStmt() {
  Token drop = expect(tkDrop);
  if (check(tkTable)) return parseDropTableAfterDrop(drop);
  if (check(tkIndex)) return parseDropIndexAfterDrop(drop);
  error("expected TABLE or INDEX after DROP");
}

SqlNode* Parser::nextStatement() {
  while (check(tkSemicolon)) advance();
  if (check(tkEof)) return nullptr;
  // Span-less nodes are given their ancestors' spans by the encoder, on its way down.
  return parseStatement();
}

void Parser::releaseNodes() {
  // The lookahead may be a string whose unescaped text lives in the arena; it has to outlive
  // the reset (it may yet appear in an error message).
  std::string_view lexeme = current_.lexeme;
  if (lexeme.empty() || lexer_.inInput(lexeme.data())) {
    arena_.reset();
    return;
  }
  std::string kept(lexeme);
  arena_.reset();
  current_.lexeme = arena_.copy(kept);
}

int64_t convertIntegerLexeme(std::string_view lexeme) {
  // Up to 18 digits cannot overflow: the common case needs no general conversion.
  if (!lexeme.empty() && lexeme.size() <= 18) {
    uint64_t v = 0;
    bool digits = true;
    for (char c : lexeme) {
      unsigned d = static_cast<unsigned>(c - '0');
      digits &= d < 10;
      v = v * 10 + d;
    }
    if (digits) return static_cast<int64_t>(v);
  }
  int64_t value = 0;
  const char* end = lexeme.data() + lexeme.size();
  auto [ptr, ec] = std::from_chars(lexeme.data(), end, value);
  if (ec == std::errc::result_out_of_range)
    throw ValueError("Parsed integer outside of valid range");
  if (ec != std::errc() || ptr != end) throw ValueError("invalid integer: " + std::string(lexeme));
  return value;
}

double convertFloatLexeme(std::string_view lexeme) {
  // Most literals have few enough digits for the exact path.
  if (!lexeme.empty() && lexeme.size() <= 19) {
    uint64_t m = 0;
    int fraction = -1;  // digits after the point; -1 before it
    bool ok = true;
    for (char c : lexeme) {
      if (c == '.') {
        ok &= fraction < 0;
        fraction = 0;
        continue;
      }
      unsigned d = static_cast<unsigned>(c - '0');
      ok &= d < 10;
      m = m * 10 + d;
      if (fraction >= 0) ++fraction;
    }
    if (ok && fraction != 0 && m <= kMaxExactDigits)
      return exactDecimal(m, fraction < 0 ? 0 : fraction);
  }
  double value = 0;
  const char* end = lexeme.data() + lexeme.size();
  auto [ptr, ec] = std::from_chars(lexeme.data(), end, value, std::chars_format::fixed);
  if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw ValueError("invalid float: " + std::string(lexeme));
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched here; read it as strtod would: beyond the range is
    // infinity, below it is zero. Only a literal with a non-zero digit before the point can be
    // too large.
    bool large = false;
    for (char c : lexeme) {
      if (c == '.') break;
      if (c != '0') large = true;
    }
    value = large ? HUGE_VAL : 0.0;
  }
  return value;
}

}  // namespace quorix
