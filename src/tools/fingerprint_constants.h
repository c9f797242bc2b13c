// What normalize and fingerprint agree to call a constant, and the one place that knows where a
// node keeps its sub-nodes. Both tools must draw the line in the same place: two statements
// that normalize to the same text must fingerprint alike.
#pragma once

#include "ast/ast.h"

namespace quorix::tools::detail {

inline constexpr uint64_t kConstantKinds = kindBit(nkIntLit) | kindBit(nkFloatLit) |
                                           kindBit(nkStringLit) | kindBit(nkBoolLit) |
                                           kindBit(nkVectorLiteral);

// A value that a query log would bind as a parameter. NULL is left out on purpose: `a = NULL`
// and `a = 1` are different questions, and `$1` could never stand for NULL's meaning.
inline bool isConstant(const SqlNode* n) { return ((kConstantKinds >> n->kind) & 1) != 0; }

// A whole ORDER BY or GROUP BY item that is a bare integer names a column by its position:
// `ORDER BY 1` and `ORDER BY 2` sort differently, so that number is part of the statement.
inline bool isPosition(const SqlNode* item) {
  if (item->kind == nkAlias && item->ascending != -1) item = item->aliasExpr();
  return item->kind == nkIntLit;
}

inline bool holdsPositions(const SqlNode* n) {
  return n->kind == nkOrderByClause || n->kind == nkGroupByClause;
}

// Statements whose literals are settings (a DEFAULT, a WITH option), not values a client binds.
inline bool isDefinition(const SqlNode* stmt) {
  return stmt->kind == nkCreateTable || stmt->kind == nkDropTable || stmt->kind == nkCreateIndex ||
         stmt->kind == nkDropIndex;
}

// Calls visit(child) for each sub-node of `n` in text order. Lists are walked by a loop, so the
// caller decides how deep it goes and with what stack.
template <typename Visit>
void forEachChild(const SqlNode* n, Visit&& visit) {
  switch (n->kind) {
    case nkIdentifier:
    case nkStringLit:
    case nkIntLit:
    case nkFloatLit:
    case nkBoolLit:
    case nkVectorLiteral:
      return;
    case nkBinaryOp:
      visit(n->binLeft());
      visit(n->binRight());
      return;
    case nkUnaryOp:
      visit(n->unOperand());
      return;
    case nkAlias:
      visit(n->aliasExpr());
      return;
    case nkJoin:
      visit(n->joinLeft());
      visit(n->joinRight());
      if (n->joinCond() != nullptr) visit(n->joinCond());
      return;
    case nkColumnDef:
      visit(n->colType());
      for (const SqlNode* c = n->colConstraints().first; c != nullptr; c = c->next) visit(c);
      return;
    default:
      for (const SqlNode* c = n->children().first; c != nullptr; c = c->next) visit(c);
      return;
  }
}

}  // namespace quorix::tools::detail
