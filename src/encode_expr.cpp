// Expressions: variant maps, literals, operator names.
#include <charconv>

#include "encoder.h"
#include "errors.h"

namespace quorix {

namespace {

constexpr std::string_view kBinaryOpTexts[] = {"Eq",   "Neq",          "Lt",  "LtEq", "Gt",
                                               "GtEq", "Add",          "Sub", "Mul",  "Div",
                                               "Mod",  "StringConcat", "And", "Or"};

// Operators written as the generic "BinaryOp" variant; the others have variants of their own.
bool isGenericBinary(const SqlNode* n) {
  if (n->kind != nkBinaryOp) return false;
  switch (n->binOp()) {
    case opIn:
    case opNotIn:
    case opLike:
    case opNotLike:
    case opBetween:
    case opNotBetween:
      return false;
    default:
      return true;
  }
}

const SqlNode* unwrapAlias(const SqlNode* n) {
  while (n != nullptr && n->kind == nkAlias) n = n->aliasExpr();
  return n;
}

}  // namespace

std::string_view normalizedBinaryOp(BinaryOperator op) {
  if (op < std::size(kBinaryOpTexts)) return kBinaryOpTexts[op];
  return binaryOperatorName(op);
}

std::string_view normalizedBinaryOp(std::string_view memberName) {
  for (size_t i = 0; i < std::size(kBinaryOpTexts); ++i) {
    if (binaryOperatorName(static_cast<BinaryOperator>(i)) == memberName) return kBinaryOpTexts[i];
  }
  return memberName;
}

std::string_view normalizedUnaryOp(UnaryOperator op) {
  if (op == opNot) return "Not";
  if (op == opNeg) return "Minus";
  return unaryOperatorName(op);
}

std::string_view normalizedQuantifier(bool all) { return all ? "All" : "Any"; }

void Encoder::writeExprSeq(const NodeList& nodes) {
  w_.writeArrayHeader(nodes.size);
  for (const SqlNode* n = nodes.first; n != nullptr; n = n->next) writeExpr(n);
}

void Encoder::writeSubquery(const SqlNode* query) {
  w_.writeMapHeader(2);
  w_.writeRaw(key::kind);
  writeStatementKind(query);
  w_.writeRaw(key::span);
  writeSpan(query);
}

void Encoder::writeExpr(const SqlNode* node) {
  node = unwrapAlias(node);
  if (node == nullptr) {
    w_.writeNil();
    return;
  }
  // A left-deep chain (a OR b OR c ..., 1 + 2 + ...) is as deep as it is long. Its spine is
  // walked with an explicit stack: the prefix of every link is written on the way down, the
  // operator, right operand and span on the way back up. Right operands are shallow by the
  // grammar, so the recursion left is bounded by the parser's nesting limit.
  const size_t base = chain_.size();
  while (node != nullptr && isGenericBinary(node)) {
    w_.writeMapHeader(2);
    w_.writeRaw(key::kind);
    w_.writeMapHeader(4);
    w_.writeRaw(key::variant);
    w_.writeRaw(packed("BinaryOp"));
    w_.writeRaw(key::left);
    chain_.push(node);
    node = unwrapAlias(node->binLeft());
  }
  if (node == nullptr) {
    w_.writeNil();  // only a link whose left operand is missing gets here
  } else {
    w_.writeMapHeader(2);
    w_.writeRaw(key::kind);
    writeExprVariant(node);
    w_.writeRaw(key::span);
    writeSpan(node);
  }
  while (chain_.size() > base) {
    const SqlNode* link = chain_.pop();
    w_.writeRaw(key::op);
    w_.writeString(normalizedBinaryOp(link->binOp()));
    w_.writeRaw(key::right);
    writeExpr(link->binRight());
    w_.writeRaw(key::span);
    writeSpan(link);
  }
}

void Encoder::writeExprVariant(const SqlNode* node) {
  switch (node->kind) {
    case nkIdentifier:
      w_.writeMapHeader(3);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("ColumnRef"));
      w_.writeRaw(key::table);
      w_.writeNil();
      w_.writeRaw(key::column);
      w_.writeString(node->strVal());
      return;
    case nkStar:
      w_.writeMapHeader(3);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("ColumnRef"));
      w_.writeRaw(key::table);
      w_.writeNil();
      w_.writeRaw(key::column);
      w_.writeRaw(packed("*"));
      return;
    case nkColumnRef:
      w_.writeMapHeader(3);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("ColumnRef"));
      w_.writeRaw(key::table);
      w_.writeString(firstIdent(node->children().at(0)));
      w_.writeRaw(key::column);
      w_.writeString(firstIdent(node->children().at(1)));
      return;
    case nkStringLit:
    case nkIntLit:
    case nkFloatLit:
    case nkBoolLit:
    case nkNull:
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Literal"));
      w_.writeRaw(key::literal);
      writeLiteralKind(node);
      return;
    case nkBinaryOp: {
      // Only the list-carrying operators reach here; generic ones are handled by writeExpr.
      BinaryOperator op = node->binOp();
      if (op == opIn || op == opNotIn) {
        w_.writeMapHeader(4);
        w_.writeRaw(key::variant);
        w_.writeRaw(packed("InList"));
        w_.writeRaw(key::expr);
        writeExpr(node->binLeft());
        w_.writeRaw(key::list);
        writeExprSeq(node->binRight()->children());
        w_.writeRaw(key::negated);
        w_.writeBool(op == opNotIn);
      } else if (op == opLike || op == opNotLike) {
        w_.writeMapHeader(5);
        w_.writeRaw(key::variant);
        w_.writeRaw(packed("Like"));
        w_.writeRaw(key::expr);
        writeExpr(node->binLeft());
        const SqlNode* right = node->binRight();
        const SqlNode* pattern = right;
        const SqlNode* escape = nullptr;
        if (right != nullptr && right->kind == nkExprList) {
          const NodeList& parts = right->children();
          pattern = parts.at(0);
          if (parts.size >= 2) escape = parts.first->next;
        }
        w_.writeRaw(key::pattern);
        writeExpr(pattern);
        w_.writeRaw(key::escape);
        writeExpr(escape);
        w_.writeRaw(key::negated);
        w_.writeBool(op == opNotLike);
      } else {
        const NodeList& bounds = node->binRight()->children();
        w_.writeMapHeader(5);
        w_.writeRaw(key::variant);
        w_.writeRaw(packed("Between"));
        w_.writeRaw(key::expr);
        writeExpr(node->binLeft());
        w_.writeRaw(key::low);
        writeExpr(bounds.at(0));
        w_.writeRaw(key::high);
        writeExpr(bounds.at(1));
        w_.writeRaw(key::negated);
        w_.writeBool(op == opNotBetween);
      }
      return;
    }
    case nkUnaryOp: {
      UnaryOperator op = node->unOp();
      if (op == opIsNull || op == opIsNotNull) {
        w_.writeMapHeader(3);
        w_.writeRaw(key::variant);
        w_.writeRaw(packed("IsNull"));
        w_.writeRaw(key::expr);
        writeExpr(node->unOperand());
        w_.writeRaw(key::negated);
        w_.writeBool(op == opIsNotNull);
      } else {
        w_.writeMapHeader(3);
        w_.writeRaw(key::variant);
        w_.writeRaw(packed("UnaryOp"));
        w_.writeRaw(key::op);
        w_.writeString(normalizedUnaryOp(op));
        w_.writeRaw(key::operand);
        writeExpr(node->unOperand());
      }
      return;
    }
    case nkFunctionCall: {
      const NodeList& parts = node->children();
      w_.writeMapHeader(5);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("FunctionCall"));
      w_.writeRaw(key::name);
      w_.writeString(firstIdent(parts.first));
      w_.writeRaw(key::args);
      if (node->star || parts.size == 0) {
        w_.writeArrayHeader(0);
      } else {
        w_.writeArrayHeader(parts.size - 1);
        for (const SqlNode* a = parts.first->next; a != nullptr; a = a->next) writeExpr(a);
      }
      w_.writeRaw(key::distinct);
      w_.writeBool(node->distinct);
      w_.writeRaw(key::star);
      w_.writeBool(node->star);
      return;
    }
    case nkVectorLiteral: {
      const NodeList& parts = node->children();
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("VectorLiteral"));
      w_.writeRaw(key::values);
      w_.writeArrayHeader(parts.size);
      for (const SqlNode* v = parts.first; v != nullptr; v = v->next) w_.writeDouble(v->floatVal());
      return;
    }
    case nkScalarSubquery:
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("ScalarSubquery"));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(0));
      return;
    case nkInSubquery:
      w_.writeMapHeader(4);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("InSubquery"));
      w_.writeRaw(key::expr);
      writeExpr(node->children().at(0));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(1));
      w_.writeRaw(key::negated);
      w_.writeBool(node->negated);
      return;
    case nkExists:
      w_.writeMapHeader(3);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Exists"));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(0));
      w_.writeRaw(key::negated);
      w_.writeBool(node->negated);
      return;
    case nkQuantified:
      w_.writeMapHeader(5);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Quantified"));
      w_.writeRaw(key::expr);
      writeExpr(node->children().at(0));
      w_.writeRaw(key::op);
      w_.writeString(normalizedBinaryOp(firstIdent(node->children().at(1))));
      w_.writeRaw(key::quantifier);
      w_.writeString(normalizedQuantifier(node->quantifierAll));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(2));
      return;
    default:
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("ColumnRef"));
      w_.writeRaw(key::column);
      w_.writeString(firstIdent(node));
      return;
  }
}

void Encoder::writeLiteralKind(const SqlNode* node) {
  switch (node->kind) {
    case nkStringLit:
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("String"));
      w_.writeRaw(key::value);
      w_.writeString(node->strVal());
      return;
    case nkIntLit: {
      char text[24];
      auto res = std::to_chars(text, text + sizeof text, node->intVal());
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Number"));
      w_.writeRaw(key::value);
      w_.writeString(std::string_view(text, static_cast<size_t>(res.ptr - text)));
      return;
    }
    case nkFloatLit: {
      char text[40];
      size_t n = formatFloatText(node->floatVal(), text);
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Number"));
      w_.writeRaw(key::value);
      w_.writeString(std::string_view(text, n));
      return;
    }
    case nkBoolLit:
      w_.writeMapHeader(2);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Boolean"));
      w_.writeRaw(key::value);
      w_.writeBool(node->boolVal());
      return;
    default:
      w_.writeMapHeader(1);
      w_.writeRaw(key::variant);
      w_.writeRaw(packed("Null"));
      return;
  }
}

}  // namespace quorix
