// fingerprintSql: one 64-bit hash per statement (FNV-1a, then a finaliser) over a byte stream
// that describes the tree with its constants blanked out. docs/TOOLS.md ("## fingerprint") defines
// the stream byte for byte; any change here that changes a golden fingerprint in the tests is a
// change of every fingerprint users have stored, and must go to the document as well.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "common/errors.h"
#include "lexer/lexer.h"
#include "parser/parser.h"
#include "tools/fingerprint_constants.h"
#include "tools/tools.h"

namespace quorix::tools {

namespace {

using detail::isConstant;

// The spellings go into the hash, so they are this file's own and never the enums' numbers or
// the debugging names in ast.cpp, which may be renamed or reordered.
constexpr std::string_view kBinarySpelling[] = {
    "=",  "<>",  "<",  "<=",   ">",        ">=", "+",      "-",       "*",           "/", "%",
    "||", "AND", "OR", "LIKE", "NOT LIKE", "IN", "NOT IN", "BETWEEN", "NOT BETWEEN", "IS"};
static_assert(std::size(kBinarySpelling) == opIs + 1);

constexpr std::string_view kUnarySpelling[] = {"NOT", "-", "IS NULL", "IS NOT NULL"};
static_assert(std::size(kUnarySpelling) == opIsNotNull + 1);

constexpr std::string_view kJoinSpelling[] = {"INNER", "LEFT", "RIGHT", "FULL", "CROSS"};
static_assert(std::size(kJoinSpelling) == jkCross + 1);

std::string_view spelling(BinaryOperator op) {
  if (op > opIs) throw InternalDefect("fingerprint: unknown binary operator");
  return kBinarySpelling[op];
}

// The tag of a node that is written as tag, flags, count and children.
char listTag(NodeKind kind) {
  switch (kind) {
    case nkSelect:
      return 'S';
    case nkUpdate:
      return 'U';
    case nkDelete:
      return 'X';
    case nkCreateTable:
      return 'C';
    case nkDropTable:
      return 'Z';
    case nkCreateIndex:
      return 'H';
    case nkDropIndex:
      return 'z';
    case nkColumnRef:
      return 'r';
    case nkFunctionCall:
      return 'F';
    case nkFromClause:
      return 'f';
    case nkFromDerived:
      return 'd';
    case nkWhereClause:
      return 'w';
    case nkOrderByClause:
      return 'o';
    case nkGroupByClause:
      return 'g';
    case nkHavingClause:
      return 'h';
    case nkLimitClause:
      return 'l';
    case nkConstraint:
      return 'k';
    case nkExprList:
      return 'e';
    case nkColumnList:
      return 'm';
    case nkWithOptions:
      return 'x';
    case nkScalarSubquery:
      return 'q';
    case nkInSubquery:
      return 's';
    case nkExists:
      return 'E';
    default:
      throw InternalDefect("fingerprint: no tag for " + std::string(nodeKindName(kind)));
  }
}

// A minus written straight before a number is part of the value a client binds: `a = -1` and
// `a = 1` are the same query with different values.
bool isSignedNumber(const SqlNode* n) {
  if (n->kind != nkUnaryOp || n->unOp() != opNeg) return false;
  const NodeKind k = n->unOperand()->kind;
  return k == nkIntLit || k == nkFloatLit;
}

bool isValue(const SqlNode* n) { return isConstant(n) || isSignedNumber(n); }

// An element of a list that collapses: any literal, NULL included, since bulk loads are full
// of NULLs and an IN list holding one is still "a list of values".
bool isListLiteral(const SqlNode* n) { return isValue(n) || n->kind == nkNull; }

bool isLiteralList(const SqlNode* list) {
  if (list->kind != nkExprList || list->children().empty()) return false;
  for (const SqlNode* c = list->children().first; c != nullptr; c = c->next)
    if (!isListLiteral(c)) return false;
  return true;
}

// The common width of VALUES rows made only of literals, or 0 when the rows are not that.
size_t literalRowsWidth(const SqlNode* firstRow) {
  const size_t width = firstRow->children().size;
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next)
    if (row->children().size != width || !isLiteralList(row)) return 0;
  return width;
}

class StreamHasher {
 public:
  void byte(uint8_t b) {
    h_ ^= b;
    h_ *= 0x100000001b3ULL;
  }
  void tag(char c) { byte(static_cast<uint8_t>(c)); }
  void count(size_t v) {
    // The text is under 2 GiB, so no list of it comes near this.
    if (v > std::numeric_limits<uint32_t>::max())
      throw InternalDefect("fingerprint: list too long");
    for (int shift = 0; shift < 32; shift += 8) byte(static_cast<uint8_t>(v >> shift));
  }
  void str(std::string_view s) {
    count(s.size());
    for (char c : s) byte(static_cast<uint8_t>(c));
  }
  // A name as written, but a keyword (NOW, COSINE, HNSW, a type word) in lower case: keywords
  // are the same in any case and reserved everywhere, so no name is ever lowered by this.
  void word(std::string_view s) {
    if (classifyWord(s.data(), s.size()) == tkIdent) return str(s);
    count(s.size());
    for (char c : s) byte(static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c | 0x20 : c));
  }
  // FNV-1a alone changes few bits for a change in the last bytes, so statements that differ in
  // their last name would share a long hex prefix, and people compare prefixes. The finaliser
  // of MurmurHash3 is a bijection: it spreads the bits without adding a collision.
  uint64_t value() const {
    uint64_t h = h_;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
  }

 private:
  uint64_t h_ = 0xcbf29ce484222325ULL;
};

enum Mode : uint8_t {
  kByValue = 1,      // literals count with their value: a definition, a type's parameters
  kOrderItem = 2,    // an ORDER BY item: direction and NULLS placement first
  kLiteralList = 4,  // an IN list or VALUES made only of literals, already checked
};

struct Item {
  const SqlNode* node;
  uint8_t mode;
};

class TreeHasher {
 public:
  uint64_t hash(const SqlNode* stmt) {
    work_.clear();
    work_.push_back({stmt, detail::isDefinition(stmt) ? uint8_t(kByValue) : uint8_t(0)});
    // Chains of operators and joins are as deep as they are long: a work list, not recursion.
    // Items are written when popped and push their sub-nodes in reverse, so the stream is the
    // tree in pre-order.
    while (!work_.empty()) {
      const Item item = work_.back();
      work_.pop_back();
      write(item);
    }
    return h_.value();
  }

 private:
  void write(const Item& item) {
    const SqlNode* n = item.node;
    const uint8_t inherited = item.mode & kByValue;
    if ((item.mode & kOrderItem) != 0) return writeOrderItem(n, inherited);
    if ((item.mode & kLiteralList) != 0) return h_.tag('L');
    if (inherited == 0 && isValue(n)) return h_.tag('?');
    switch (n->kind) {
      case nkIdentifier:
        h_.tag('n');
        return h_.word(n->strVal());
      case nkNull:
        return h_.tag('N');
      case nkStar:
        return h_.tag('*');
      case nkIntLit:
      case nkFloatLit:
        h_.tag('#');
        return h_.str(n->numberLexeme());
      case nkStringLit:
        h_.tag('$');
        return h_.str(n->strVal());
      case nkBoolLit:
        h_.tag('t');
        return h_.byte(n->boolVal() ? 1 : 0);
      case nkVectorLiteral: {
        h_.tag('v');
        const DoubleArray& values = n->vectorValues();
        h_.count(values.size);
        for (size_t i = 0; i < values.size; ++i) {
          uint64_t bits;
          std::memcpy(&bits, &values.data[i], sizeof bits);
          for (int shift = 0; shift < 64; shift += 8) h_.byte(static_cast<uint8_t>(bits >> shift));
        }
        return;
      }
      case nkBinaryOp: {
        h_.tag('B');
        h_.str(spelling(n->binOp()));
        const bool collapse = inherited == 0 && (n->binOp() == opIn || n->binOp() == opNotIn) &&
                              isLiteralList(n->binRight());
        push(n->binRight(), inherited | (collapse ? kLiteralList : 0));
        return push(n->binLeft(), inherited);
      }
      case nkUnaryOp: {
        if (n->unOp() > opIsNotNull) throw InternalDefect("fingerprint: unknown unary operator");
        h_.tag('P');
        h_.str(kUnarySpelling[n->unOp()]);
        return push(n->unOperand(), inherited);
      }
      case nkAlias:
        h_.tag('A');
        h_.str(n->aliasName());
        return push(n->aliasExpr(), inherited);
      case nkJoin:
        return writeJoin(n, inherited);
      case nkColumnDef: {
        h_.tag('D');
        h_.str(n->colName());
        h_.count(n->colConstraints().size);
        pushReversed(n->colConstraints().first, inherited);
        return push(n->colType(), inherited);
      }
      case nkTypeName: {
        // The word, then the parameters by value: VARCHAR(10) and VARCHAR(20) are two types.
        const SqlNode* word = n->children().first;
        h_.tag('T');
        h_.word(word->strVal());
        h_.count(n->children().size - 1);
        return pushReversed(word->next, kByValue);
      }
      case nkIndexOption: {
        const SqlNode* key = n->children().first;
        h_.tag('W');
        h_.str(key->strVal());
        // The value is kept as its token's text, so `hnsw` and `HNSW` must meet here.
        return h_.word(key->next->strVal());
      }
      case nkQuantified: {
        const SqlNode* left = n->children().first;
        h_.tag('Q');
        h_.byte(n->quantifierAll ? 1 : 0);
        h_.str(quantifiedSpelling(left->next->strVal()));
        push(left->next->next, inherited);
        return push(left, inherited);
      }
      case nkInsert:
        return writeInsert(n, inherited);
      default:
        break;
    }
    h_.tag(listTag(n->kind));
    h_.byte(static_cast<uint8_t>((n->distinct ? 1 : 0) | (n->star ? 2 : 0) | (n->negated ? 4 : 0)));
    h_.count(n->children().size);
    const size_t mark = work_.size();
    pushReversed(n->children().first,
                 inherited | (n->kind == nkOrderByClause ? uint8_t(kOrderItem) : uint8_t(0)));
    if (detail::holdsPositions(n)) {
      for (size_t i = mark; i < work_.size(); ++i)
        if (detail::isPosition(work_[i].node)) work_[i].mode |= kByValue;
    }
  }

  // ASC is what no direction means, so it is written as no direction; DESC is not.
  void writeOrderItem(const SqlNode* n, uint8_t inherited) {
    const SqlNode* expr = n;
    bool descending = false;
    if (n->kind == nkAlias && n->ascending != -1) {
      expr = n->aliasExpr();
      descending = n->ascending == 0;
    }
    h_.tag('O');
    h_.byte(descending ? 1 : 0);
    h_.byte(n->nullsFirst == -1 ? 0 : n->nullsFirst == 1 ? 1 : 2);
    push(expr, inherited);
  }

  void writeJoin(const SqlNode* n, uint8_t inherited) {
    if (n->joinKind() > jkCross) throw InternalDefect("fingerprint: unknown join kind");
    h_.tag('J');
    h_.str(kJoinSpelling[n->joinKind()]);
    h_.byte(n->natural ? 1 : 0);
    const NameList& names = n->joinUsing();
    h_.count(names.size);
    for (const NameLink* l = names.first; l != nullptr; l = l->next) h_.str(l->name);
    h_.byte(n->joinCond() != nullptr ? 1 : 0);
    if (n->joinCond() != nullptr) push(n->joinCond(), inherited);
    push(n->joinRight(), inherited);
    push(n->joinLeft(), inherited);  // popped first: a left-deep chain keeps the list short
  }

  // Table, column list, then the rows: one `V` and their width when they are all literals,
  // however many there are.
  void writeInsert(const SqlNode* n, uint8_t inherited) {
    const SqlNode* firstRow = n->children().first;
    size_t before = 0;
    while (firstRow != nullptr && firstRow->kind != nkExprList) {
      firstRow = firstRow->next;
      ++before;
    }
    h_.tag('I');
    h_.count(before);
    const size_t width = inherited == 0 && firstRow != nullptr ? literalRowsWidth(firstRow) : 0;
    if (width != 0) {
      h_.tag('V');
      h_.count(width);
    } else {
      h_.tag('R');
      h_.count(n->children().size - before);
      pushReversed(firstRow, inherited);
    }
    const size_t mark = work_.size();
    size_t i = 0;
    for (const SqlNode* c = n->children().first; i < before; c = c->next, ++i)
      work_.push_back({c, inherited});
    std::reverse(work_.begin() + static_cast<std::ptrdiff_t>(mark), work_.end());
  }

  static std::string_view quantifiedSpelling(std::string_view parserName) {
    for (uint8_t op = 0; op <= opIs; ++op)
      if (binaryOperatorName(BinaryOperator(op)) == parserName) return kBinarySpelling[op];
    throw InternalDefect("fingerprint: unknown quantified operator");
  }

  void push(const SqlNode* n, uint8_t mode) { work_.push_back({n, mode}); }
  void pushReversed(const SqlNode* first, uint8_t mode) {
    const size_t mark = work_.size();
    for (const SqlNode* c = first; c != nullptr; c = c->next) work_.push_back({c, mode});
    std::reverse(work_.begin() + static_cast<std::ptrdiff_t>(mark), work_.end());
  }

  StreamHasher h_;
  std::vector<Item> work_;
};

}  // namespace

std::vector<uint64_t> fingerprintSql(std::string_view text) {
  std::vector<uint64_t> out;
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  // No row sink: the rows of a long INSERT must all be seen to tell whether they collapse.
  parseSqlStatements(text, arena, [&](const SqlNode* stmt, const Parser&) {
    TreeHasher hasher;
    out.push_back(hasher.hash(stmt));
  });
  return out;
}

}  // namespace quorix::tools
