// The recursive-descent parser: one token of lookahead, no backtracking, first error ends
// the parse. Grammar rules are split by statement family across the parser_*.cpp files.
#pragma once

#include <string>
#include <string_view>

#include "ast/ast.h"
#include "common/arena.h"
#include "common/numbers.h"
#include "lexer/lexer.h"
#include "parser/stack_budget.h"

namespace quorix {

// Nesting levels (parentheses, prefix NOT and minus, call argument lists, CAST, EXISTS,
// ANY/SOME/ALL subqueries, IN lists, derived tables, type parameter lists) allowed before
// "nesting too deep", whatever the stack. A smaller stack stops nesting sooner, with the same
// error (see StackBudget): at the limit an optimised build needs about 330 KiB.
inline constexpr int kMaxNestingDepth = 500;

// Takes the rows of a long INSERT while they are being parsed, so that its nodes need not be
// held all at once: after kRowsBeforeStreaming rows, the statement as parsed so far (table,
// columns and those rows) goes to beginRows, and each later row to row(), after which its nodes
// are released. Such an INSERT comes back from the parser without those later rows; the sink
// knows them.
class RowSink {
 public:
  virtual void beginRows(const SqlNode* insert) = 0;
  // `consumedBytes`: how much of the text the parser has read, the row included.
  virtual void row(const SqlNode* row, size_t consumedBytes) = 0;

 protected:
  ~RowSink() = default;
};

// An INSERT shorter than this is parsed whole, however it is consumed.
inline constexpr size_t kRowsBeforeStreaming = 64;

class Parser {
 public:
  Parser(std::string_view text, Arena& arena);

  void setRowSink(RowSink* sink) { rowSink_ = sink; }

  // The next statement, or nullptr at the end of the text. Nodes without a position keep an
  // empty span (see fillMissingSpans).
  SqlNode* nextStatement();
  // Releases every node made so far; the lookahead token stays valid.
  void releaseNodes();
  size_t consumedBytes() const { return lexer_.consumed(); }

  // Primitives.
  // The primitives are inline so that a discarded token costs nothing: every nesting level's
  // frames stay small (see kMaxNestingDepth).
  bool check(TokenKind kind) const { return current_.kind == kind; }
  Token advance() {
    Token consumed = current_;
    lexer_.next(current_);
    return consumed;
  }
  Token expect(TokenKind kind) {
    if (current_.kind != kind) [[unlikely]]
      raiseExpected(kind);
    return advance();
  }
  Token expectIdent(std::string_view description) {
    if (current_.kind != tkIdent) [[unlikely]]
      raiseExpectedIdent(description);
    return advance();
  }
  [[noreturn]] void error(std::string_view message) const;
  static Span tokenSpan(const Token& token) {
    int64_t length = static_cast<int64_t>(token.lexeme.size());
    return newSpan(token.line, token.column, token.column + (length > 1 ? length : 1) - 1);
  }
  Span currentSpan() const { return tokenSpan(current_); }

  // Statements.
  SqlNode* parseStatement();
  SqlNode* parseCreateStmt();
  SqlNode* parseDropStmt();
  SqlNode* parseSelectStmt();
  SqlNode* parseInsertStmt();
  SqlNode* parseUpdateStmt();
  SqlNode* parseDeleteStmt();
  SqlNode* parseCreateTableAfterCreate(const Token& createToken);
  SqlNode* parseCreateIndexAfterCreate(const Token& createToken);
  SqlNode* parseDropTableAfterDrop(const Token& dropToken);
  SqlNode* parseDropIndexAfterDrop(const Token& dropToken);

  // Expressions.
  SqlNode* parseExpr();
  // The levels below parseExpr. `first`, when given, is the first primary of the level's
  // first operand, already parsed.
  SqlNode* parseAndExpr(SqlNode* first = nullptr);
  SqlNode* parseComparison(SqlNode* first = nullptr);
  SqlNode* parseConcat(SqlNode* first = nullptr);
  SqlNode* parseAddSub(SqlNode* first = nullptr);
  SqlNode* parseMulDiv(SqlNode* first = nullptr);
  SqlNode* parsePrimary();
  SqlNode* parseInExpr(SqlNode* left, bool negated);
  SqlNode* parseQuantified(SqlNode* left, BinaryOperator op);
  SqlNode* parseExistsExpr(bool negated);
  SqlNode* parseSubqueryInParens();
  SqlNode* parseFunctionCall(const Token& nameToken);
  SqlNode* parseCastExpr();
  SqlNode* parseTypeName();
  SqlNode* parseVectorLiteral();

  // SELECT pieces.
  void parseSelectList(NodeList& items);
  SqlNode* parseSelectItem();
  SqlNode* parseOptionalAlias(SqlNode* node);
  SqlNode* parseFromClause();
  SqlNode* parseFromItem();
  NameList parseUsingClause();
  SqlNode* parseOrderByItem();

  // DDL pieces.
  SqlNode* parseColumnDef();
  SqlNode* parseWithOptions();
  Token expectOptionValue();

 private:
  friend class NestingGuard;

  [[noreturn]] void raiseExpected(TokenKind kind) const;
  [[noreturn]] void raiseExpectedIdent(std::string_view description) const;
  SqlNode* parseLeafPrimary();
  SqlNode* makeLiteral(const Token& t);
  // The elements of a VALUES row or an IN list, after its '(': expressions separated by ','
  // through the closing ')'.
  void parseListElements(NodeList& into);
  SqlNode* parseLikeRest(SqlNode* left, BinaryOperator op);
  SqlNode* parseBetweenRest(SqlNode* left, BinaryOperator op);
  SqlNode* parseTableConstraint();
  // One parenthesised row of VALUES.
  SqlNode* parseValuesRow();
  // Streams the rest of an INSERT's rows to the sink (see RowSink).
  void streamRows(SqlNode* insert);
  // Releases the arena back to `mark` (everything when null), keeping the lookahead token valid.
  void releaseTo(const Arena::Mark* mark);

  Arena& arena_;
  Lexer lexer_;
  Token current_;
  int depth_ = 0;
  StackBudget stack_;
  RowSink* rowSink_ = nullptr;
};

// Counts one nesting level for its lifetime; entered while `current` is the token that opens
// the level, so "nesting too deep" points at that token.
class NestingGuard {
 public:
  explicit NestingGuard(Parser& p) : p_(p) {
    if (++p_.depth_ > kMaxNestingDepth || !p_.stack_.allows(p_.depth_)) {
      --p_.depth_;
      p_.error("nesting too deep");
    }
  }
  ~NestingGuard() { --p_.depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  Parser& p_;
};

// Parses the text statement by statement: each statement goes to
// `onStatement(stmt, parser)` and is released before the next one is parsed, so the nodes of a
// long text never pile up; with `rows`, a long INSERT's rows go there as they are parsed.
// Returns the number of statements.
template <typename OnStatement>
size_t parseSqlStatements(std::string_view text, Arena& arena, OnStatement&& onStatement,
                          RowSink* rows = nullptr) {
  Parser parser(text, arena);
  parser.setRowSink(rows);
  size_t count = 0;
  while (SqlNode* stmt = parser.nextStatement()) {
    ++count;
    onStatement(stmt, parser);
    parser.releaseNodes();
  }
  return count;
}

}  // namespace quorix
