// Parser frame: primitives, the error frame, statement dispatch and the statement loop.
#include <charconv>
#include <cmath>
#include <string>

#include "common/errors.h"
#include "parser/parser.h"

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

void Parser::releaseNodes() { releaseTo(nullptr); }

void Parser::releaseTo(const Arena::Mark* mark) {
  auto release = [&] { mark != nullptr ? arena_.rewind(*mark) : arena_.reset(); };
  // The lookahead may be a string whose unescaped text lives in the arena; it has to outlive
  // the release (it may yet appear in an error message).
  std::string_view lexeme = current_.lexeme;
  if (lexeme.empty() || lexer_.inInput(lexeme.data())) {
    release();
    return;
  }
  std::string kept(lexeme);
  release();
  current_.lexeme = arena_.copy(kept);
}

}  // namespace quorix
