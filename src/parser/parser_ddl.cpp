// CREATE TABLE, CREATE INDEX, DROP TABLE and DROP INDEX.
#include "common/errors.h"
#include "parser/parser.h"

namespace quorix {

namespace {

bool isOptionValueKind(TokenKind kind) {
  switch (kind) {
    case tkIdent:
    case tkString:
    case tkInteger:
    case tkFloat:
    case tkInner:
    case tkText:
    case tkBoolean:
    case tkBool:
    case tkHnsw:
    case tkBtree:
    case tkCosine:
    case tkL2:
      return true;
    default:
      return false;
  }
}

}  // namespace

SqlNode* Parser::parseCreateTableAfterCreate(const Token& createToken) {
  expect(tkTable);
  SqlNode* stmt = newNode(arena_, nkCreateTable, tokenSpan(createToken));
  NodeList& parts = stmt->children();
  if (check(tkIf)) {
    advance();
    expect(tkNot);
    expect(tkExists);
    append(parts, newIdent(arena_, "IF NOT EXISTS", emptySpan()));
  }
  Token name = expectIdent("table name");
  append(parts, newIdent(arena_, name.lexeme, tokenSpan(name)));
  expect(tkLParen);
  append(parts, parseColumnDef());
  while (check(tkComma)) {
    advance();
    TokenKind k = current_.kind;
    if (k == tkPrimary || k == tkForeign || k == tkUnique || k == tkConstraint) {
      append(parts, parseTableConstraint());
    } else {
      append(parts, parseColumnDef());
    }
  }
  expect(tkRParen);
  if (check(tkWith)) append(parts, parseWithOptions());
  return stmt;
}

SqlNode* Parser::parseTableConstraint() {
  Token intro = advance();
  SqlNode* constraint = newNode(arena_, nkConstraint, emptySpan());
  NodeList& parts = constraint->children();
  append(parts, newIdent(arena_, intro.lexeme, emptySpan()));
  if (check(tkKey)) advance();
  if (check(tkLParen)) {
    advance();
    append(parts, newIdent(arena_, expectIdent("constraint column").lexeme, emptySpan()));
    while (check(tkComma)) {
      advance();
      append(parts, newIdent(arena_, expectIdent("constraint column").lexeme, emptySpan()));
    }
    expect(tkRParen);
  }
  return constraint;
}

SqlNode* Parser::parseColumnDef() {
  Token name = expectIdent("column name");
  SqlNode* type = parseTypeName();
  SqlNode* column = newColumnDef(arena_, name.lexeme, type, tokenSpan(name));
  NodeList& constraints = column->colConstraints();
  for (;;) {
    const char* text;
    SqlNode* value = nullptr;
    switch (current_.kind) {
      case tkNot:
        advance();
        expect(tkNull);
        text = "NOT NULL";
        break;
      case tkPrimary:
        advance();
        expect(tkKey);
        text = "PRIMARY KEY";
        break;
      case tkUnique:
        advance();
        text = "UNIQUE";
        break;
      case tkDefault:
        advance();
        text = "DEFAULT";
        value = parseExpr();
        break;
      default:
        return column;
    }
    SqlNode* constraint = newNode(arena_, nkConstraint, emptySpan());
    append(constraint->children(), newIdent(arena_, text, emptySpan()));
    if (value != nullptr) append(constraint->children(), value);
    append(constraints, constraint);
  }
}

SqlNode* Parser::parseWithOptions() {
  SqlNode* options = newNode(arena_, nkWithOptions, emptySpan());
  expect(tkWith);
  expect(tkLParen);
  for (;;) {
    Token key = expectIdent("option key");
    expect(tkEq);
    Token value = expectOptionValue();
    SqlNode* option = newNode(arena_, nkIndexOption, tokenSpan(key));
    append(option->children(), newIdent(arena_, key.lexeme, tokenSpan(key)));
    append(option->children(), newStringLit(arena_, value.lexeme, tokenSpan(value)));
    append(options->children(), option);
    if (!check(tkComma)) break;
    advance();
  }
  expect(tkRParen);
  return options;
}

Token Parser::expectOptionValue() {
  if (!isOptionValueKind(current_.kind)) error("expected option value");
  return advance();
}

SqlNode* Parser::parseCreateIndexAfterCreate(const Token& createToken) {
  expect(tkIndex);
  SqlNode* stmt = newNode(arena_, nkCreateIndex, tokenSpan(createToken));
  NodeList& parts = stmt->children();
  if (check(tkIf)) {
    advance();
    expect(tkNot);
    expect(tkExists);
    append(parts, newIdent(arena_, "IF NOT EXISTS", emptySpan()));
  }
  Token index = expectIdent("index name");
  expect(tkOn);
  Token table = expectIdent("table name");
  expect(tkLParen);
  Token column = expectIdent("index column");
  expect(tkRParen);
  append(parts, newIdent(arena_, index.lexeme, tokenSpan(index)));
  append(parts, newIdent(arena_, table.lexeme, tokenSpan(table)));
  append(parts, newIdent(arena_, column.lexeme, tokenSpan(column)));
  if (check(tkUsing)) {
    advance();
    if (!check(tkHnsw) && !check(tkBtree)) error("expected HNSW or BTREE index method");
    Token method = advance();
    append(parts, newIdent(arena_, method.lexeme, tokenSpan(method)));
  }
  if (check(tkWith)) append(parts, parseWithOptions());
  return stmt;
}

SqlNode* Parser::parseDropTableAfterDrop(const Token& dropToken) {
  expect(tkTable);
  SqlNode* stmt = newNode(arena_, nkDropTable, tokenSpan(dropToken));
  if (check(tkIf)) {
    advance();
    expect(tkExists);
    append(stmt->children(), newIdent(arena_, "IF EXISTS", emptySpan()));
  }
  Token name = expectIdent("table name");
  append(stmt->children(), newIdent(arena_, name.lexeme, tokenSpan(name)));
  return stmt;
}

SqlNode* Parser::parseDropIndexAfterDrop(const Token& dropToken) {
  expect(tkIndex);
  SqlNode* stmt = newNode(arena_, nkDropIndex, tokenSpan(dropToken));
  if (check(tkIf)) {
    advance();
    expect(tkExists);
    append(stmt->children(), newIdent(arena_, "IF EXISTS", emptySpan()));
  }
  Token name = expectIdent("index name");
  append(stmt->children(), newIdent(arena_, name.lexeme, tokenSpan(name)));
  return stmt;
}

}  // namespace quorix
