// Expressions: the precedence ladder, predicates, and primaries.
#include <array>
#include <cstring>

#include "common/errors.h"
#include "parser/parser.h"

namespace quorix {

namespace {

BinaryOperator comparisonOp(TokenKind kind) {
  switch (kind) {
    case tkNeq:
      return opNeq;
    case tkLt:
      return opLt;
    case tkLe:
      return opLe;
    case tkGt:
      return opGt;
    case tkGe:
      return opGe;
    default:
      return opEq;
  }
}

bool isTypeKeyword(TokenKind kind) {
  switch (kind) {
    case tkInt:
    case tkBigint:
    case tkSmallint:
    case tkFloatType:
    case tkDouble:
    case tkDecimal:
    case tkVarchar:
    case tkChar:
    case tkText:
    case tkBlob:
    case tkBoolean:
    case tkBool:
    case tkTimestamp:
    case tkDate:
    case tkTime:
    case tkVector:
      return true;
    default:
      return false;
  }
}

// Tokens with which parsePrimary goes straight to parseLeafPrimary.
constexpr auto kStartsLeaf = [] {
  std::array<bool, kTokenKindCount> t{};
  for (TokenKind k :
       {tkIdent, tkNow, tkVector, tkString, tkInteger, tkFloat, tkNull, tkTrue, tkFalse, tkStar})
    t[k] = true;
  return t;
}();

// Tokens that are a literal on their own.
constexpr auto kIsLiteral = [] {
  std::array<bool, kTokenKindCount> t{};
  for (TokenKind k : {tkString, tkInteger, tkFloat, tkNull, tkTrue, tkFalse}) t[k] = true;
  return t;
}();

// Tokens after an operand with which some level of the ladder goes on.
constexpr auto kContinuesExpression = [] {
  std::array<bool, kTokenKindCount> t{};
  for (TokenKind k : {tkStar, tkSlash, tkPercent, tkPlus, tkMinus, tkPipePipe, tkNot, tkIs, tkEq,
                      tkNeq, tkLt, tkLe, tkGt, tkGe, tkLike, tkIn, tkBetween, tkAnd, tkOr})
    t[k] = true;
  return t;
}();

}  // namespace

// The levels fold in loops, so a chain of any length costs no stack. The levels between two
// recursion points are inlined into one frame each (parseExpr, parseConcat): what a nesting
// level costs in stack is what bounds kMaxNestingDepth.

[[gnu::always_inline]] inline SqlNode* Parser::parseAndExpr(SqlNode* first) {
  SqlNode* left = parseComparison(first);
  while (check(tkAnd)) {
    advance();
    SqlNode* right = parseComparison();
    left = newBinaryOp(arena_, opAnd, left, right, emptySpan());
  }
  return left;
}

SqlNode* Parser::parseExpr() {
  // A lone leaf (a name, a literal, a call, a column reference) followed by a token that no
  // level continues with is the whole expression, as most select items, list entries and
  // values are: parse it as the innermost level would and skip the climb.
  SqlNode* first = nullptr;
  if (kStartsLeaf[current_.kind]) {
    first = parseLeafPrimary();
    if (!kContinuesExpression[current_.kind]) return first;
  }
  SqlNode* left = parseAndExpr(first);
  while (check(tkOr)) {
    advance();
    SqlNode* right = parseAndExpr();
    left = newBinaryOp(arena_, opOr, left, right, emptySpan());
  }
  return left;
}

SqlNode* Parser::parseComparison(SqlNode* first) {
  SqlNode* left = parseConcat(first);
  switch (current_.kind) {
    case tkNot:
      advance();
      if (check(tkBetween)) return parseBetweenRest(left, opNotBetween);
      if (check(tkLike)) return parseLikeRest(left, opNotLike);
      if (check(tkIn)) return parseInExpr(left, true);
      return newUnaryOp(arena_, opNot, left, emptySpan());
    case tkIs:
      advance();
      if (check(tkNot)) {
        advance();
        expect(tkNull);
        return newUnaryOp(arena_, opIsNotNull, left, emptySpan());
      }
      expect(tkNull);
      return newUnaryOp(arena_, opIsNull, left, emptySpan());
    case tkEq:
    case tkNeq:
    case tkLt:
    case tkLe:
    case tkGt:
    case tkGe: {
      BinaryOperator op = comparisonOp(current_.kind);
      advance();
      if (check(tkAny) || check(tkSome) || check(tkAll)) return parseQuantified(left, op);
      SqlNode* right = parseConcat();
      return newBinaryOp(arena_, op, left, right, emptySpan());
    }
    case tkLike:
      return parseLikeRest(left, opLike);
    case tkIn:
      return parseInExpr(left, false);
    case tkBetween:
      return parseBetweenRest(left, opBetween);
    default:
      return left;
  }
}

SqlNode* Parser::parseLikeRest(SqlNode* left, BinaryOperator op) {
  advance();  // LIKE
  SqlNode* right = parseConcat();
  if (check(tkEscape)) {
    advance();
    SqlNode* escape = parseConcat();
    SqlNode* list = newNode(arena_, nkExprList, emptySpan());
    append(list->children(), right);
    append(list->children(), escape);
    right = list;
  }
  return newBinaryOp(arena_, op, left, right, emptySpan());
}

SqlNode* Parser::parseBetweenRest(SqlNode* left, BinaryOperator op) {
  advance();  // BETWEEN
  SqlNode* low = parseConcat();
  expect(tkAnd);
  SqlNode* high = parseConcat();
  SqlNode* list = newNode(arena_, nkExprList, emptySpan());
  append(list->children(), low);
  append(list->children(), high);
  return newBinaryOp(arena_, op, left, list, emptySpan());
}

[[gnu::always_inline]] inline SqlNode* Parser::parseMulDiv(SqlNode* first) {
  SqlNode* left = first != nullptr ? first : parsePrimary();
  for (;;) {
    BinaryOperator op;
    if (check(tkStar)) {
      op = opMul;
    } else if (check(tkSlash)) {
      op = opDiv;
    } else if (check(tkPercent)) {
      op = opMod;
    } else {
      return left;
    }
    advance();
    SqlNode* right = parsePrimary();
    left = newBinaryOp(arena_, op, left, right, emptySpan());
  }
}

[[gnu::always_inline]] inline SqlNode* Parser::parseAddSub(SqlNode* first) {
  SqlNode* left = parseMulDiv(first);
  for (;;) {
    BinaryOperator op;
    if (check(tkPlus)) {
      op = opAdd;
    } else if (check(tkMinus)) {
      op = opSub;
    } else {
      return left;
    }
    advance();
    SqlNode* right = parseMulDiv();
    left = newBinaryOp(arena_, op, left, right, emptySpan());
  }
}

SqlNode* Parser::parseConcat(SqlNode* first) {
  SqlNode* left = parseAddSub(first);
  while (check(tkPipePipe)) {
    advance();
    SqlNode* right = parseAddSub();
    left = newBinaryOp(arena_, opStringConcat, left, right, emptySpan());
  }
  return left;
}

SqlNode* Parser::parseInExpr(SqlNode* left, bool negated) {
  expect(tkIn);
  NestingGuard guard(*this);
  expect(tkLParen);
  if (check(tkSelect)) {
    SqlNode* node = newNode(arena_, nkInSubquery, emptySpan());
    node->negated = negated;
    append(node->children(), left);
    append(node->children(), parseSelectStmt());
    expect(tkRParen);
    return node;
  }
  SqlNode* list = newNode(arena_, nkExprList, emptySpan());
  if (check(tkRParen)) {
    advance();
  } else {
    parseListElements(list->children());
  }
  return newBinaryOp(arena_, negated ? opNotIn : opIn, left, list, emptySpan());
}

SqlNode* Parser::parseQuantified(SqlNode* left, BinaryOperator op) {
  NestingGuard guard(*this);
  Token quantifier = advance();
  Span span = tokenSpan(quantifier);
  SqlNode* node = newNode(arena_, nkQuantified, span);
  node->quantifierAll = quantifier.kind == tkAll;
  append(node->children(), left);
  append(node->children(), newIdent(arena_, binaryOperatorName(op), span));
  append(node->children(), parseSubqueryInParens());
  return node;
}

SqlNode* Parser::parseSubqueryInParens() {
  expect(tkLParen);
  if (!check(tkSelect)) error("expected SELECT subquery");
  SqlNode* query = parseSelectStmt();
  expect(tkRParen);
  return query;
}

SqlNode* Parser::parseExistsExpr(bool negated) {
  NestingGuard guard(*this);
  Token exists = expect(tkExists);
  SqlNode* node = newNode(arena_, nkExists, tokenSpan(exists));
  node->negated = negated;
  append(node->children(), parseSubqueryInParens());
  return node;
}

SqlNode* Parser::parsePrimary() {
  // Only the cases that recurse stay in this frame; the leaves live in parseLeafPrimary.
  switch (current_.kind) {
    case tkIdent:
    case tkNow:
    case tkVector:
      return parseLeafPrimary();
    case tkNot: {
      NestingGuard guard(*this);
      advance();
      if (check(tkExists)) return parseExistsExpr(true);
      SqlNode* operand = parsePrimary();
      return newUnaryOp(arena_, opNot, operand, emptySpan());
    }
    case tkExists:
      return parseExistsExpr(false);
    case tkCast:
      return parseCastExpr();
    case tkLParen: {
      NestingGuard guard(*this);
      Span paren = currentSpan();
      advance();
      if (check(tkSelect)) {
        SqlNode* query = parseSelectStmt();
        expect(tkRParen);
        SqlNode* sub = newNode(arena_, nkScalarSubquery, paren);
        append(sub->children(), query);
        return sub;
      }
      SqlNode* inner = parseExpr();
      expect(tkRParen);
      return inner;
    }
    case tkLBracket:
      return parseVectorLiteral();
    case tkMinus: {
      NestingGuard guard(*this);
      Span minus = currentSpan();
      advance();
      SqlNode* operand = parsePrimary();
      return newUnaryOp(arena_, opNeg, operand, minus);
    }
    default:
      return parseLeafPrimary();
  }
}

[[gnu::always_inline]] inline SqlNode* Parser::makeLiteral(const Token& t) {
  switch (t.kind) {
    case tkString:
      return newStringLit(arena_, t.lexeme, tokenSpan(t));
    case tkInteger:
      // A value out of range is an error here, in the order of the text; up to 18 digits
      // cannot be, and are not converted until something reads the value.
      if (t.lexeme.size() > kDigitsThatAlwaysFit) convertIntegerLexeme(t.lexeme);
      return newIntLit(arena_, t.lexeme, tokenSpan(t));
    case tkFloat:  // digits, a point and digits: always a value (at worst 0 or infinity)
      return newFloatLit(arena_, t.lexeme, tokenSpan(t));
    case tkNull:
      return newNull(arena_, tokenSpan(t));
    default:
      return newBoolLit(arena_, t.kind == tkTrue, tokenSpan(t));
  }
}

void Parser::parseListElements(NodeList& into) {
  // Bulk loads are long runs of rows of literals, and IN lists are mostly literals too. A literal
  // directly followed by ',' or ')' is a whole element: take the separator straight from the text,
  // without a token and without the expression machinery. Anything else (an operator, a name, a
  // comment or line break before the separator) goes the general way, from the same lookahead.
  for (;;) {
    if (kIsLiteral[current_.kind]) {
      const char* const end = lexer_.inputEnd();
      const char* p = skipBlanksInLine(lexer_.position(), end);
      if (p < end && (*p == ',' || *p == ')')) {
        append(into, makeLiteral(current_));
        lexer_.resumeAt(p + 1);
        lexer_.next(current_);
        if (*p == ')') return;
        continue;
      }
    }
    append(into, parseExpr());
    if (!check(tkComma)) break;
    advance();
  }
  expect(tkRParen);
}

[[gnu::noinline]] SqlNode* Parser::parseLeafPrimary() {
  switch (current_.kind) {
    case tkIdent: {
      Token name = advance();
      if (check(tkLParen)) return parseFunctionCall(name);
      if (!check(tkDot)) return newIdent(arena_, name.lexeme, tokenSpan(name));
      advance();
      Token column = expectIdent("column name");
      SqlNode* ref = newNode(arena_, nkColumnRef, tokenSpan(name));
      append(ref->children(), newIdent(arena_, name.lexeme, tokenSpan(name)));
      append(ref->children(), newIdent(arena_, column.lexeme, tokenSpan(column)));
      return ref;
    }
    case tkNow:
    case tkVector: {
      Token name = advance();
      if (!check(tkLParen)) error("expected function call");
      return parseFunctionCall(name);
    }
    case tkString:
    case tkInteger:
    case tkFloat:
    case tkNull:
    case tkTrue:
    case tkFalse:
      return makeLiteral(advance());
    case tkStar:
      return newStar(arena_, tokenSpan(advance()));
    default:
      error("unexpected token in expression");
  }
}

SqlNode* Parser::parseFunctionCall(const Token& nameToken) {
  NestingGuard guard(*this);
  Span span = tokenSpan(nameToken);
  SqlNode* call = newNode(arena_, nkFunctionCall, span);
  NodeList& args = call->children();
  append(args, newIdent(arena_, nameToken.lexeme, span));
  expect(tkLParen);
  if (check(tkRParen)) {
    advance();
  } else if (check(tkStar)) {
    call->star = true;
    Token star = advance();
    append(args, newStar(arena_, tokenSpan(star)));
    expect(tkRParen);
  } else {
    if (check(tkDistinct)) {
      call->distinct = true;
      advance();
    }
    append(args, parseExpr());
    while (check(tkComma)) {
      advance();
      append(args, parseExpr());
    }
    expect(tkRParen);
  }
  return call;
}

SqlNode* Parser::parseCastExpr() {
  NestingGuard guard(*this);
  Token cast = expect(tkCast);
  Span span = tokenSpan(cast);
  SqlNode* call = newNode(arena_, nkFunctionCall, span);
  append(call->children(), newIdent(arena_, "CAST", span));
  expect(tkLParen);
  append(call->children(), parseExpr());
  expect(tkAs);
  append(call->children(), parseTypeName());
  expect(tkRParen);
  return call;
}

SqlNode* Parser::parseTypeName() {
  if (!check(tkIdent) && !isTypeKeyword(current_.kind)) error("expected type name");
  Token word = advance();
  Span span = tokenSpan(word);
  SqlNode* type = newTypeName(arena_, word.kind, span);
  append(type->children(), newIdent(arena_, word.lexeme, span));
  if (check(tkLParen)) {
    NestingGuard guard(*this);
    advance();
    append(type->children(), parseExpr());
    if (check(tkComma)) {
      advance();
      if (check(tkIdent) || check(tkInner) || check(tkCosine) || check(tkL2)) {
        Token metric = advance();
        append(type->children(), newIdent(arena_, metric.lexeme, tokenSpan(metric)));
      } else {
        append(type->children(), parseExpr());
      }
    }
    expect(tkRParen);
  }
  return type;
}

namespace {

// The elements of a vector literal as they are read, in the arena: the array grows in place
// while nothing else is allocated, which is the case while a literal is read.
class VectorValues {
 public:
  explicit VectorValues(Arena& arena) : arena_(arena) {}

  void push(double v) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    data_[size_++] = v;
  }
  size_t size() const { return size_; }
  DoubleArray take() const { return {data_, size_}; }

 private:
  void grow() {
    const size_t wanted = capacity_ == 0 ? 64 : capacity_ * 2;
    if (data_ == nullptr ||
        !arena_.tryExtend(data_, capacity_ * sizeof(double), wanted * sizeof(double))) {
      auto* fresh = static_cast<double*>(arena_.allocate(wanted * sizeof(double), alignof(double)));
      if (size_ != 0) std::memcpy(fresh, data_, size_ * sizeof(double));
      data_ = fresh;
    }
    capacity_ = wanted;
  }

  Arena& arena_;
  double* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace

SqlNode* Parser::parseVectorLiteral() {
  if (!check(tkLBracket)) expect(tkLBracket);
  const Span open = currentSpan();
  VectorValues values(arena_);
  // Embeddings run to hundreds of elements spelled "-0.5144, 0.2044, ...": read those straight
  // from the text, each number converted as its digits go by. The first element that is
  // spelled any other way (a line break, a comment, many digits, something wrong) is handed
  // back to the token-by-token loop below, which reads it and reports what is wrong exactly as
  // if nothing had been read here.
  const char* p = lexer_.position();
  const char* const end = lexer_.inputEnd();
  bool closed = false;
  for (;;) {
    const char* q = skipBlanksInLine(p, end);
    const bool negative = q < end && *q == '-';
    if (negative) ++q;
    if (q == end || !isDigitByte(*q)) break;
    uint64_t digits = 0;
    int count = 0;
    int fraction = 0;
    TokenKind kind;
    q = scanNumber(q, end, kind, [&](char c, bool afterPoint) {
      digits = digits * 10 + static_cast<unsigned>(c - '0');
      ++count;
      fraction += afterPoint;
    });
    // More than 19 digits may have wrapped around.
    if (count > 19 || digits > kMaxExactDigits || fraction > kMaxExactFraction) break;
    q = skipBlanksInLine(q, end);
    if (q == end || (*q != ',' && *q != ']')) break;
    const double v = exactDecimal(digits, fraction);
    values.push(negative ? -v : v);
    p = q + 1;
    if (*q == ']') {
      closed = true;
      break;
    }
  }
  lexer_.resumeAt(p);
  lexer_.next(current_);
  if (closed) return newVectorLiteral(arena_, values.take(), open);

  bool seen = values.size() != 0;
  for (;;) {
    if (check(tkRBracket)) {
      if (!seen) error("vector literal cannot be empty");
      advance();
      break;
    }
    double sign = 1.0;
    if (check(tkMinus)) {
      advance();
      sign = -1.0;
    }
    if (!check(tkInteger) && !check(tkFloat)) error("expected vector numeric literal");
    values.push(sign * convertFloatLexeme(advance().lexeme));
    if (check(tkComma)) {
      advance();
      seen = true;
      continue;
    }
    seen = true;
    if (!check(tkRBracket)) error("expected ',' or ']' in vector literal");
  }
  return newVectorLiteral(arena_, values.take(), open);
}

}  // namespace quorix
