// SELECT: clauses in their fixed order, select items, FROM items and joins, ORDER BY items.
#include "common/errors.h"
#include "parser/parser.h"

namespace quorix {

SqlNode* Parser::parseSelectStmt() {
  Token select = expect(tkSelect);
  SqlNode* query = newNode(arena_, nkSelect, tokenSpan(select));
  NodeList& clauses = query->children();
  if (check(tkDistinct)) {
    advance();
    append(clauses, newIdent(arena_, "DISTINCT", emptySpan()));
  }
  SqlNode* list = newNode(arena_, nkExprList, emptySpan());
  parseSelectList(list->children());
  append(clauses, list);
  if (check(tkFrom)) {
    advance();
    append(clauses, parseFromClause());
  }
  if (check(tkWhere)) {
    advance();
    SqlNode* where = newNode(arena_, nkWhereClause, emptySpan());
    append(where->children(), parseExpr());
    append(clauses, where);
  }
  if (check(tkGroup)) {
    advance();
    expect(tkBy);
    SqlNode* group = newNode(arena_, nkGroupByClause, emptySpan());
    append(group->children(), parseExpr());
    while (check(tkComma)) {
      advance();
      append(group->children(), parseExpr());
    }
    append(clauses, group);
  }
  if (check(tkHaving)) {
    advance();
    SqlNode* having = newNode(arena_, nkHavingClause, emptySpan());
    append(having->children(), parseExpr());
    append(clauses, having);
  }
  if (check(tkOrder)) {
    advance();
    expect(tkBy);
    SqlNode* order = newNode(arena_, nkOrderByClause, emptySpan());
    append(order->children(), parseOrderByItem());
    while (check(tkComma)) {
      advance();
      append(order->children(), parseOrderByItem());
    }
    append(clauses, order);
  }
  if (check(tkLimit)) {
    advance();
    SqlNode* limit = newNode(arena_, nkLimitClause, emptySpan());
    append(limit->children(), parseExpr());
    if (check(tkOffset)) {
      advance();
      append(limit->children(), parseExpr());
    }
    append(clauses, limit);
  }
  return query;
}

void Parser::parseSelectList(NodeList& items) {
  append(items, parseSelectItem());
  while (check(tkComma)) {
    advance();
    append(items, parseSelectItem());
  }
}

SqlNode* Parser::parseSelectItem() { return parseOptionalAlias(parseExpr()); }

SqlNode* Parser::parseOptionalAlias(SqlNode* node) {
  if (check(tkAs)) {
    advance();
    Token alias = expectIdent("alias");
    return newAlias(arena_, node, alias.lexeme, tokenSpan(alias));
  }
  if (check(tkIdent)) {
    Token alias = advance();
    return newAlias(arena_, node, alias.lexeme, tokenSpan(alias));
  }
  return node;
}

SqlNode* Parser::parseFromClause() {
  SqlNode* from = newNode(arena_, nkFromClause, currentSpan());
  SqlNode* left = parseFromItem();
  for (;;) {
    TokenKind k = current_.kind;
    if (k != tkJoin && k != tkInner && k != tkLeft && k != tkRight && k != tkFull && k != tkCross &&
        k != tkNatural) {
      while (check(tkComma)) {
        advance();
        SqlNode* right = parseFromItem();
        left = newJoin(arena_, jkCross, left, right, nullptr, {}, false, emptySpan());
      }
      append(from->children(), left);
      return from;
    }
    bool natural = false;
    if (k == tkNatural) {
      advance();
      natural = true;
      k = current_.kind;
    }
    JoinKind kind;
    switch (k) {
      case tkJoin:
        advance();
        kind = jkInner;
        break;
      case tkInner:
        advance();
        expect(tkJoin);
        kind = jkInner;
        break;
      case tkLeft:
      case tkRight:
      case tkFull:
        advance();
        if (check(tkOuter)) advance();
        expect(tkJoin);
        kind = k == tkLeft ? jkLeft : k == tkRight ? jkRight : jkFull;
        break;
      case tkCross:
        advance();
        expect(tkJoin);
        kind = jkCross;
        break;
      default:
        error("expected JOIN");
    }
    SqlNode* right = parseFromItem();
    SqlNode* condition = nullptr;
    NameList usingNames;
    if (check(tkOn)) {
      advance();
      condition = parseExpr();
    } else if (check(tkUsing)) {
      usingNames = parseUsingClause();
    }
    left = newJoin(arena_, kind, left, right, condition, usingNames, natural, emptySpan());
  }
}

SqlNode* Parser::parseFromItem() {
  if (check(tkLParen)) {
    NestingGuard guard(*this);
    Token paren = advance();
    if (!check(tkSelect)) error("expected SELECT in FROM derived table");
    SqlNode* query = parseSelectStmt();
    expect(tkRParen);
    SqlNode* derived = newNode(arena_, nkFromDerived, tokenSpan(paren));
    append(derived->children(), query);
    return parseOptionalAlias(derived);
  }
  Token name = expectIdent("table name");
  return parseOptionalAlias(newIdent(arena_, name.lexeme, tokenSpan(name)));
}

NameList Parser::parseUsingClause() {
  NameList names;
  expect(tkUsing);
  expect(tkLParen);
  appendName(arena_, names, expectIdent("USING column").lexeme);
  while (check(tkComma)) {
    advance();
    appendName(arena_, names, expectIdent("USING column").lexeme);
  }
  expect(tkRParen);
  return names;
}

SqlNode* Parser::parseOrderByItem() {
  SqlNode* item = parseExpr();
  if (check(tkAsc) || check(tkDesc)) {
    Token dir = advance();
    bool asc = dir.kind == tkAsc;
    item = newAlias(arena_, item, asc ? "ASC" : "DESC", tokenSpan(dir));
    item->ascending = asc ? 1 : 0;
  }
  if (check(tkNulls)) {
    advance();
    int8_t first;
    if (check(tkFirst)) {
      first = 1;
    } else if (check(tkLast)) {
      first = 0;
    } else {
      error("expected FIRST or LAST after NULLS");
    }
    advance();
    item->nullsFirst = first;
  }
  return item;
}

}  // namespace quorix
