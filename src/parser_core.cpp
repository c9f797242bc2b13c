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

Span Parser::tokenSpan(const Token& token) {
  int64_t length = static_cast<int64_t>(token.lexeme.size());
  return newSpan(token.line, token.column, token.column + (length > 1 ? length : 1) - 1);
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

NodeList Parser::parseStatements() {
  NodeList statements;
  while (check(tkSemicolon)) advance();
  while (!check(tkEof)) {
    SqlNode* stmt = parseStatement();
    fillMissingSpans(stmt, stmt);
    append(statements, stmt);
    while (check(tkSemicolon)) advance();
  }
  return statements;
}

NodeList parseSqlStatements(std::string_view text, Arena& arena) {
  Parser parser(text, arena);
  return parser.parseStatements();
}

int64_t convertIntegerLexeme(std::string_view lexeme) {
  int64_t value = 0;
  const char* end = lexeme.data() + lexeme.size();
  auto [ptr, ec] = std::from_chars(lexeme.data(), end, value);
  if (ec == std::errc::result_out_of_range)
    throw ValueError("Parsed integer outside of valid range");
  if (ec != std::errc() || ptr != end) throw ValueError("invalid integer: " + std::string(lexeme));
  return value;
}

double convertFloatLexeme(std::string_view lexeme) {
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
