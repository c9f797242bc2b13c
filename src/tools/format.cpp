// format: the tree printed back as SQL in the house style (docs/TOOLS.md), comments kept.
//
// Two passes per statement. The first walks the tree and writes pieces: a token's text, the
// kind of gap before it (none, a blank, a line break) and, where it is known, the source
// offset of the token it stands for (an anchor): from a node's span, or for the words and
// punctuation the tree has no place for, from the next source token when that one matches.
// The second lays the pieces out and drops each comment of the source into the first gap after
// the anchor that preceded it, so comments keep their order and their neighbours whatever the
// tree left out of the text.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ast/ast.h"
#include "common/arena.h"
#include "common/errors.h"
#include "lexer/lexer.h"
#include "parser/parser.h"
#include "tools/tools.h"

namespace quorix::tools {

namespace {

constexpr uint32_t kNoAnchor = UINT32_MAX;
constexpr size_t kLineWidth = 80;
constexpr uint32_t kIndentStep = 2;

enum class Gap : uint8_t { none, space, line, statement };

struct Piece {
  std::string_view text;
  uint32_t anchor;
  uint32_t indent;  // of the line a `line` gap starts
  Gap gap;
};

struct Comment {
  std::string_view text;
  uint32_t start;
  bool trailing;  // on the line of the code before it
  bool lineComment;
};

// A comment trails the code before it when no line break stands between them.
bool trailsCode(std::string_view text, size_t start) {
  while (start > 0) {
    const char c = text[start - 1];
    if (c == '\n') return false;
    if (c != ' ' && c != '\t' && c != '\r') return true;
    --start;
  }
  return false;
}

struct TokenRange {
  uint32_t start;
  uint32_t end;
};

// What both passes need from the source text.
struct Source {
  explicit Source(std::string_view t) : text(t) {
    lines.push_back(0);
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') lines.push_back(static_cast<uint32_t>(i + 1));
    }
    for (const ScannedToken& token : scanTokens(text)) {
      if (token.kind != tkComment) {
        tokens.push_back({token.start, token.end});
        continue;
      }
      const std::string_view body = text.substr(token.start, token.end - token.start);
      comments.push_back(
          {body, token.start, trailsCode(text, token.start), body.size() >= 2 && body[0] == '-'});
    }
  }

  std::string_view text;
  std::vector<uint32_t> lines;     // byte offsets of line starts
  std::vector<TokenRange> tokens;  // every token but comments
  std::vector<Comment> comments;
};

// Precedence levels as the parser climbs them; 7 is a primary (prefix NOT and minus included).
constexpr int kOr = 1, kAnd = 2, kComparison = 3, kConcat = 4, kAddSub = 5, kMulDiv = 6,
              kPrimary = 7;

int levelOf(const SqlNode* n) {
  switch (n->kind) {
    case nkBinaryOp:
      switch (n->binOp()) {
        case opOr:
          return kOr;
        case opAnd:
          return kAnd;
        case opStringConcat:
          return kConcat;
        case opAdd:
        case opSub:
          return kAddSub;
        case opMul:
        case opDiv:
        case opMod:
          return kMulDiv;
        default:
          return kComparison;
      }
    case nkUnaryOp:
      return n->unOp() == opIsNull || n->unOp() == opIsNotNull ? kComparison : kPrimary;
    case nkInSubquery:
    case nkQuantified:
      return kComparison;
    default:
      return kPrimary;
  }
}

// The left-associative operators, whose left spines the parser folds in loops.
bool isChainLink(const SqlNode* n) { return n->kind == nkBinaryOp && levelOf(n) != kComparison; }

std::string_view operatorText(BinaryOperator op) {
  switch (op) {
    case opEq:
      return "=";
    case opNeq:
      return "<>";
    case opLt:
      return "<";
    case opLe:
      return "<=";
    case opGt:
      return ">";
    case opGe:
      return ">=";
    case opAdd:
      return "+";
    case opSub:
      return "-";
    case opMul:
      return "*";
    case opDiv:
      return "/";
    case opMod:
      return "%";
    case opStringConcat:
      return "||";
    case opAnd:
      return "AND";
    case opOr:
      return "OR";
    case opLike:
      return "LIKE";
    case opNotLike:
      return "NOT LIKE";
    case opIn:
      return "IN";
    case opNotIn:
      return "NOT IN";
    case opBetween:
      return "BETWEEN";
    case opNotBetween:
      return "NOT BETWEEN";
    case opIs:
      return "IS";
  }
  return "?";
}

// A quantified comparison keeps its operator as the member's name ("opEq").
std::string_view operatorText(std::string_view memberName) {
  for (int op = opEq; op <= opGe; ++op) {
    if (binaryOperatorName(static_cast<BinaryOperator>(op)) == memberName)
      return operatorText(static_cast<BinaryOperator>(op));
  }
  throw InternalDefect("format: unknown comparison " + std::string(memberName));
}

[[noreturn]] void unexpected(const SqlNode* n) {
  throw InternalDefect("format: unexpected " + std::string(nodeKindName(n->kind)));
}

bool isMarker(const SqlNode* n, std::string_view text) {
  return n != nullptr && n->kind == nkIdentifier && n->strVal() == text;
}

// First pass: the tree as pieces.
class TreePrinter {
 public:
  TreePrinter(std::vector<Piece>& out, std::deque<std::string>& owned, const Source& source,
              size_t& cursor, bool pretty)
      : out_(out),
        owned_(owned),
        lines_(source.lines),
        tokens_(source.tokens),
        source_(source.text),
        cursor_(cursor),
        pretty_(pretty) {}

  void statement(const SqlNode* stmt) {
    gap_ = Gap::statement;
    gapIndent_ = 0;
    indent_ = 0;
    switch (stmt->kind) {
      case nkSelect:
        return select(stmt, 0);
      case nkInsert:
        return insert(stmt);
      case nkUpdate:
        return update(stmt);
      case nkDelete:
        return deleteFrom(stmt);
      case nkCreateTable:
        return createTable(stmt);
      case nkCreateIndex:
        return createIndex(stmt);
      case nkDropTable:
      case nkDropIndex:
        return drop(stmt);
      default:
        unexpected(stmt);
    }
  }

  void terminator() { put(";"); }

 private:
  // ---- pieces ----------------------------------------------------------------------------

  void put(std::string_view text, uint32_t anchor = kNoAnchor) {
    size_t word;
    if (anchor != kNoAnchor) {
      syncPast(anchor);
      word = text.find(' ');
    } else if (cursor_ < tokens_.size() && sameWord(text, 0, tokens_[cursor_])) {
      // A token the tree gives no position (a keyword, a parenthesis, a name of a list) is
      // placed by the source token it matches, if that is the next one.
      anchor = tokens_[cursor_++].start;
      word = text.find(' ');
    } else {
      word = std::string_view::npos;
    }
    // The other words of a piece ("NOT IN", "LEFT JOIN") follow while they match; a string's
    // blanks separate no tokens.
    if (!text.empty() && text.front() == '\'') word = std::string_view::npos;
    while (word != std::string_view::npos && cursor_ < tokens_.size() &&
           sameWord(text, word + 1, tokens_[cursor_])) {
      ++cursor_;
      word = text.find(' ', word + 1);
    }
    out_.push_back({text, anchor, gapIndent_, gap_});
    gap_ = Gap::none;
  }

  bool sameWord(std::string_view text, size_t from, TokenRange token) const {
    const size_t to = std::min(text.find(' ', from), text.size());
    if (to - from != token.end - token.start) return false;
    for (size_t i = 0; i < to - from; ++i) {
      char a = text[from + i], b = source_[token.start + i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
      if (a != b) return false;
    }
    return true;
  }

  // Moves the match position past the token at `offset`.
  void syncPast(uint32_t offset) {
    if (cursor_ > 0 && tokens_[cursor_ - 1].start > offset) {
      cursor_ = static_cast<size_t>(
          std::upper_bound(tokens_.begin(), tokens_.end(), offset,
                           [](uint32_t at, TokenRange t) { return at < t.start; }) -
          tokens_.begin());
      return;
    }
    while (cursor_ < tokens_.size() && tokens_[cursor_].start <= offset) ++cursor_;
  }

  void putOwned(std::string text, uint32_t anchor = kNoAnchor) {
    owned_.push_back(std::move(text));
    put(owned_.back(), anchor);
  }
  void space() {
    if (gap_ == Gap::none) gap_ = Gap::space;
  }
  void line(uint32_t indent) {
    if (gap_ != Gap::statement) gap_ = Gap::line;
    gapIndent_ = indent;
    indent_ = indent;
  }
  // Between clauses: a line of its own in the pretty layout.
  void clause(uint32_t indent) { pretty_ ? line(indent) : space(); }

  uint32_t anchorOf(const SqlNode* n) const {
    if (n == nullptr || n->span.start.line <= 0) return kNoAnchor;
    const auto line = static_cast<size_t>(n->span.start.line - 1);
    if (line >= lines_.size() || n->span.start.column <= 0) return kNoAnchor;
    const uint64_t at = lines_[line] + static_cast<uint64_t>(n->span.start.column - 1);
    return at < source_.size() ? static_cast<uint32_t>(at) : kNoAnchor;
  }

  void name(const SqlNode* n) { put(n->strVal(), anchorOf(n)); }

  // Width of what `print` writes on one line, or SIZE_MAX when it holds a subquery (which
  // the pretty layout always spreads over lines).
  template <typename Print>
  size_t measure(Print&& print) {
    const size_t mark = out_.size();
    const size_t cursor = cursor_;
    const size_t subqueries = subqueries_;
    const bool pretty = pretty_;
    const Gap gap = gap_;
    const uint32_t gapIndent = gapIndent_, indent = indent_;
    pretty_ = false;
    gap_ = Gap::none;
    print();
    size_t width = 0;
    for (size_t i = mark; i < out_.size(); ++i)
      width += out_[i].text.size() + (i > mark && out_[i].gap != Gap::none ? 1 : 0);
    if (subqueries_ != subqueries) width = SIZE_MAX;
    out_.resize(mark);
    cursor_ = cursor;
    pretty_ = pretty;
    gap_ = gap;
    gapIndent_ = gapIndent;
    indent_ = indent;
    return width;
  }

  static bool fits(size_t used, size_t width) {
    return width <= kLineWidth && used + width <= kLineWidth;
  }

  // A clause keyword and its comma-separated items: on the keyword's line while that line
  // stays within kLineWidth, otherwise one item a line, indented under it.
  template <typename Item>
  void listClause(std::string_view keyword, const SqlNode* first, uint32_t base, Item&& item,
                  uint32_t anchor = kNoAnchor) {
    put(keyword, anchor);
    auto items = [&] {
      for (const SqlNode* n = first; n != nullptr; n = n->next) {
        if (n != first) put(","), space();
        item(n);
      }
    };
    if (!pretty_ || fits(base + keyword.size() + 1, measure(items))) {
      space();
      items();
      return;
    }
    for (const SqlNode* n = first; n != nullptr; n = n->next) {
      line(base + kIndentStep);
      item(n);
      if (n->next != nullptr) put(",");
    }
  }

  // "(a, b, c)" after a word: as the list clause, with the closing parenthesis on a line of
  // its own when the items are.
  template <typename Item>
  void parenList(const SqlNode* first, uint32_t base, Item&& item, const SqlNode* stop = nullptr) {
    auto items = [&] {
      for (const SqlNode* n = first; n != stop; n = n->next) {
        if (n != first) put(","), space();
        item(n);
      }
    };
    space();
    put("(");
    if (!pretty_ || fits(base + 2 + 1, measure(items))) {
      items();
      put(")");
      return;
    }
    for (const SqlNode* n = first; n != stop; n = n->next) {
      line(base + kIndentStep);
      item(n);
      if (n->next != stop) put(",");
    }
    line(base);
    put(")");
  }

  void nameList(const NameList& names) {
    space();
    put("(");
    for (const NameLink* n = names.first; n != nullptr; n = n->next) {
      if (n != names.first) put(","), space();
      put(n->name);
    }
    put(")");
  }

  // ---- statements ------------------------------------------------------------------------

  void select(const SqlNode* query, uint32_t base) {
    const SqlNode* c = query->children().first;
    bool distinct = false;
    if (isMarker(c, "DISTINCT")) {
      distinct = true;
      c = c->next;
    }
    if (c == nullptr || c->kind != nkExprList) unexpected(query);
    listClause(
        distinct ? "SELECT DISTINCT" : "SELECT", c->children().first, base,
        [&](const SqlNode* item) { selectItem(item); }, anchorOf(query));
    for (c = c->next; c != nullptr; c = c->next) {
      clause(base);
      switch (c->kind) {
        case nkFromClause:
          put("FROM");
          space();
          fromItem(c->children().at(0), base);
          break;
        case nkWhereClause:
          put("WHERE");
          space();
          expr(c->children().at(0), kOr);
          break;
        case nkGroupByClause:
          listClause("GROUP BY", c->children().first, base,
                     [&](const SqlNode* e) { expr(e, kOr); });
          break;
        case nkHavingClause:
          put("HAVING");
          space();
          expr(c->children().at(0), kOr);
          break;
        case nkOrderByClause:
          listClause("ORDER BY", c->children().first, base,
                     [&](const SqlNode* e) { orderItem(e); });
          break;
        case nkLimitClause: {
          const NodeList& limits = c->children();
          put("LIMIT");
          space();
          expr(limits.at(0), kOr);
          if (limits.size >= 2) {
            space();
            put("OFFSET");
            space();
            expr(limits.at(1), kOr);
          }
          break;
        }
        default:
          unexpected(c);
      }
    }
  }

  void selectItem(const SqlNode* item) {
    if (item->kind == nkAlias) {
      expr(item->aliasExpr(), kOr);
      space();
      put("AS");
      space();
      put(item->aliasName(), anchorOf(item));
      return;
    }
    expr(item, kOr);
  }

  void orderItem(const SqlNode* item) {
    if (item->kind == nkAlias) {
      expr(item->aliasExpr(), kOr);
      space();
      put(item->ascending == 1 ? "ASC" : "DESC", anchorOf(item));
    } else {
      expr(item, kOr);
    }
    if (item->nullsFirst != -1) {
      space();
      put(item->nullsFirst == 1 ? "NULLS FIRST" : "NULLS LAST");
    }
  }

  static bool isCommaJoin(const SqlNode* join) {
    return join->joinKind() == jkCross && !join->natural && join->joinCond() == nullptr &&
           join->joinUsing().size == 0;
  }

  void fromItem(const SqlNode* item, uint32_t base) {
    // Joins nest to the left once per join: the spine is collected in a loop.
    std::vector<const SqlNode*> joins;
    while (item->kind == nkJoin) {
      joins.push_back(item);
      item = item->joinLeft();
    }
    // Cross joins at the end of the chain are the comma list they were most likely written as;
    // a comma cannot be followed by a JOIN, so earlier ones are written CROSS JOIN.
    size_t commas = 0;
    while (commas < joins.size() && isCommaJoin(joins[commas])) ++commas;
    tableItem(item);
    for (size_t i = joins.size(); i-- > 0;) {
      const SqlNode* join = joins[i];
      if (i < commas) {
        put(",");
        space();
        tableItem(join->joinRight());
        continue;
      }
      pretty_ ? line(base + kIndentStep) : space();
      std::string_view kind;
      switch (join->joinKind()) {
        case jkInner:
          kind = join->natural ? "NATURAL JOIN" : "JOIN";
          break;
        case jkLeft:
          kind = join->natural ? "NATURAL LEFT JOIN" : "LEFT JOIN";
          break;
        case jkRight:
          kind = join->natural ? "NATURAL RIGHT JOIN" : "RIGHT JOIN";
          break;
        case jkFull:
          kind = join->natural ? "NATURAL FULL JOIN" : "FULL JOIN";
          break;
        case jkCross:
          kind = join->natural ? "NATURAL CROSS JOIN" : "CROSS JOIN";
          break;
      }
      put(kind);
      space();
      tableItem(join->joinRight());
      if (join->joinCond() != nullptr) {
        space();
        put("ON");
        space();
        expr(join->joinCond(), kOr);
      } else if (join->joinUsing().size != 0) {
        space();
        put("USING");
        nameList(join->joinUsing());
      }
    }
  }

  void tableItem(const SqlNode* item) {
    const SqlNode* inner = item->kind == nkAlias ? item->aliasExpr() : item;
    if (inner->kind == nkFromDerived) {
      subquery(inner->children().at(0), anchorOf(inner));
    } else if (inner->kind == nkIdentifier) {
      name(inner);
    } else {
      unexpected(inner);
    }
    if (item->kind == nkAlias) {
      space();
      put("AS");
      space();
      put(item->aliasName(), anchorOf(item));
    }
  }

  // "(SELECT ...)": in the pretty layout the query's lines are indented one step under the
  // line that opens it, and the parenthesis closes on a line of its own.
  void subquery(const SqlNode* query, uint32_t anchor) {
    ++subqueries_;
    const uint32_t outer = indent_;
    put("(", anchor);
    if (pretty_) line(outer + kIndentStep);
    select(query, pretty_ ? outer + kIndentStep : 0);
    if (pretty_) line(outer);
    put(")");
  }

  void insert(const SqlNode* stmt) {
    const NodeList& parts = stmt->children();
    put("INSERT INTO", anchorOf(stmt));
    space();
    name(parts.at(0));
    const SqlNode* row = parts.first->next;
    if (row != nullptr && row->kind == nkColumnList) {
      parenList(row->children().first, 0, [&](const SqlNode* c) { name(c); });
      row = row->next;
    }
    clause(0);
    listClause("VALUES", row, 0, [&](const SqlNode* r) { valuesRow(r); });
  }

  void valuesRow(const SqlNode* row) {
    put("(");
    for (const SqlNode* e = row->children().first; e != nullptr; e = e->next) {
      if (e != row->children().first) put(","), space();
      expr(e, kOr);
    }
    put(")");
  }

  void update(const SqlNode* stmt) {
    const NodeList& parts = stmt->children();
    put("UPDATE", anchorOf(stmt));
    space();
    name(parts.at(0));
    clause(0);
    listClause("SET", parts.at(1)->children().first, 0, [&](const SqlNode* a) {
      name(a->binLeft());
      space();
      put("=");
      space();
      expr(a->binRight(), kOr);
    });
    if (parts.size >= 3) where(parts.at(2));
  }

  void deleteFrom(const SqlNode* stmt) {
    const NodeList& parts = stmt->children();
    put("DELETE FROM", anchorOf(stmt));
    space();
    name(parts.at(0));
    if (parts.size >= 2) where(parts.at(1));
  }

  void where(const SqlNode* clauseNode) {
    clause(0);
    put("WHERE");
    space();
    expr(clauseNode->children().at(0), kOr);
  }

  void createTable(const SqlNode* stmt) {
    const SqlNode* c = stmt->children().first;
    put("CREATE TABLE", anchorOf(stmt));
    if (isMarker(c, "IF NOT EXISTS")) {
      space();
      put("IF NOT EXISTS");
      c = c->next;
    }
    space();
    name(c);
    const SqlNode* elements = c->next;
    const SqlNode* with = nullptr;
    if (stmt->children().last->kind == nkWithOptions) with = stmt->children().last;
    parenList(
        elements, 0, [&](const SqlNode* e) { tableElement(e); }, with);
    if (with != nullptr) withOptions(with);
  }

  void tableElement(const SqlNode* e) {
    if (e->kind == nkColumnDef) {
      put(e->colName(), anchorOf(e));
      space();
      typeName(e->colType(), false);
      for (const SqlNode* k = e->colConstraints().first; k != nullptr; k = k->next) {
        space();
        const SqlNode* word = k->children().at(0);
        if (word->strVal() == "DEFAULT") {
          put("DEFAULT");
          space();
          expr(k->children().at(1), kOr);
        } else {
          put(word->strVal());
        }
      }
      return;
    }
    if (e->kind != nkConstraint) unexpected(e);
    const SqlNode* intro = e->children().at(0);
    switch (classifyWord(intro->strVal().data(), intro->strVal().size())) {
      case tkPrimary:
        put("PRIMARY KEY");
        break;
      case tkForeign:
        put("FOREIGN KEY");
        break;
      case tkUnique:
        put("UNIQUE");
        break;
      case tkConstraint:
        put("CONSTRAINT");
        break;
      default:
        unexpected(e);
    }
    if (intro->next != nullptr) {
      space();
      put("(");
      for (const SqlNode* n = intro->next; n != nullptr; n = n->next) {
        if (n != intro->next) put(","), space();
        name(n);
      }
      put(")");
    }
  }

  void upperWord(std::string_view word, uint32_t anchor) {
    std::string upper(word);
    for (char& ch : upper) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    putOwned(std::move(upper), anchor);
  }

  // A column's type keyword is upper-cased (the document names the type, not its spelling);
  // CAST's type name reaches the document as written, so there it stays as written.
  void typeName(const SqlNode* type, bool asWritten) {
    const NodeList& parts = type->children();
    const SqlNode* word = parts.at(0);
    if (asWritten || type->typeKeyword() == tkIdent) {
      put(word->strVal(), anchorOf(type));
    } else {
      upperWord(word->strVal(), anchorOf(type));
    }
    if (parts.size < 2) return;
    put("(");
    const SqlNode* first = word->next;
    expr(first, kOr);
    if (const SqlNode* second = first->next; second != nullptr) {
      put(",");
      space();
      if (second->kind == nkIdentifier &&
          classifyWord(second->strVal().data(), second->strVal().size()) != tkIdent) {
        upperWord(second->strVal(), anchorOf(second));
      } else {
        // A second parameter that starts with a name would read back as a metric name.
        expr(second, startsWithName(second) ? kPrimary + 1 : kOr);
      }
    }
    put(")");
  }

  // The node whose text starts the expression's text (parentheses aside).
  static const SqlNode* leftmost(const SqlNode* n) {
    for (;;) {
      const SqlNode* next = nullptr;
      if (n->kind == nkBinaryOp) {
        next = n->binLeft();
      } else if (n->kind == nkUnaryOp && (n->unOp() == opIsNull || n->unOp() == opIsNotNull)) {
        next = n->unOperand();
      } else if (n->kind == nkInSubquery || n->kind == nkQuantified) {
        next = n->children().first;
      }
      if (next == nullptr) return n;
      n = next;
    }
  }

  static bool startsWithName(const SqlNode* n) {
    n = leftmost(n);
    return n->kind == nkIdentifier || n->kind == nkColumnRef ||
           (n->kind == nkFunctionCall && n->children().last->kind != nkTypeName);
  }

  void withOptions(const SqlNode* with) {
    clause(0);
    put("WITH");
    parenList(with->children().first, 0, [&](const SqlNode* option) {
      const SqlNode* key = option->children().at(0);
      const SqlNode* value = option->children().at(1);
      name(key);
      space();
      put("=");
      space();
      // The value is kept as the token it was written as: the document holds its text
      // verbatim, so a bare word keeps its case and a string stays quoted.
      const uint32_t at = anchorOf(value);
      if (at != kNoAnchor && source_[at] != '\'' && source_[at] != '"') {
        put(value->strVal(), at);
      } else {
        putOwned(quoted(value->strVal()), at);
      }
    });
  }

  void createIndex(const SqlNode* stmt) {
    const SqlNode* c = stmt->children().first;
    put("CREATE INDEX", anchorOf(stmt));
    if (isMarker(c, "IF NOT EXISTS")) {
      space();
      put("IF NOT EXISTS");
      c = c->next;
    }
    space();
    name(c);
    space();
    put("ON");
    space();
    name(c->next);
    space();
    put("(");
    name(c->next->next);
    put(")");
    for (const SqlNode* rest = c->next->next->next; rest != nullptr; rest = rest->next) {
      if (rest->kind == nkWithOptions) {
        withOptions(rest);
      } else {
        clause(0);
        put("USING");
        space();
        upperWord(rest->strVal(), anchorOf(rest));
      }
    }
  }

  void drop(const SqlNode* stmt) {
    const SqlNode* c = stmt->children().first;
    put(stmt->kind == nkDropTable ? "DROP TABLE" : "DROP INDEX", anchorOf(stmt));
    if (isMarker(c, "IF EXISTS")) {
      space();
      put("IF EXISTS");
      c = c->next;
    }
    space();
    name(c);
  }

  // ---- expressions -----------------------------------------------------------------------

  static std::string quoted(std::string_view content) {
    std::string s;
    s.reserve(content.size() + 2);
    s += '\'';
    for (char ch : content) {
      s += ch;
      if (ch == '\'') s += '\'';
    }
    s += '\'';
    return s;
  }

  // `n` where an operand of level `minLevel` or tighter is expected: parenthesised when it
  // binds more loosely. Left spines are walked in a loop; the recursion that remains follows
  // parentheses, subqueries and operands of tighter levels, which the parser's nesting limit
  // bounds.
  void expr(const SqlNode* n, int minLevel) {
    if (n == nullptr) throw InternalDefect("format: missing operand");
    const size_t base = spine_.size();
    while (isChainLink(n)) {
      const int level = levelOf(n);
      const bool paren = level < minLevel;
      if (paren) put("(");
      spine_.push_back({n, paren});
      minLevel = level;
      n = n->binLeft();
      if (n == nullptr) throw InternalDefect("format: missing operand");
    }
    operand(n, minLevel);
    while (spine_.size() > base) {
      const SpineLink link = spine_.back();
      spine_.pop_back();
      space();
      put(operatorText(link.node->binOp()));
      space();
      expr(link.node->binRight(), levelOf(link.node) + 1);
      if (link.paren) put(")");
    }
  }

  void operand(const SqlNode* n, int minLevel) {
    const bool paren = levelOf(n) < minLevel;
    if (paren) put("(");
    switch (n->kind) {
      case nkIdentifier:
        name(n);
        break;
      case nkColumnRef: {
        const SqlNode* table = n->children().at(0);
        const SqlNode* column = n->children().at(1);
        name(table);
        put(".");
        name(column);
        break;
      }
      case nkStar:
        put("*", anchorOf(n));
        break;
      case nkStringLit:
        putOwned(quoted(n->strVal()), anchorOf(n));
        break;
      case nkIntLit:
      case nkFloatLit:
        put(n->numberLexeme(), anchorOf(n));
        break;
      case nkBoolLit:
        put(n->boolVal() ? "TRUE" : "FALSE", anchorOf(n));
        break;
      case nkNull:
        put("NULL", anchorOf(n));
        break;
      case nkVectorLiteral:
        vectorLiteral(n);
        break;
      case nkFunctionCall:
        call(n);
        break;
      case nkScalarSubquery:
        subquery(n->children().at(0), anchorOf(n));
        break;
      case nkExists:
        if (n->negated) put("NOT"), space();
        put("EXISTS", anchorOf(n));
        space();
        subquery(n->children().at(0), kNoAnchor);
        break;
      case nkInSubquery:
        expr(n->children().at(0), kConcat);
        space();
        put(n->negated ? "NOT IN" : "IN");
        space();
        subquery(n->children().at(1), kNoAnchor);
        break;
      case nkQuantified: {
        const NodeList& parts = n->children();
        expr(parts.at(0), kConcat);
        space();
        put(operatorText(parts.at(1)->strVal()));
        space();
        put(n->quantifierAll ? "ALL" : "ANY", anchorOf(n));
        space();
        subquery(parts.at(2), kNoAnchor);
        break;
      }
      case nkUnaryOp:
        unary(n);
        break;
      case nkBinaryOp:
        predicate(n);
        break;
      default:
        unexpected(n);
    }
    if (paren) put(")");
  }

  void unary(const SqlNode* n) {
    const SqlNode* x = n->unOperand();
    if (x == nullptr) throw InternalDefect("format: missing operand");
    switch (n->unOp()) {
      case opNot:
        put("NOT", anchorOf(n));
        space();
        // "NOT EXISTS (...)" would read back as a negated EXISTS, a node of its own.
        expr(x, x->kind == nkExists ? kPrimary + 1 : kPrimary);
        return;
      case opNeg:
        put("-", anchorOf(n));
        // "--" would open a comment.
        if (x->kind == nkUnaryOp && x->unOp() == opNeg) space();
        expr(x, kPrimary);
        return;
      case opIsNull:
      case opIsNotNull:
        expr(x, kConcat);
        space();
        put(n->unOp() == opIsNull ? "IS NULL" : "IS NOT NULL");
        return;
    }
  }

  void predicate(const SqlNode* n) {
    const BinaryOperator op = n->binOp();
    const SqlNode* right = n->binRight();
    if (right == nullptr) throw InternalDefect("format: missing operand");
    expr(n->binLeft(), kConcat);
    space();
    put(operatorText(op));
    space();
    switch (op) {
      case opIn:
      case opNotIn:
        put("(");
        for (const SqlNode* e = right->children().first; e != nullptr; e = e->next) {
          if (e != right->children().first) put(","), space();
          expr(e, kOr);
        }
        put(")");
        return;
      case opBetween:
      case opNotBetween:
        expr(right->children().at(0), kConcat);
        space();
        put("AND");
        space();
        expr(right->children().at(1), kConcat);
        return;
      case opLike:
      case opNotLike:
        if (right->kind == nkExprList) {
          expr(right->children().at(0), kConcat);
          space();
          put("ESCAPE");
          space();
          expr(right->children().at(1), kConcat);
        } else {
          expr(right, kConcat);
        }
        return;
      default:
        expr(right, kConcat);
        return;
    }
  }

  void call(const SqlNode* n) {
    const NodeList& parts = n->children();
    const SqlNode* fn = parts.at(0);
    if (parts.last->kind == nkTypeName) {
      put("CAST", anchorOf(n));
      put("(");
      expr(fn->next, kOr);
      space();
      put("AS");
      space();
      typeName(parts.last, true);
      put(")");
      return;
    }
    put(fn->strVal(), anchorOf(n));
    put("(");
    if (n->star) {
      put("*");
    } else {
      if (n->distinct) put("DISTINCT"), space();
      for (const SqlNode* a = fn->next; a != nullptr; a = a->next) {
        if (a != fn->next) put(","), space();
        // "f(*" starts the call with the star flag; a first argument that starts with a star
        // is parenthesised: "f((*))", "f((* - 1))".
        const bool starArgument = a == fn->next && !n->distinct && leftmost(a)->kind == nkStar;
        expr(a, starArgument ? kPrimary + 1 : kOr);
      }
    }
    put(")");
  }

  void vectorLiteral(const SqlNode* n) {
    const DoubleArray& values = n->vectorValues();
    put("[", anchorOf(n));
    for (size_t i = 0; i < values.size; ++i) {
      if (i != 0) put(","), space();
      // The sign is a token of its own, as the scanner reads it.
      if (std::signbit(values.data[i])) put("-");
      putOwned(vectorElement(values.data[i]));
    }
    put("]");
  }

  // The element's magnitude as digits that read back as the same double: the shortest such text in
  // positional form (the dialect has no exponent), infinity as a number past the range.
  static std::string vectorElement(double v) {
    std::string s;
    const double mag = std::fabs(v);
    if (std::isinf(mag) || std::isnan(mag)) {
      s += '1';
      s.append(400, '0');
      return s;
    }
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::fixed);
    s.append(buf, res.ptr);
    return s;
  }

  struct SpineLink {
    const SqlNode* node;
    bool paren;
  };

  std::vector<Piece>& out_;
  std::deque<std::string>& owned_;
  const std::vector<uint32_t>& lines_;
  const std::vector<TokenRange>& tokens_;
  std::string_view source_;
  size_t& cursor_;  // the first source token not yet matched to a piece
  bool pretty_;
  Gap gap_ = Gap::statement;
  uint32_t gapIndent_ = 0;
  uint32_t indent_ = 0;
  size_t subqueries_ = 0;
  std::vector<SpineLink> spine_;
};

// Second pass: lays the pieces out as text and lets the comments in.
class Layout {
 public:
  Layout(const std::vector<Comment>& comments, bool pretty)
      : comments_(comments), pretty_(pretty) {}

  // Lays out what can be laid out; the pieces after the last anchor wait in `pieces` for the
  // next statement, which tells which comments go before them.
  void flush(std::vector<Piece>& pieces, bool final) {
    size_t i = 0;
    for (; i < pieces.size(); ++i) {
      const Piece& p = pieces[i];
      if (p.gap != Gap::none) {
        uint32_t limit = 0;
        if (firstGap_ && nextComment_ < comments_.size()) {
          size_t j = i;
          while (j < pieces.size() && pieces[j].anchor == kNoAnchor) ++j;
          // The anchor that bounds this gap's comments is in the next statement.
          if (j == pieces.size() && !final) break;
          limit = j < pieces.size() ? pieces[j].anchor : kNoAnchor;
        }
        gap(p.gap, p.indent, limit);
        firstGap_ = false;
      }
      if (p.anchor != kNoAnchor) {
        // No gap since the last anchor: the comments before this token go right here.
        if (nextComment_ < comments_.size() && comments_[nextComment_].start < p.anchor)
          gap(Gap::none, lineIndent_, p.anchor);
        firstGap_ = true;
      }
      text(p.text);
    }
    pieces.erase(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(i));
  }

  std::string finish(std::vector<Piece>& pieces) {
    flush(pieces, true);
    gap(Gap::statement, 0, kNoAnchor);
    while (!out_.empty() && out_.back() == '\n') out_.pop_back();
    if (!out_.empty()) out_ += '\n';
    return std::move(out_);
  }

 private:
  void text(std::string_view t) {
    out_ += t;
    atLineStart_ = false;
  }
  void lineBreak(uint32_t indent) {
    out_ += '\n';
    out_.append(indent, ' ');
    atLineStart_ = true;
    lineIndent_ = indent;
  }
  // The break a vertical gap stands for: between statements a blank line in the pretty layout.
  void gapBreak(Gap g, uint32_t indent) {
    if (out_.empty()) {
      atLineStart_ = true;
      return;
    }
    if (g == Gap::statement && pretty_) out_ += '\n';
    lineBreak(indent);
  }

  // Writes the gap with the comments that start before `limit`. A comment that trailed code
  // stays at the end of its line; one that stood on a line of its own gets one at a vertical
  // gap; a `--` comment is always followed by a line break.
  void gap(Gap g, uint32_t indent, uint32_t limit) {
    const bool vertical = g == Gap::line || g == Gap::statement;
    bool broke = false;
    bool any = false;
    while (nextComment_ < comments_.size() && comments_[nextComment_].start < limit) {
      const Comment& c = comments_[nextComment_++];
      any = true;
      // Before the first statement there is no code for a comment to trail.
      if (!vertical || (c.trailing && !broke && !out_.empty())) {
        if (!atLineStart_ && !out_.empty()) out_ += ' ';
        text(c.text);
        if (c.lineComment) {
          if (vertical) {
            gapBreak(g, indent);
            broke = true;
          } else {
            // The line goes on below, one step in.
            const uint32_t base = lineIndent_;
            lineBreak(pretty_ ? base + kIndentStep : 0);
            lineIndent_ = base;
          }
        }
        continue;
      }
      if (!broke) {
        gapBreak(g, indent);
        broke = true;
      } else if (!atLineStart_) {
        lineBreak(indent);
      }
      text(c.text);
      if (c.lineComment) lineBreak(indent);
    }
    if (vertical) {
      if (!broke) {
        gapBreak(g, indent);
      } else if (!atLineStart_) {
        lineBreak(indent);
      }
    } else if (!atLineStart_ && (g == Gap::space || any)) {
      out_ += ' ';
    }
  }

  const std::vector<Comment>& comments_;
  size_t nextComment_ = 0;
  bool pretty_;
  bool firstGap_ = true;
  bool atLineStart_ = true;
  uint32_t lineIndent_ = 0;
  std::string out_;
};

}  // namespace

std::string formatSql(std::string_view text, bool pretty) {
  const Source source(text);
  std::vector<Piece> pieces;
  std::deque<std::string> owned;
  size_t cursor = 0;
  Layout layout(source.comments, pretty);
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  parseSqlStatements(text, arena, [&](const SqlNode* stmt, const Parser&) {
    TreePrinter printer(pieces, owned, source, cursor, pretty);
    printer.statement(stmt);
    printer.terminator();
    layout.flush(pieces, false);
  });
  return layout.finish(pieces);
}

}  // namespace quorix::tools
