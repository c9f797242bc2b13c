// The syntax tree: node kinds, their fields, operators, spans, and span filling.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "common/arena.h"
#include "common/numbers.h"

namespace quorix {

struct Location {
  int64_t line = 0;
  int64_t column = 0;
};

struct Span {
  Location start;
  Location end;
};

inline Span newSpan(int64_t line, int64_t startColumn, int64_t endColumn) {
  return Span{{line, startColumn}, {line, endColumn}};
}
// A reference to one constant: nodes built without a position pass it by address, which keeps
// the parser's frames small.
inline constexpr Span kEmptySpan{};
inline const Span& emptySpan() { return kEmptySpan; }
inline bool isEmpty(Location l) { return l.line == 0 && l.column == 0; }

// clang-format off
#define QUORIX_NODE_KINDS(X) \
  X(nkSelect) X(nkInsert) X(nkUpdate) X(nkDelete) \
  X(nkCreateTable) X(nkDropTable) X(nkCreateIndex) X(nkDropIndex) \
  X(nkIdentifier) X(nkStringLit) X(nkIntLit) X(nkFloatLit) \
  X(nkBoolLit) X(nkNull) X(nkStar) X(nkColumnRef) \
  X(nkBinaryOp) X(nkUnaryOp) X(nkFunctionCall) X(nkAlias) \
  X(nkFromClause) X(nkFromDerived) X(nkWhereClause) X(nkOrderByClause) \
  X(nkGroupByClause) X(nkHavingClause) X(nkLimitClause) X(nkJoin) \
  X(nkColumnDef) X(nkTypeName) X(nkConstraint) X(nkExprList) \
  X(nkColumnList) X(nkWithOptions) X(nkIndexOption) X(nkVectorLiteral) \
  X(nkScalarSubquery) X(nkInSubquery) X(nkExists) X(nkQuantified)
// clang-format on

enum NodeKind : uint8_t {
#define QUORIX_ENUM_MEMBER(name) name,
  QUORIX_NODE_KINDS(QUORIX_ENUM_MEMBER)
#undef QUORIX_ENUM_MEMBER
};

enum BinaryOperator : uint8_t {
  opEq,
  opNeq,
  opLt,
  opLe,
  opGt,
  opGe,
  opAdd,
  opSub,
  opMul,
  opDiv,
  opMod,
  opStringConcat,
  opAnd,
  opOr,
  opLike,
  opNotLike,
  opIn,
  opNotIn,
  opBetween,
  opNotBetween,
  opIs
};

enum UnaryOperator : uint8_t { opNot, opNeg, opIsNull, opIsNotNull };

enum JoinKind : uint8_t { jkInner, jkLeft, jkRight, jkFull, jkCross };

std::string_view nodeKindName(NodeKind kind);
std::string_view binaryOperatorName(BinaryOperator op);
std::string_view unaryOperatorName(UnaryOperator op);

struct SqlNode;

// An ordered child sequence, linked through SqlNode::next so that appending never reallocates.
struct NodeList {
  SqlNode* first = nullptr;
  SqlNode* last = nullptr;
  size_t size = 0;

  bool empty() const { return size == 0; }
  // Bounds-checked positional read; raises the index fault when out of range.
  SqlNode* at(size_t index) const;
};

struct NameLink {
  std::string_view name;
  NameLink* next = nullptr;
};

struct NameList {
  NameLink* first = nullptr;
  NameLink* last = nullptr;
  size_t size = 0;
};

// The elements of a vector literal: hundreds of numbers that carry no span of their own, so
// they are kept as one array rather than as a node each.
struct DoubleArray {
  const double* data = nullptr;
  size_t size = 0;
};

// Raises the internal defect for reading `field` of a node whose kind lacks it.
[[noreturn]] void raiseFieldAccess(std::string_view field, NodeKind kind);

constexpr uint64_t kindBit(NodeKind k) { return uint64_t(1) << k; }
inline constexpr uint64_t kNoChildrenKinds =
    kindBit(nkIdentifier) | kindBit(nkStringLit) | kindBit(nkIntLit) | kindBit(nkFloatLit) |
    kindBit(nkBoolLit) | kindBit(nkBinaryOp) | kindBit(nkUnaryOp) | kindBit(nkAlias) |
    kindBit(nkJoin) | kindBit(nkColumnDef) | kindBit(nkVectorLiteral);
inline constexpr uint64_t kHasChildren =
    ((uint64_t(1) << (nkQuantified + 1)) - 1) & ~kNoChildrenKinds;
inline constexpr uint64_t kHasStrVal = kindBit(nkIdentifier) | kindBit(nkStringLit);

// One node of the tree. The common fields are always present; the kind-specific ones are
// reached through accessors that check the kind, so a read that the kind does not carry is
// reported as an internal defect instead of returning garbage.
struct SqlNode {
  Span span;
  bool distinct = false;
  bool star = false;
  bool negated = false;
  bool natural = false;
  bool quantifierAll = false;
  int8_t ascending = -1;   // -1 not given, 1 ASC, 0 DESC
  int8_t nullsFirst = -1;  // -1 not given, 1 NULLS FIRST, 0 NULLS LAST
  NodeKind kind = nkNull;
  SqlNode* next = nullptr;  // the following sibling in the parent's sequence

  NodeList& children() { return check(kHasChildren, "children"), list_; }
  const NodeList& children() const { return check(kHasChildren, "children"), list_; }
  std::string_view strVal() const { return check(kHasStrVal, "strVal"), str_; }
  // A number literal keeps its lexeme only: most are written out as they stand, and the
  // value is converted on the rare reads (the parser has checked that it converts).
  int64_t intVal() const { return checkKind(nkIntLit, "intVal"), convertIntegerLexeme(str_); }
  double floatVal() const { return checkKind(nkFloatLit, "floatVal"), convertFloatLexeme(str_); }
  bool boolVal() const { return checkKind(nkBoolLit, "boolVal"), bool_; }
  // A number as it is written (digits, and a point with digits after it for a decimal).
  std::string_view numberLexeme() const {
    return check(kindBit(nkIntLit) | kindBit(nkFloatLit), "numberLexeme"), str_;
  }
  BinaryOperator binOp() const { return checkKind(nkBinaryOp, "binOp"), BinaryOperator(op_); }
  SqlNode* binLeft() const { return checkKind(nkBinaryOp, "binLeft"), a_; }
  SqlNode* binRight() const { return checkKind(nkBinaryOp, "binRight"), b_; }
  UnaryOperator unOp() const { return checkKind(nkUnaryOp, "unOp"), UnaryOperator(op_); }
  SqlNode* unOperand() const { return checkKind(nkUnaryOp, "unOperand"), a_; }
  SqlNode* aliasExpr() const { return checkKind(nkAlias, "aliasExpr"), a_; }
  std::string_view aliasName() const { return checkKind(nkAlias, "aliasName"), str_; }
  JoinKind joinKind() const { return checkKind(nkJoin, "joinKind"), JoinKind(op_); }
  SqlNode* joinLeft() const { return checkKind(nkJoin, "joinLeft"), a_; }
  SqlNode* joinRight() const { return checkKind(nkJoin, "joinRight"), b_; }
  SqlNode* joinCond() const { return checkKind(nkJoin, "joinCond"), c_; }
  const NameList& joinUsing() const { return checkKind(nkJoin, "joinUsing"), names_; }
  // The token kind of the keyword a type name was written with (the scanner's TokenKind).
  uint8_t typeKeyword() const { return checkKind(nkTypeName, "typeKeyword"), op_; }
  const DoubleArray& vectorValues() const {
    return checkKind(nkVectorLiteral, "vectorValues"), values_;
  }
  std::string_view colName() const { return checkKind(nkColumnDef, "colName"), str_; }
  SqlNode* colType() const { return checkKind(nkColumnDef, "colType"), a_; }
  NodeList& colConstraints() { return checkKind(nkColumnDef, "colConstraints"), list_; }
  const NodeList& colConstraints() const { return checkKind(nkColumnDef, "colConstraints"), list_; }

  // Payload storage; reached directly only by the constructors in ast.cpp.
  std::string_view str_;  // strVal, aliasName, colName, numberLexeme
  SqlNode* a_ = nullptr;  // binLeft, unOperand, aliasExpr, joinLeft, colType
  SqlNode* b_ = nullptr;  // binRight, joinRight
  SqlNode* c_ = nullptr;  // joinCond
  union {
    NodeList list_{};     // children, colConstraints (no kind has both these and joinUsing)
    NameList names_;      // joinUsing
    DoubleArray values_;  // vectorValues
  };
  bool bool_ = false;  // boolVal
  uint8_t op_ = 0;     // binOp, unOp, joinKind, typeKeyword

 private:
  void check(uint64_t mask, std::string_view field) const {
    if (!((mask >> kind) & 1)) [[unlikely]]
      raiseFieldAccess(field, kind);
  }
  void checkKind(NodeKind k, std::string_view field) const {
    if (kind != k) [[unlikely]]
      raiseFieldAccess(field, kind);
  }
};

static_assert(std::is_trivially_destructible_v<SqlNode>);
static_assert(std::is_trivially_copyable_v<SqlNode>);

// Constructors. Every node lives in the arena of its parse. They are inline so that a token's
// span goes straight into its node; under AddressSanitizer, whose frames are several times
// larger, they stay out of line, or the parser's frames would no longer fit the nesting limit
// into a 1 MiB stack there.
#if defined(__SANITIZE_ADDRESS__)
#define QUORIX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORIX_UNDER_ASAN 1
#endif
#endif
#ifdef QUORIX_UNDER_ASAN
#define QUORIX_NODE_CTOR [[gnu::noinline]] inline
#else
#define QUORIX_NODE_CTOR inline
#endif

// Copying a constant blank node compiles to a few wide stores; value-initialising one in place
// compiles to `rep stos`, whose start-up cost dominated node construction.
inline constexpr SqlNode kBlankNode{};

QUORIX_NODE_CTOR SqlNode* newNode(Arena& arena, NodeKind kind, const Span& span) {
  void* p = arena.allocate(sizeof(SqlNode), alignof(SqlNode));
  std::memcpy(p, &kBlankNode, sizeof(SqlNode));  // SqlNode is trivially copyable
  auto* n = static_cast<SqlNode*>(p);
  n->kind = kind;
  n->span = span;
  return n;
}

// The leaves that are a piece of text: a name, a string, a number's lexeme.
QUORIX_NODE_CTOR SqlNode* newTextLeaf(Arena& arena, NodeKind kind, std::string_view text,
                                      const Span& span) {
  SqlNode* n = newNode(arena, kind, span);
  n->str_ = text;
  return n;
}
QUORIX_NODE_CTOR SqlNode* newIdent(Arena& arena, std::string_view name, const Span& span) {
  return newTextLeaf(arena, nkIdentifier, name, span);
}
QUORIX_NODE_CTOR SqlNode* newStringLit(Arena& arena, std::string_view text, const Span& span) {
  return newTextLeaf(arena, nkStringLit, text, span);
}
// `lexeme` must convert (see intVal and floatVal): the scanner's digits, and for an integer
// one within the 64-bit range.
QUORIX_NODE_CTOR SqlNode* newIntLit(Arena& arena, std::string_view lexeme, const Span& span) {
  return newTextLeaf(arena, nkIntLit, lexeme, span);
}
QUORIX_NODE_CTOR SqlNode* newFloatLit(Arena& arena, std::string_view lexeme, const Span& span) {
  return newTextLeaf(arena, nkFloatLit, lexeme, span);
}

QUORIX_NODE_CTOR SqlNode* newVectorLiteral(Arena& arena, DoubleArray values, const Span& span) {
  SqlNode* n = newNode(arena, nkVectorLiteral, span);
  n->values_ = values;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newBoolLit(Arena& arena, bool value, const Span& span) {
  SqlNode* n = newNode(arena, nkBoolLit, span);
  n->bool_ = value;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newNull(Arena& arena, const Span& span) {
  return newNode(arena, nkNull, span);
}
QUORIX_NODE_CTOR SqlNode* newStar(Arena& arena, const Span& span) {
  return newNode(arena, nkStar, span);
}

QUORIX_NODE_CTOR SqlNode* newTypeName(Arena& arena, uint8_t keyword, const Span& span) {
  SqlNode* n = newNode(arena, nkTypeName, span);
  n->op_ = keyword;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newUnaryOp(Arena& arena, UnaryOperator op, SqlNode* operand,
                                     const Span& span) {
  SqlNode* n = newNode(arena, nkUnaryOp, span);
  n->op_ = op;
  n->a_ = operand;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newBinaryOp(Arena& arena, BinaryOperator op, SqlNode* left,
                                      SqlNode* right, const Span& span) {
  SqlNode* n = newNode(arena, nkBinaryOp, span);
  n->op_ = op;
  n->a_ = left;
  n->b_ = right;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newJoin(Arena& arena, JoinKind kind, SqlNode* left, SqlNode* right,
                                  SqlNode* condition, NameList usingNames, bool natural,
                                  const Span& span) {
  SqlNode* n = newNode(arena, nkJoin, span);
  n->op_ = kind;
  n->a_ = left;
  n->b_ = right;
  n->c_ = condition;
  n->names_ = usingNames;
  n->natural = natural;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newAlias(Arena& arena, SqlNode* expr, std::string_view name,
                                   const Span& span) {
  SqlNode* n = newNode(arena, nkAlias, span);
  n->a_ = expr;
  n->str_ = name;
  return n;
}

QUORIX_NODE_CTOR SqlNode* newColumnDef(Arena& arena, std::string_view name, SqlNode* type,
                                       const Span& span) {
  SqlNode* n = newNode(arena, nkColumnDef, span);
  n->str_ = name;
  n->a_ = type;
  return n;
}

// Links `link` in at the end of a singly linked list with first, last and size.
template <typename List, typename Link>
inline void linkLast(List& list, Link* link) {
  link->next = nullptr;
  if (list.last == nullptr) {
    list.first = link;
  } else {
    list.last->next = link;
  }
  list.last = link;
  ++list.size;
}

// Appends to `list`; `child` must not be in any other sequence.
inline void append(NodeList& list, SqlNode* child) { linkLast(list, child); }
void appendName(Arena& arena, NameList& list, std::string_view name);

// Gives every node below `node` that has no span the span of its nearest ancestor that has one.
// Iterative: left-deep chains of any length are safe.
void fillMissingSpans(SqlNode* node, const SqlNode* parent);

}  // namespace quorix
