// INSERT, UPDATE and DELETE.
#include "common/errors.h"
#include "parser/parser.h"

namespace quorix {

SqlNode* Parser::parseInsertStmt() {
  Token insert = expect(tkInsert);
  expect(tkInto);
  SqlNode* stmt = newNode(arena_, nkInsert, tokenSpan(insert));
  NodeList& parts = stmt->children();
  Token table = expectIdent("table name");
  append(parts, newIdent(arena_, table.lexeme, tokenSpan(table)));
  if (check(tkLParen)) {
    advance();
    SqlNode* columns = newNode(arena_, nkColumnList, emptySpan());
    append(columns->children(), newIdent(arena_, expectIdent("column name").lexeme, emptySpan()));
    while (check(tkComma)) {
      advance();
      append(columns->children(), newIdent(arena_, expectIdent("column name").lexeme, emptySpan()));
    }
    expect(tkRParen);
    append(parts, columns);
  }
  expect(tkValues);
  size_t rows = 0;
  for (;;) {
    append(parts, parseValuesRow());
    if (!check(tkComma)) break;
    advance();
    if (++rows == kRowsBeforeStreaming && rowSink_ != nullptr) {
      streamRows(stmt);
      break;
    }
  }
  return stmt;
}

SqlNode* Parser::parseValuesRow() {
  expect(tkLParen);
  SqlNode* row = newNode(arena_, nkExprList, emptySpan());
  parseListElements(row->children());
  return row;
}

void Parser::streamRows(SqlNode* insert) {
  rowSink_->beginRows(insert);
  // Each row's nodes go once the sink has it: memory holds one row, not the whole list.
  const Arena::Mark mark = arena_.mark();
  for (;;) {
    rowSink_->row(parseValuesRow(), lexer_.consumed());
    releaseTo(&mark);
    if (!check(tkComma)) break;
    advance();
  }
}

SqlNode* Parser::parseUpdateStmt() {
  Token update = expect(tkUpdate);
  SqlNode* stmt = newNode(arena_, nkUpdate, tokenSpan(update));
  Token table = expectIdent("table name");
  append(stmt->children(), newIdent(arena_, table.lexeme, tokenSpan(table)));
  expect(tkSet);
  SqlNode* assignments = newNode(arena_, nkExprList, emptySpan());
  for (;;) {
    Token column = expectIdent("column name");
    expect(tkEq);
    SqlNode* target = newIdent(arena_, column.lexeme, tokenSpan(column));
    SqlNode* value = parseExpr();
    append(assignments->children(), newBinaryOp(arena_, opEq, target, value, emptySpan()));
    if (!check(tkComma)) break;
    advance();
  }
  append(stmt->children(), assignments);
  if (check(tkWhere)) {
    advance();
    SqlNode* where = newNode(arena_, nkWhereClause, emptySpan());
    append(where->children(), parseExpr());
    append(stmt->children(), where);
  }
  return stmt;
}

SqlNode* Parser::parseDeleteStmt() {
  Token del = expect(tkDelete);
  expect(tkFrom);
  SqlNode* stmt = newNode(arena_, nkDelete, tokenSpan(del));
  Token table = expectIdent("table name");
  append(stmt->children(), newIdent(arena_, table.lexeme, tokenSpan(table)));
  if (check(tkWhere)) {
    advance();
    SqlNode* where = newNode(arena_, nkWhereClause, emptySpan());
    append(where->children(), parseExpr());
    append(stmt->children(), where);
  }
  return stmt;
}

}  // namespace quorix
