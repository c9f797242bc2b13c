// Expressions: variant maps, literals, operator names.
#include <array>
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

constexpr uint64_t kLiteralKinds = kindBit(nkStringLit) | kindBit(nkIntLit) | kindBit(nkFloatLit) |
                                   kindBit(nkBoolLit) | kindBit(nkNull);

// What follows a generic operator's left operand, "op": <name>, "right":, as one run per
// operator.
struct OpRun {
  char bytes[32];
  size_t size;
};
constexpr auto kOpRuns = [] {
  std::array<OpRun, std::size(kBinaryOpTexts)> runs{};
  for (size_t i = 0; i < runs.size(); ++i) {
    OpRun& r = runs[i];
    auto put = [&r](std::string_view piece) {
      for (char c : piece) r.bytes[r.size++] = c;
    };
    put(std::string_view(key::op.bytes, sizeof key::op.bytes));
    r.bytes[r.size++] = static_cast<char>(0xa0 | kBinaryOpTexts[i].size());
    put(kBinaryOpTexts[i]);
    put(std::string_view(key::right.bytes, sizeof key::right.bytes));
  }
  return runs;
}();

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
  // Rows of VALUES and IN lists are mostly literals, which have no operands to walk: they skip
  // writeExpr's handling of aliases and operator chains.
  for (const SqlNode* n = nodes.first; n != nullptr; n = n->next) {
    if ((kLiteralKinds >> n->kind) & 1) {
      writeLiteralExpr(n);
      writeSpanEntry(resolved(n));
    } else {
      writeExpr(n);
    }
  }
}

void Encoder::writeSubquery(const SqlNode* query) {
  SpanScope scope(*this, query);
  w_.writeRaw(kSeq<fixmap(2), key::kind>);
  writeStatementKind(query);
  writeSpanEntry(query);
}

void Encoder::writeExpr(const SqlNode* node) {
  const Span* const outer = inherited_;
  // An alias is stepped through, but what it wraps inherits its span.
  auto unwrap = [this](const SqlNode* n) {
    while (n != nullptr && n->kind == nkAlias) {
      inherited_ = &resolved(n);
      n = n->aliasExpr();
    }
    return n;
  };
  node = unwrap(node);
  if (node == nullptr) {
    w_.writeNil();
    inherited_ = outer;
    return;
  }
  // A left-deep chain (a OR b OR c ..., 1 + 2 + ...) is as deep as it is long. Its spine is
  // walked with an explicit stack: the prefix of every link is written on the way down, the
  // operator, right operand and span on the way back up. Right operands are shallow by the
  // grammar, so the recursion left is bounded by the parser's nesting limit.
  const size_t base = chain_.size();
  while (node != nullptr && isGenericBinary(node)) {
    w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(4), key::variant, packed("BinaryOp"), key::left>);
    const Span* link = &resolved(node);
    chain_.push({node, link});
    inherited_ = link;
    node = unwrap(node->binLeft());
  }
  if (node == nullptr) {
    w_.writeNil();  // only a link whose left operand is missing gets here
  } else {
    const Span& own = resolved(node);
    inherited_ = &own;
    // Column references and literals are most of all expressions: they are written here
    // without going through the dispatch over every variant.
    const NodeList* parts;
    if (node->kind == nkColumnRef && (parts = &node->children())->size == 2 &&
        parts->first->kind == nkIdentifier && parts->last->kind == nkIdentifier) {
      w_.writeRawThenString(
          kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"), key::table>,
          parts->first->strVal());
      w_.writeRawThenString(kSeq<key::column>, parts->last->strVal());
    } else if ((kLiteralKinds >> node->kind) & 1) {
      writeLiteralExpr(node);
    } else {
      writeExprVariant(node);
    }
    writeSpanEntry(own);
  }
  while (chain_.size() > base) {
    const ChainLink link = chain_.pop();
    inherited_ = link.span;
    const BinaryOperator op = link.node->binOp();
    if (op < kOpRuns.size()) {
      w_.writeRun32(kOpRuns[op].bytes, kOpRuns[op].size);
    } else {
      w_.writeRawThenString(kSeq<key::op>, normalizedBinaryOp(op));
      w_.writeRaw(key::right);
    }
    writeExpr(link.node->binRight());
    writeSpanEntry(*link.span);
  }
  inherited_ = outer;
}

void Encoder::writeExprVariant(const SqlNode* node) {
  switch (node->kind) {
    case nkIdentifier:
      w_.writeRawThenString(kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"),
                                 key::table, kNilByte, key::column>,
                            node->strVal());
      return;
    case nkStar:
      w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"),
                       key::table, kNilByte, key::column, packed("*")>);
      return;
    case nkColumnRef:
      w_.writeRawThenString(
          kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"), key::table>,
          firstIdent(node->children().at(0)));
      w_.writeRawThenString(kSeq<key::column>, firstIdent(node->children().at(1)));
      return;
    case nkStringLit:
    case nkIntLit:
    case nkFloatLit:
    case nkBoolLit:
    case nkNull:
      writeLiteralExpr(node);
      return;
    case nkBinaryOp: {
      // Only the list-carrying operators reach here; generic ones are handled by writeExpr.
      BinaryOperator op = node->binOp();
      if (op == opIn || op == opNotIn) {
        w_.writeRaw(
            kSeq<fixmap(2), key::kind, fixmap(4), key::variant, packed("InList"), key::expr>);
        writeExpr(node->binLeft());
        w_.writeRaw(key::list);
        SpanScope list(*this, node->binRight());
        writeExprSeq(node->binRight()->children());
        w_.writeRaw(key::negated);
        w_.writeBool(op == opNotIn);
      } else if (op == opLike || op == opNotLike) {
        w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("Like"), key::expr>);
        writeExpr(node->binLeft());
        const SqlNode* right = node->binRight();
        const SqlNode* pattern = right;
        const SqlNode* escape = nullptr;
        if (right != nullptr && right->kind == nkExprList) {
          const NodeList& parts = right->children();
          pattern = parts.at(0);
          if (parts.size >= 2) escape = parts.first->next;
        }
        SpanScope parts(*this, right);
        w_.writeRaw(key::pattern);
        writeExpr(pattern);
        w_.writeRaw(key::escape);
        writeExpr(escape);
        w_.writeRaw(key::negated);
        w_.writeBool(op == opNotLike);
      } else {
        const NodeList& bounds = node->binRight()->children();
        w_.writeRaw(
            kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("Between"), key::expr>);
        writeExpr(node->binLeft());
        SpanScope list(*this, node->binRight());
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
        w_.writeRaw(
            kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("IsNull"), key::expr>);
        writeExpr(node->unOperand());
        w_.writeRaw(key::negated);
        w_.writeBool(op == opIsNotNull);
      } else {
        w_.writeRawThenString(
            kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("UnaryOp"), key::op>,
            normalizedUnaryOp(op));
        w_.writeRaw(key::operand);
        writeExpr(node->unOperand());
      }
      return;
    }
    case nkFunctionCall: {
      const NodeList& parts = node->children();
      w_.writeRawThenString(
          kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("FunctionCall"), key::name>,
          firstIdent(parts.first));
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
      const DoubleArray& values = node->vectorValues();
      w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("VectorLiteral"),
                       key::values>);
      w_.writeArrayHeader(values.size);
      w_.writeDoubles(values.data, values.size);
      return;
    }
    case nkScalarSubquery:
      w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("ScalarSubquery"),
                       key::subquery>);
      writeSubquery(node->children().at(0));
      return;
    case nkInSubquery:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(4), key::variant, packed("InSubquery"), key::expr>);
      writeExpr(node->children().at(0));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(1));
      w_.writeRaw(key::negated);
      w_.writeBool(node->negated);
      return;
    case nkExists:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("Exists"), key::subquery>);
      writeSubquery(node->children().at(0));
      w_.writeRaw(key::negated);
      w_.writeBool(node->negated);
      return;
    case nkQuantified:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("Quantified"), key::expr>);
      writeExpr(node->children().at(0));
      w_.writeRawThenString(kSeq<key::op>, normalizedBinaryOp(firstIdent(node->children().at(1))));
      w_.writeRawThenString(kSeq<key::quantifier>, normalizedQuantifier(node->quantifierAll));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(2));
      return;
    default:
      w_.writeRawThenString(
          kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("ColumnRef"), key::column>,
          firstIdent(node));
      return;
  }
}

namespace {
// A literal expression's opening, {"kind":{"variant":"Literal","literal":, written together
// with the literal's own variant and key in one piece.
constexpr auto kLiteral =
    kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("Literal"), key::literal>;
constexpr auto kNumber = kSeq<kLiteral, fixmap(2), key::variant, packed("Number"), key::value>;
}  // namespace

void Encoder::writeLiteralExpr(const SqlNode* node) {
  switch (node->kind) {
    case nkStringLit:
      w_.writeRawThenString(kSeq<kLiteral, fixmap(2), key::variant, packed("String"), key::value>,
                            node->strVal());
      return;
    case nkIntLit: {
      // Written without leading zeros, a number's text is its lexeme.
      const std::string_view lexeme = node->numberLexeme();
      if (lexeme.size() == 1 || lexeme[0] != '0') {
        w_.writeRawThenString(kNumber, lexeme);
        return;
      }
      const int64_t value = node->intVal();
      // At most 20 characters ("-9223372036854775808"): always a fixstr.
      w_.writeRawThenText<20>(kNumber, [value](char* out) {
        return static_cast<size_t>(std::to_chars(out, out + 20, value).ptr - out);
      });
      return;
    }
    case nkFloatLit: {
      if (decimalLexemeIsItsText(node->numberLexeme())) {
        w_.writeRawThenString(kNumber, node->numberLexeme());
        return;
      }
      const double value = node->floatVal();
      // At most 24 characters ("-1.2345678901234567e-308"), in a 32-byte work area.
      w_.writeRawThenText<32>(kNumber, [value](char* out) { return formatFloatText(value, out); });
      return;
    }
    case nkBoolLit:
      if (node->boolVal()) {
        w_.writeRaw(
            kSeq<kLiteral, fixmap(2), key::variant, packed("Boolean"), key::value, kTrueByte>);
      } else {
        w_.writeRaw(
            kSeq<kLiteral, fixmap(2), key::variant, packed("Boolean"), key::value, kFalseByte>);
      }
      return;
    default:
      w_.writeRaw(kSeq<kLiteral, fixmap(1), key::variant, packed("Null")>);
      return;
  }
}

}  // namespace quorix
