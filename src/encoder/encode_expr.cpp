// Expressions: variant maps, literals, operator names.
#include <array>
#include <charconv>
#include <cstring>
#include <optional>

#include "common/errors.h"
#include "encoder/encoder.h"

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

void Encoder::writeExprSeq(const NodeList& nodes, const PackedStr<5>* key) {
  if (key != nullptr) {
    w_.writeRawThenArrayHeader(*key, nodes.size);
  } else {
    w_.writeArrayHeader(nodes.size);
  }
  // Rows of VALUES and IN lists are mostly literals, which have no operands to walk: they skip
  // writeExpr's handling of aliases and operator chains.
  for (const SqlNode* n = nodes.first; n != nullptr; n = n->next) {
    if ((kLiteralKinds >> n->kind) & 1) {
      writeLiteralWithSpan(n, resolved(n));
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
      writeColumnRefWithSpan(parts->first->strVal(), parts->last->strVal(), own);
    } else if (node->kind == nkIdentifier) {
      writeColumnRefWithSpan(std::nullopt, node->strVal(), own);
    } else if ((kLiteralKinds >> node->kind) & 1) {
      writeLiteralWithSpan(node, own);
    } else {
      writeExprVariant(node, own);
    }
  }
  if (chain_.size() > base) {
    // Each link's span entry and the operator of the link around it are written as one run.
    ChainLink link = chain_.pop();
    inherited_ = link.span;
    char* p = w_.open(32);
    bool done = putOperatorRun(p, link.node->binOp());
    w_.close(p);
    if (!done) writeOperatorSlow(link.node->binOp());
    for (;;) {
      writeExpr(link.node->binRight());
      if (chain_.size() == base) {
        writeSpanEntry(*link.span);
        break;
      }
      const ChainLink outerLink = chain_.pop();
      p = putSpanEntry(w_.open(MsgPackWriter::kSpanEntryBytes + 32), *link.span);
      done = putOperatorRun(p, outerLink.node->binOp());
      w_.close(p);
      if (!done) writeOperatorSlow(outerLink.node->binOp());
      link = outerLink;
      inherited_ = link.span;
    }
  }
  inherited_ = outer;
}

// A generic operator's "op": <name>, "right": from its table of runs (32 bytes of room); false,
// writing nothing, for an operator that has none.
bool Encoder::putOperatorRun(char*& p, BinaryOperator op) {
  if (op >= kOpRuns.size()) [[unlikely]]
    return false;
  std::memcpy(p, kOpRuns[op].bytes, 32);
  p += kOpRuns[op].size;
  return true;
}

void Encoder::writeOperatorSlow(BinaryOperator op) {
  w_.writeRawThenString(kSeq<key::op>, normalizedBinaryOp(op));
  w_.writeRaw(key::right);
}

void Encoder::writeColumnRefWithSpan(std::optional<std::string_view> table, std::string_view column,
                                     const Span& span) {
  constexpr auto head =
      kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"), key::table>;
  constexpr size_t kRoom = head.size + 32 + key::column.size + 32 + MsgPackWriter::kSpanEntryBytes;
  if (!table) {
    if (column.size() <= 31) [[likely]] {
      char* p = MsgPackWriter::put(w_.open(kRoom), kSeq<head, kNilByte, key::column>);
      w_.close(putSpanEntry(MsgPackWriter::putFixStr(p, column), span));
      return;
    }
    w_.writeRawThenString(kSeq<head, kNilByte, key::column>, column);
  } else if (table->size() <= 31 && column.size() <= 31) [[likely]] {
    char* p = MsgPackWriter::putFixStr(MsgPackWriter::put(w_.open(kRoom), head), *table);
    p = MsgPackWriter::putFixStr(MsgPackWriter::put(p, key::column), column);
    w_.close(putSpanEntry(p, span));
    return;
  } else {
    w_.writeRawThenString(head, *table);
    w_.writeRawThenString(kSeq<key::column>, column);
  }
  writeSpanEntry(span);
}

void Encoder::writeExprVariant(const SqlNode* node, const Span& span) {
  switch (node->kind) {
    case nkIdentifier:
      writeColumnRefWithSpan(std::nullopt, node->strVal(), span);
      return;
    case nkStar:
      writeRawThenSpan(kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"),
                            key::table, kNilByte, key::column, packed("*")>,
                       span);
      return;
    case nkColumnRef:
      writeColumnRefWithSpan(firstIdent(node->children().at(0)), firstIdent(node->children().at(1)),
                             span);
      return;
    case nkStringLit:
    case nkIntLit:
    case nkFloatLit:
    case nkBoolLit:
    case nkNull:
      writeLiteralWithSpan(node, span);
      return;
    case nkBinaryOp: {
      // Only the list-carrying operators reach here; generic ones are handled by writeExpr.
      BinaryOperator op = node->binOp();
      if (op == opIn || op == opNotIn) {
        w_.writeRaw(
            kSeq<fixmap(2), key::kind, fixmap(4), key::variant, packed("InList"), key::expr>);
        writeExpr(node->binLeft());
        SpanScope list(*this, node->binRight());
        writeExprSeq(node->binRight()->children(), &key::list);
        writeNegatedThenSpan(op == opNotIn, span);
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
        writeNegatedThenSpan(op == opNotLike, span);
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
        writeNegatedThenSpan(op == opNotBetween, span);
      }
      return;
    }
    case nkUnaryOp: {
      UnaryOperator op = node->unOp();
      if (op == opIsNull || op == opIsNotNull) {
        w_.writeRaw(
            kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("IsNull"), key::expr>);
        writeExpr(node->unOperand());
        writeNegatedThenSpan(op == opIsNotNull, span);
      } else {
        w_.writeRawThenString(
            kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("UnaryOp"), key::op>,
            normalizedUnaryOp(op));
        w_.writeRaw(key::operand);
        writeExpr(node->unOperand());
        writeSpanEntry(span);
      }
      return;
    }
    case nkFunctionCall: {
      const NodeList& parts = node->children();
      constexpr auto head =
          kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("FunctionCall"), key::name>;
      const std::string_view name = firstIdent(parts.first);
      const size_t args = node->star || parts.size == 0 ? 0 : parts.size - 1;
      if (name.size() <= 31) {
        char* p = MsgPackWriter::putFixStr(
            MsgPackWriter::put(w_.open(head.size + 32 + key::args.size + 5), head), name);
        w_.close(MsgPackWriter::putArrayHeader(MsgPackWriter::put(p, key::args), args));
      } else {
        w_.writeRawThenString(head, name);
        w_.writeRaw(key::args);
        w_.writeArrayHeader(args);
      }
      if (args != 0) {
        for (const SqlNode* a = parts.first->next; a != nullptr; a = a->next) writeExpr(a);
      }
      char* p = MsgPackWriter::put(
          w_.open(key::distinct.size + 1 + key::star.size + 1 + MsgPackWriter::kSpanEntryBytes),
          key::distinct);
      *p++ = static_cast<char>(node->distinct ? 0xc3 : 0xc2);
      p = MsgPackWriter::put(p, key::star);
      *p++ = static_cast<char>(node->star ? 0xc3 : 0xc2);
      w_.close(putSpanEntry(p, span));
      return;
    }
    case nkVectorLiteral: {
      const DoubleArray& values = node->vectorValues();
      w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("VectorLiteral"),
                       key::values>);
      w_.writeArrayHeader(values.size);
      w_.writeDoubles(values.data, values.size);
      writeSpanEntry(span);
      return;
    }
    case nkScalarSubquery:
      w_.writeRaw(kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("ScalarSubquery"),
                       key::subquery>);
      writeSubquery(node->children().at(0));
      writeSpanEntry(span);
      return;
    case nkInSubquery:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(4), key::variant, packed("InSubquery"), key::expr>);
      writeExpr(node->children().at(0));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(1));
      writeNegatedThenSpan(node->negated, span);
      return;
    case nkExists:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("Exists"), key::subquery>);
      writeSubquery(node->children().at(0));
      writeNegatedThenSpan(node->negated, span);
      return;
    case nkQuantified:
      w_.writeRaw(
          kSeq<fixmap(2), key::kind, fixmap(5), key::variant, packed("Quantified"), key::expr>);
      writeExpr(node->children().at(0));
      w_.writeRawThenString(kSeq<key::op>, normalizedBinaryOp(firstIdent(node->children().at(1))));
      w_.writeRawThenString(kSeq<key::quantifier>, normalizedQuantifier(node->quantifierAll));
      w_.writeRaw(key::subquery);
      writeSubquery(node->children().at(2));
      writeSpanEntry(span);
      return;
    default:
      w_.writeRawThenString(
          kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("ColumnRef"), key::column>,
          firstIdent(node));
      writeSpanEntry(span);
      return;
  }
}

void Encoder::writeNegatedThenSpan(bool negated, const Span& span) {
  char* p = MsgPackWriter::put(w_.open(key::negated.size + 1 + MsgPackWriter::kSpanEntryBytes),
                               key::negated);
  *p++ = static_cast<char>(negated ? 0xc3 : 0xc2);
  w_.close(putSpanEntry(p, span));
}

namespace {
// A literal expression's opening, {"kind":{"variant":"Literal","literal":, written together
// with the literal's own variant and key in one piece.
constexpr auto kLiteral =
    kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("Literal"), key::literal>;
constexpr auto kNumber = kSeq<kLiteral, fixmap(2), key::variant, packed("Number"), key::value>;
}  // namespace

void Encoder::writeLiteralWithSpan(const SqlNode* node, const Span& span) {
  constexpr auto kString = kSeq<kLiteral, fixmap(2), key::variant, packed("String"), key::value>;
  constexpr size_t kRoom = kNumber.size + 32 + MsgPackWriter::kSpanEntryBytes;
  static_assert(kString.size == kNumber.size);
  std::string_view text;
  switch (node->kind) {
    case nkStringLit:
      text = node->strVal();
      if (text.size() > 31) break;
      w_.close(putSpanEntry(
          MsgPackWriter::putFixStr(MsgPackWriter::put(w_.open(kRoom), kString), text), span));
      return;
    case nkIntLit:
    case nkFloatLit:
      // A number written as its lexeme (see writeLiteralExpr).
      text = node->numberLexeme();
      if (text.size() > 31 || (node->kind == nkIntLit ? text.size() > 1 && text[0] == '0'
                                                      : !decimalLexemeIsItsText(text)))
        break;
      w_.close(putSpanEntry(
          MsgPackWriter::putFixStr(MsgPackWriter::put(w_.open(kRoom), kNumber), text), span));
      return;
    default:
      break;
  }
  writeLiteralExpr(node);
  writeSpanEntry(span);
}

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
