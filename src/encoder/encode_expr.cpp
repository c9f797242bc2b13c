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

// What follows a generic operator's left operand, "op": <name>, "right":, as one piece per
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
    w_.run(key->size + kArrayHeaderRoom).raw(*key).arrayHeader(nodes.size);
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
    {
      auto run = w_.run(kOperatorRoom);
      putOperator(run, link.node->binOp());
    }
    for (;;) {
      writeExpr(link.node->binRight());
      if (chain_.size() == base) {
        writeSpanEntry(*link.span);
        break;
      }
      const ChainLink outerLink = chain_.pop();
      {
        auto run = w_.run(kSpanRoom + kOperatorRoom);
        putOperator(run.span(*link.span), outerLink.node->binOp());
      }
      link = outerLink;
      inherited_ = link.span;
    }
  }
  inherited_ = outer;
}

void Encoder::putOperator(MsgPackWriter::Run& run, BinaryOperator op) {
  static_assert(kOperatorRoom == key::op.size + kStrRoom + key::right.size);
  if (op < kOpRuns.size()) [[likely]] {
    run.rawPadded(kOpRuns[op].bytes, kOpRuns[op].size);
  } else {
    run.raw(key::op).str(normalizedBinaryOp(op)).raw(key::right);
  }
}

void Encoder::writeColumnRefWithSpan(std::optional<std::string_view> table, std::string_view column,
                                     const Span& span) {
  constexpr auto head =
      kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("ColumnRef"), key::table>;
  constexpr size_t kRoom = head.size + kStrRoom + key::column.size + kStrRoom + kSpanRoom;
  if (!table) {
    w_.run(kRoom).raw(kSeq<head, kNilByte, key::column>).str(column).span(span);
  } else {
    w_.run(kRoom).raw(head).str(*table).raw(key::column).str(column).span(span);
  }
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
        constexpr auto head =
            kSeq<fixmap(2), key::kind, fixmap(3), key::variant, packed("UnaryOp"), key::op>;
        w_.run(head.size + kStrRoom + key::operand.size)
            .raw(head)
            .str(normalizedUnaryOp(op))
            .raw(key::operand);
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
      w_.run(head.size + kStrRoom + key::args.size + kArrayHeaderRoom)
          .raw(head)
          .str(name)
          .raw(key::args)
          .arrayHeader(args);
      if (args != 0) {
        for (const SqlNode* a = parts.first->next; a != nullptr; a = a->next) writeExpr(a);
      }
      w_.run(key::distinct.size + 1 + key::star.size + 1 + kSpanRoom)
          .raw(key::distinct)
          .boolean(node->distinct)
          .raw(key::star)
          .boolean(node->star)
          .span(span);
      return;
    }
    case nkVectorLiteral: {
      const DoubleArray& values = node->vectorValues();
      constexpr auto head =
          kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("VectorLiteral"), key::values>;
      w_.run(head.size + kArrayHeaderRoom).raw(head).arrayHeader(values.size);
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
      w_.run(key::op.size + kStrRoom + key::quantifier.size + kStrRoom + key::subquery.size)
          .raw(key::op)
          .str(normalizedBinaryOp(firstIdent(node->children().at(1))))
          .raw(key::quantifier)
          .str(normalizedQuantifier(node->quantifierAll))
          .raw(key::subquery);
      writeSubquery(node->children().at(2));
      writeSpanEntry(span);
      return;
    default: {
      constexpr auto head =
          kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("ColumnRef"), key::column>;
      w_.run(head.size + kStrRoom + kSpanRoom).raw(head).str(firstIdent(node)).span(span);
      return;
    }
  }
}

void Encoder::writeNegatedThenSpan(bool negated, const Span& span) {
  w_.run(key::negated.size + 1 + kSpanRoom).raw(key::negated).boolean(negated).span(span);
}

namespace {
// A literal expression's opening, {"kind":{"variant":"Literal","literal":, written together
// with the literal's own variant and key in one piece.
constexpr auto kLiteral =
    kSeq<fixmap(2), key::kind, fixmap(2), key::variant, packed("Literal"), key::literal>;
constexpr auto kNumber = kSeq<kLiteral, fixmap(2), key::variant, packed("Number"), key::value>;
constexpr auto kString = kSeq<kLiteral, fixmap(2), key::variant, packed("String"), key::value>;
}  // namespace

void Encoder::writeLiteralWithSpan(const SqlNode* node, const Span& span) {
  // The value's text: a 32-byte work area for formatFloatText behind its header.
  constexpr size_t kTextRoom = 1 + 32;
  auto run = w_.run(kNumber.size + kTextRoom + kSpanRoom);
  switch (node->kind) {
    case nkStringLit:
      run.raw(kString).str(node->strVal());
      break;
    case nkIntLit: {
      // Written without leading zeros, a number's text is its lexeme.
      const std::string_view lexeme = node->numberLexeme();
      if (lexeme.size() == 1 || lexeme[0] != '0') {
        run.raw(kNumber).str(lexeme);
        break;
      }
      const int64_t value = node->intVal();
      // At most 20 characters ("-9223372036854775808"): always a fixstr.
      run.raw(kNumber).text<kTextRoom>([value](char* out) {
        return static_cast<size_t>(std::to_chars(out, out + 20, value).ptr - out);
      });
      break;
    }
    case nkFloatLit:
      if (decimalLexemeIsItsText(node->numberLexeme())) {
        run.raw(kNumber).str(node->numberLexeme());
      } else {
        // At most 24 characters ("-1.2345678901234567e-308").
        const double value = node->floatVal();
        run.raw(kNumber).text<kTextRoom>(
            [value](char* out) { return formatFloatText(value, out); });
      }
      break;
    case nkBoolLit:
      if (node->boolVal()) {
        run.raw(kSeq<kLiteral, fixmap(2), key::variant, packed("Boolean"), key::value, kTrueByte>);
      } else {
        run.raw(kSeq<kLiteral, fixmap(2), key::variant, packed("Boolean"), key::value, kFalseByte>);
      }
      break;
    default:
      run.raw(kSeq<kLiteral, fixmap(1), key::variant, packed("Null")>);
      break;
  }
  run.span(span);
}

}  // namespace quorix
