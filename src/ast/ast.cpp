#include "ast/ast.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/small_stack.h"

namespace quorix {

namespace {

constexpr std::string_view kNodeKindNames[] = {
#define QUORIX_NAME(name) #name,
    QUORIX_NODE_KINDS(QUORIX_NAME)
#undef QUORIX_NAME
};

constexpr std::string_view kBinaryOperatorNames[] = {
    "opEq",   "opNeq",     "opLt",  "opLe",    "opGt",           "opGe",         "opAdd",
    "opSub",  "opMul",     "opDiv", "opMod",   "opStringConcat", "opAnd",        "opOr",
    "opLike", "opNotLike", "opIn",  "opNotIn", "opBetween",      "opNotBetween", "opIs"};
static_assert(std::size(kBinaryOperatorNames) == opIs + 1);

constexpr std::string_view kUnaryOperatorNames[] = {"opNot", "opNeg", "opIsNull", "opIsNotNull"};

}  // namespace

std::string_view nodeKindName(NodeKind kind) {
  return kind < std::size(kNodeKindNames) ? kNodeKindNames[kind] : "nkUnknown";
}
std::string_view binaryOperatorName(BinaryOperator op) {
  return op < std::size(kBinaryOperatorNames) ? kBinaryOperatorNames[op] : "opUnknown";
}
std::string_view unaryOperatorName(UnaryOperator op) {
  return op < std::size(kUnaryOperatorNames) ? kUnaryOperatorNames[op] : "opUnknown";
}

void raiseFieldAccess(std::string_view field, NodeKind kind) {
  std::string m = "field '";
  m += field;
  m += "' is not accessible for type 'SqlNode' using 'kind = ";
  m += nodeKindName(kind);
  m += "'";
  throw InternalDefect(m);
}

void raiseIndexFault(size_t index, size_t length) {
  if (length == 0) throw InternalDefect("index out of bounds, the container is empty");
  throw InternalDefect("index " + std::to_string(index) + " not in 0 .. " +
                       std::to_string(length - 1));
}

SqlNode* NodeList::at(size_t index) const {
  if (index >= size) raiseIndexFault(index, size);
  SqlNode* n = first;
  for (size_t i = 0; i < index; ++i) n = n->next;
  return n;
}

void appendName(Arena& arena, NameList& list, std::string_view name) {
  linkLast(list, arena.make<NameLink>(name, nullptr));
}

namespace {

constexpr uint64_t kLeafKinds = kindBit(nkIdentifier) | kindBit(nkStringLit) | kindBit(nkIntLit) |
                                kindBit(nkFloatLit) | kindBit(nkBoolLit) | kindBit(nkNull) |
                                kindBit(nkStar) | kindBit(nkVectorLiteral);

}  // namespace

void fillMissingSpans(SqlNode* node, const SqlNode* parent) {
  if (node == nullptr) return;
  struct Pending {
    SqlNode* node;
    const Span* inherited;
  };
  // The order of visits does not matter, only that a parent settles before its children, so a
  // plain LIFO work list replaces the recursion.
  SmallStack<Pending, 128> work;
  // Leaves (names, literals, NULL, *) have no sub-nodes: they are settled on the spot instead of
  // going through the work list, which is then left with the inner nodes only.
  auto visit = [&work](SqlNode* child, const Span* inherited) {
    if (child == nullptr) return;
    if (((kLeafKinds >> child->kind) & 1) != 0) {
      if (isEmpty(child->span.start)) child->span = *inherited;
    } else {
      work.push({child, inherited});
    }
  };
  visit(node, &parent->span);
  while (!work.empty()) {
    Pending p = work.pop();
    SqlNode* n = p.node;
    if (isEmpty(n->span.start)) n->span = *p.inherited;
    const Span* mine = &n->span;
    // a_, b_, c_ hold exactly the sub-nodes of the kinds without children (unused ones are
    // null); list_ holds the children, or a column's constraints, except in a join, where its
    // storage holds the USING names (vector literals, whose storage holds numbers, are leaves).
    visit(n->a_, mine);
    visit(n->b_, mine);
    visit(n->c_, mine);
    if (n->kind == nkJoin) continue;
    for (SqlNode* c = n->list_.first; c != nullptr; c = c->next) visit(c, mine);
  }
}

}  // namespace quorix
