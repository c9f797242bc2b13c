// format: the tree printed back as SQL in the house style (docs/TOOLS.md), comments kept.
//
// Two passes per statement. The first walks the tree and writes pieces: a token's text, the
// kind of gap before it (none, a blank, a line break) and, where it is known, the source
// offset of the token it stands for (an anchor): from a node's span, or for the words and
// punctuation the tree has no place for, from the next source token when that one matches.
// The second lays the pieces out and drops each comment of the source into the first gap after
// the anchor that preceded it, so comments keep their order and their neighbours whatever the
// tree left out of the text.
//
// A text without comments needs neither anchors nor the second pass: the walk writes the text
// itself, which is most of the work saved (see TreePrinter::put), and a long INSERT's rows are
// written as the parser reads them.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One pass over the text: the offsets of its line starts go to `lines`, and the result tells
// whether a comment can start anywhere in it. A text without "--" and "/*" has none, and then
// the positions of tokens, which only place comments, need not be found.
bool scanLines(std::string_view text, std::vector<uint32_t>& lines) {
  bool comments = false;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n'), dash = _mm_set1_epi8('-'),
                slash = _mm_set1_epi8('/'), star = _mm_set1_epi8('*');
  __m128i opened = _mm_setzero_si128();
  for (; i + 17 <= text.size(); i += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + 1));
    const __m128i dashes = _mm_and_si128(_mm_cmpeq_epi8(here, dash), _mm_cmpeq_epi8(next, dash));
    const __m128i opens = _mm_and_si128(_mm_cmpeq_epi8(here, slash), _mm_cmpeq_epi8(next, star));
    opened = _mm_or_si128(opened, _mm_or_si128(dashes, opens));
    for (auto breaks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, newline)));
         breaks != 0; breaks &= breaks - 1)
      lines.push_back(static_cast<uint32_t>(i + static_cast<size_t>(std::countr_zero(breaks)) + 1));
  }
  comments = _mm_movemask_epi8(opened) != 0;
#endif
  for (; i < text.size(); ++i) {
    if (text[i] == '\n') lines.push_back(static_cast<uint32_t>(i + 1));
    if (i + 1 < text.size() &&
        ((text[i] == '-' && text[i + 1] == '-') || (text[i] == '/' && text[i + 1] == '*')))
      comments = true;
  }
  return comments;
}

// What both passes need from the source text.
struct Source {
  explicit Source(std::string_view t) : text(t) {
    lines.push_back(0);
    if (!scanLines(text, lines)) return;
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
  std::vector<TokenRange> tokens;  // every token but comments, when the text has comments
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

bool isDigitByte(char c) { return c >= '0' && c <= '9'; }

bool isMarker(const SqlNode* n, std::string_view text) {
  return n != nullptr && n->kind == nkIdentifier && n->strVal() == text;
}

// Output written through a pointer into a buffer with room to spare: most pieces are a few
// bytes, for which std::string's append costs more than the copy.
class Text {
 public:
  explicit Text(size_t expected)
      : buf_(expected, '\0'), cur_(buf_.data()), end_(buf_.data() + buf_.size()) {}

  size_t size() const { return static_cast<size_t>(cur_ - buf_.data()); }
  bool empty() const { return size() == 0; }
  char* data() { return buf_.data(); }
  char operator[](size_t i) const { return buf_[i]; }

  // Room for `n` more bytes at the end; commit takes what was written there.
  char* reserve(size_t n) {
    if (static_cast<size_t>(end_ - cur_) < n) [[unlikely]]
      grow(n);
    return cur_;
  }
  void commit(char* end) { cur_ = end; }
  char* room(size_t n) {
    char* p = reserve(n);
    cur_ = p + n;
    return p;
  }
  void append(char c) { *room(1) = c; }
  void append(size_t count, char c) { std::memset(room(count), c, count); }
  void truncate(size_t n) { cur_ = buf_.data() + n; }

  std::string take() {
    buf_.resize(size());
    return std::move(buf_);
  }

 private:
  [[gnu::noinline]] void grow(size_t n) {
    const size_t used = size();
    buf_.resize(std::max(buf_.size() * 2, used + n));
    cur_ = buf_.data() + used;
    end_ = buf_.data() + buf_.size();
  }

  std::string buf_;
  char* cur_;
  char* end_;
};

// First pass: the tree as pieces.
class TreePrinter {
 public:
  // With comments in the text, pieces go to `pieces` for the layout to put the comments
  // between; without, the text is written straight to `direct`.
  TreePrinter(std::vector<Piece>& pieces, Text& direct, Arena& owned, const Source& source,
              size_t& cursor, bool pretty)
      : pieces_(pieces),
        direct_(direct),
        owned_(owned),
        lines_(source.lines),
        tokens_(source.tokens),
        text_(source.text),
        cursor_(cursor),
        textBegin_(reinterpret_cast<uintptr_t>(source.text.data())),
        textEnd_(reinterpret_cast<uintptr_t>(source.text.data() + source.text.size())),
        pretty_(pretty),
        blankLines_(pretty),
        tracking_(!source.comments.empty()) {}

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

  // One more row of the INSERT just written, which has far too many rows for one line.
  void anotherRow(const SqlNode* row) {
    put(",");
    pretty_ ? line(kIndentStep) : space();
    valuesRow(row);
  }

 private:
  // ---- pieces ----------------------------------------------------------------------------

  // Called for every token of the output: kept small enough to inline everywhere.
  [[gnu::always_inline]] void put(std::string_view text, uint32_t anchor = kNoAnchor) {
    if (tracking_) {
      putPiece(text, anchor);
    } else {
      char* p = startPiece(text.size());
      std::memcpy(p, text.data(), text.size());
      direct_.commit(p + text.size());
    }
    gap_ = Gap::none;
  }

  // put for a token that is usually a short view of the text (a name, a number): one copy of
  // fixed size, of which the token's bytes are kept, is cheaper than a call.
  [[gnu::always_inline]] void putToken(std::string_view text, uint32_t anchor) {
    const auto at = reinterpret_cast<uintptr_t>(text.data());
    if (tracking_ || text.size() > 16 || at < textBegin_ || at + 16 > textEnd_) {
      put(text, anchor);
      return;
    }
    char* p = startPiece(16);
    std::memcpy(p, text.data(), 16);
    direct_.commit(p + text.size());
    gap_ = Gap::none;
  }

  // The gap before a piece, and room for `size` bytes after it.
  [[gnu::always_inline]] char* startPiece(size_t size) {
    if (gap_ >= Gap::line) writeBreak();
    // A blank is written whether or not it is wanted, and kept only when it is.
    char* p = direct_.reserve(size + 1);
    *p = ' ';
    return p + (gap_ == Gap::space ? 1 : 0);
  }

  [[gnu::noinline]] void putPiece(std::string_view text, uint32_t anchor) {
    pieces_.push_back({text, match(text, anchor), gapIndent_, gap_});
  }

  // A vertical gap as the layout writes it where no comment falls.
  void writeBreak() {
    if (gap_ == Gap::statement) {
      gap_ = Gap::none;
      if (direct_.empty()) return;
      if (blankLines_) direct_.append('\n');
    }
    gap_ = Gap::none;
    direct_.append('\n');
    direct_.append(gapIndent_, ' ');
  }

  // The anchor of a piece, and the source tokens it stands for matched.
  uint32_t match(std::string_view text, uint32_t anchor) {
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
    return anchor;
  }

  bool sameWord(std::string_view text, size_t from, TokenRange token) const {
    const size_t to = std::min(text.find(' ', from), text.size());
    if (to - from != token.end - token.start) return false;
    for (size_t i = 0; i < to - from; ++i) {
      char a = text[from + i], b = text_[token.start + i];
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

  // Room for a piece's text that is not in the source; it lives until the pieces are laid out.
  char* ownedText(size_t size) { return static_cast<char*>(owned_.allocate(size, 1)); }
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

  // Where the node's text starts in the source, from its span.
  uint32_t offsetOf(const SqlNode* n) const {
    if (n == nullptr || n->span.start.line <= 0 || n->span.start.column <= 0) return kNoAnchor;
    const auto line = static_cast<size_t>(n->span.start.line - 1);
    if (line >= lines_.size()) return kNoAnchor;
    const uint64_t at = lines_[line] + static_cast<uint64_t>(n->span.start.column - 1);
    return at < text_.size() ? static_cast<uint32_t>(at) : kNoAnchor;
  }
  // Anchors only place comments: without comments none is looked up.
  uint32_t anchorOf(const SqlNode* n) const { return tracking_ ? offsetOf(n) : kNoAnchor; }

  void name(const SqlNode* n) { putToken(n->strVal(), anchorOf(n)); }

  // Where the output is now, to measure or change what follows.
  size_t mark() const { return tracking_ ? pieces_.size() : direct_.size(); }

  // The width on one line of what was written since `mark`, the gap before it aside.
  size_t widthSince(size_t mark) const {
    if (!tracking_) {
      const size_t written = direct_.size() - mark;
      return written != 0 && direct_[mark] == ' ' ? written - 1 : written;
    }
    size_t width = 0;
    for (size_t i = mark; i < pieces_.size(); ++i)
      width += pieces_[i].text.size() + (i > mark && pieces_[i].gap != Gap::none ? 1 : 0);
    return width;
  }

  // Turns the gaps at the marks in breaks_ from `first` on (each a blank or nothing) into line
  // breaks, so that a list written on one line need not be written again to be broken.
  void breakLines(size_t first) {
    if (tracking_) {
      for (size_t i = first; i < breaks_.size(); ++i) {
        pieces_[breaks_[i].at].gap = Gap::line;
        pieces_[breaks_[i].at].indent = breaks_[i].indent;
      }
      breaks_.resize(first);
      return;
    }
    // One pass from the end moves every byte once.
    size_t grow = 0;
    for (size_t i = first; i < breaks_.size(); ++i)
      grow += 1 + breaks_[i].indent - (direct_[breaks_[i].at] == ' ' ? 1 : 0);
    size_t end = direct_.size();
    direct_.room(grow);
    char* d = direct_.data();
    size_t to = end + grow;
    for (size_t i = breaks_.size(); i-- > first;) {
      const size_t at = breaks_[i].at;
      const size_t from = d[at] == ' ' ? at + 1 : at;
      to -= end - from;
      std::memmove(d + to, d + from, end - from);
      to -= breaks_[i].indent;
      std::memset(d + to, ' ', breaks_[i].indent);
      d[--to] = '\n';
      end = at;
    }
    breaks_.resize(first);
  }

  // Writes the items on one line and tells whether they fit there from column `used`. When they
  // do not, they are broken one item a line `indent` in, moved rather than written again,
  // unless they hold a subquery (which the pretty layout spreads over lines anyway): then they
  // are taken back and false returned for the caller to write them broken.
  template <typename Item>
  bool oneLine(const SqlNode* first, const SqlNode* stop, size_t used, uint32_t indent, Item&& item,
               bool closeOnLine = false) {
    const size_t start = mark();
    const size_t cursor = cursor_;
    const size_t subqueries = subqueries_;
    const Gap gap = gap_;
    const uint32_t gapIndent = gapIndent_, savedIndent = indent_;
    const size_t firstBreak = breaks_.size();
    const bool pretty = pretty_;
    pretty_ = false;
    for (const SqlNode* n = first; n != stop; n = n->next) {
      if (n != first) put(","), space();
      if (pretty) breaks_.push_back({mark(), indent});
      item(n);
    }
    pretty_ = pretty;
    const bool flat = subqueries_ == subqueries;
    if (!pretty_ || (flat && fits(used, widthSince(start)))) {
      breaks_.resize(firstBreak);
      return true;
    }
    if (flat) {
      breakLines(firstBreak);
      gapIndent_ = indent_ = indent;
      if (closeOnLine) line(indent - kIndentStep);
      return true;
    }
    breaks_.resize(firstBreak);
    if (tracking_) {
      pieces_.resize(start);
    } else {
      direct_.truncate(start);
    }
    cursor_ = cursor;
    gap_ = gap;
    gapIndent_ = gapIndent;
    indent_ = savedIndent;
    return false;
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
    space();
    if (oneLine(first, nullptr, base + keyword.size() + 1, base + kIndentStep, item)) return;
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
    space();
    put("(");
    if (oneLine(first, stop, base + 2 + 1, base + kIndentStep, item, true)) {
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
      putToken(item->aliasName(), anchorOf(item));
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
      // Indexed by JoinKind, plain and NATURAL.
      static constexpr std::string_view kJoinWords[2][5] = {
          {"JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN", "CROSS JOIN"},
          {"NATURAL JOIN", "NATURAL LEFT JOIN", "NATURAL RIGHT JOIN", "NATURAL FULL JOIN",
           "NATURAL CROSS JOIN"}};
      const std::string_view kind = kJoinWords[join->natural ? 1 : 0][join->joinKind()];
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
      putToken(item->aliasName(), anchorOf(item));
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

  // A DDL statement's keywords, its IF [NOT] EXISTS when the marker child stands first, and
  // the name after it; returns that name's node.
  const SqlNode* ddlHead(const SqlNode* stmt, std::string_view keywords, std::string_view marker) {
    const SqlNode* c = stmt->children().first;
    put(keywords, anchorOf(stmt));
    if (isMarker(c, marker)) {
      space();
      put(marker);
      c = c->next;
    }
    space();
    name(c);
    return c;
  }

  void createTable(const SqlNode* stmt) {
    const SqlNode* c = ddlHead(stmt, "CREATE TABLE", "IF NOT EXISTS");
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
    char* upper = ownedText(word.size());
    for (size_t i = 0; i < word.size(); ++i) {
      const char ch = word[i];
      upper[i] = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    put({upper, word.size()}, anchor);
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
      const uint32_t at = offsetOf(value);
      const uint32_t anchor = tracking_ ? at : kNoAnchor;
      if (at != kNoAnchor && text_[at] != '\'' && text_[at] != '"') {
        put(value->strVal(), anchor);
      } else {
        quoted(value->strVal(), anchor);
      }
    });
  }

  void createIndex(const SqlNode* stmt) {
    const SqlNode* c = ddlHead(stmt, "CREATE INDEX", "IF NOT EXISTS");
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
    ddlHead(stmt, stmt->kind == nkDropTable ? "DROP TABLE" : "DROP INDEX", "IF EXISTS");
  }

  // ---- expressions -----------------------------------------------------------------------

  // A string literal in single quotes, a quote inside doubled. A string that stands so in the
  // source is taken from there.
  void quoted(std::string_view content, uint32_t anchor) {
    const auto at = reinterpret_cast<uintptr_t>(content.data());
    const auto begin = reinterpret_cast<uintptr_t>(text_.data());
    // Only a string written in single quotes is a view of the text between them, and one with
    // a quote inside is not a view: a quote in it was written doubled.
    if (at > begin && at + content.size() < begin + text_.size() && content.data()[-1] == '\'' &&
        content.data()[content.size()] == '\'') {
      putToken({content.data() - 1, content.size() + 2}, anchor);
      return;
    }
    size_t size = content.size() + 2;
    for (char ch : content) size += ch == '\'';
    char* s = ownedText(size);
    char* p = s;
    *p++ = '\'';
    for (char ch : content) {
      *p++ = ch;
      if (ch == '\'') *p++ = '\'';
    }
    *p = '\'';
    put({s, size}, anchor);
  }

  // `n` where an operand of level `minLevel` or tighter is expected: parenthesised when it
  // binds more loosely. Left spines are walked in a loop; the recursion that remains follows
  // parentheses, subqueries and operands of tighter levels, which the parser's nesting limit
  // bounds.
  [[gnu::always_inline]] void expr(const SqlNode* n, int minLevel) {
    if (n == nullptr) throw InternalDefect("format: missing operand");
    isChainLink(n) ? chain(n, minLevel) : operand(n, minLevel);
  }

  // expr for an operator whose left operand may be another of its level.
  void chain(const SqlNode* n, int minLevel) {
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
        quoted(n->strVal(), anchorOf(n));
        break;
      case nkIntLit:
      case nkFloatLit:
        putToken(n->numberLexeme(), anchorOf(n));
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
    putToken(fn->strVal(), anchorOf(n));
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
    if (!tracking_) {
      // A long list of numbers, written as one piece, from the text while it is spelled as the
      // parser reads it fastest.
      const uint32_t open = offsetOf(n);
      const char* source = nullptr;
      const char* close = nullptr;
      if (open != kNoAnchor && text_[open] == '[') {
        source = text_.data() + open + 1;
        close = static_cast<const char*>(std::memchr(source, ']', text_.size() - open - 1));
        if (close == nullptr) source = nullptr;
      }
      const char* const end = text_.data() + text_.size();
      for (size_t i = 0; i < values.size; ++i) {
        char* at = direct_.reserve(kMaxElementText + 3);
        if (i != 0) *at++ = ',', *at++ = ' ';
        const size_t copied =
            source != nullptr && source <= close ? elementText(source, end, values.data[i], at) : 0;
        if (copied != 0) {
          at += copied;
        } else {
          source = nullptr;
          if (std::signbit(values.data[i])) *at++ = '-';
          at += magnitudeText(values.data[i], at);
        }
        direct_.commit(at);
      }
    } else {
      for (size_t i = 0; i < values.size; ++i) {
        if (i != 0) put(","), space();
        // The sign is a token of its own, as the scanner reads it.
        if (std::signbit(values.data[i])) put("-");
        char buf[kMaxElementText];
        const size_t size = magnitudeText(values.data[i], buf);
        char* s = ownedText(size);
        std::memcpy(s, buf, size);
        put({s, size});
      }
    }
    put("]");
  }

  // The element `v` as written at `p` ("-0.5140, " up to its ',' or ']'), without its surplus
  // zeros, when that is the text magnitudeText would write. The elements are the literal's
  // number tokens in order, each read as the double nearest to it; a decimal of at most 15
  // significant digits is the shortest text of that double (see shortDecimal). Writes it to
  // `out`, moves `p` past the separator and returns the size; returns 0 for a spelling it does
  // not take (a line break, a long number), which leaves the rest to magnitudeText. The scan
  // needs no bound, as the literal's ']' stops every loop; `textEnd` bounds the copy.
  static size_t elementText(const char*& p, const char* textEnd, double v, char* out) {
    const char* q = p;
    while (*q == ' ') ++q;
    const bool negative = *q == '-';
    if (negative != std::signbit(v)) return 0;
    q += negative ? 1 : 0;
    const char* first = q;
    while (isDigitByte(*q)) ++q;
    const char* point = q;
    if (point == first) return 0;
    if (*q == '.' && isDigitByte(q[1])) {
      for (q += 2; isDigitByte(*q);) ++q;
    }
    const char* last = q;
    while (*q == ' ') ++q;
    if (*q != ',' && *q != ']') return 0;
    while (*first == '0' && first + 1 < point) ++first;
    if (last != point) {
      while (last[-1] == '0') --last;
      if (last[-1] == '.') --last;
    }
    // At most 15 digits, so at most 15 significant ones.
    const auto size = static_cast<size_t>(last - first);
    if (size - (last > point ? 1 : 0) > 15) return 0;
    out[0] = '-';
    char* o = out + (negative ? 1 : 0);
    // Most elements are short: one copy of fixed size, of which `size` bytes are kept.
    if (textEnd - first >= 16) {
      std::memcpy(o, first, 16);
    } else {
      std::memcpy(o, first, size);
    }
    p = q + 1;
    return static_cast<size_t>(o - out) + size;
  }

  // The element's magnitude as digits that read back as the same double: the shortest such text
  // in positional form (the dialect has no exponent), infinity as a number past the range.
  static constexpr size_t kMaxElementText = 401;
  static size_t magnitudeText(double v, char* out) {
    const double mag = std::fabs(v);
    if (std::isinf(mag) || std::isnan(mag)) {
      out[0] = '1';
      std::memset(out + 1, '0', 400);
      return 401;
    }
    if (const size_t size = shortDecimal(mag, out); size != 0) return size;
    return static_cast<size_t>(
        std::to_chars(out, out + kMaxElementText, mag, std::chars_format::fixed).ptr - out);
  }

  // Most elements are short decimals, for which the general conversion is slow. A decimal of at
  // most 15 significant digits is the only one that short to read back as its double (15 is
  // DBL_DIG), so the fewest fraction digits at which the rounded value reads back give the
  // shortest text. Writes it to `out` and returns its size, or 0 when the value is not such a
  // decimal.
  static size_t shortDecimal(double mag, char* out) {
    int fraction = 0;
    uint64_t digits;
    for (;; ++fraction) {
      if (fraction > kMaxExactFraction) return 0;
      const double scaled = mag * kExactPowersOfTen[fraction];
      if (!(scaled < 1e15)) return 0;
      digits = static_cast<uint64_t>(static_cast<int64_t>(scaled + 0.5));
      if (exactDecimal(digits, fraction) == mag) break;
    }
    int length = 1;
    for (uint64_t bound = 10; length < 15 && digits >= bound; bound *= 10) ++length;
    // At least one digit before the point.
    const int shown = length > fraction ? length : fraction + 1;
    const auto size = static_cast<size_t>(shown + (fraction != 0 ? 1 : 0));
    char* p = out + size;
    for (int i = 0; i < shown; ++i) {
      if (i == fraction && fraction != 0) *--p = '.';
      *--p = static_cast<char>('0' + digits % 10);
      digits /= 10;
    }
    return size;
  }

  struct SpineLink {
    const SqlNode* node;
    bool paren;
  };

  struct Break {
    size_t at;  // a mark
    uint32_t indent;
  };

  std::vector<Piece>& pieces_;
  Text& direct_;
  Arena& owned_;
  const std::vector<uint32_t>& lines_;
  const std::vector<TokenRange>& tokens_;
  std::string_view text_;
  size_t& cursor_;  // the first source token not yet matched to a piece
  const uintptr_t textBegin_;
  const uintptr_t textEnd_;
  bool pretty_;
  const bool blankLines_;  // between statements: the pretty layout's, whatever pretty_ is now
  const bool tracking_;    // the text has comments, so pieces carry anchors
  Gap gap_ = Gap::statement;
  uint32_t gapIndent_ = 0;
  uint32_t indent_ = 0;
  size_t subqueries_ = 0;
  std::vector<SpineLink> spine_;
  std::vector<Break> breaks_;
};

// Second pass: lays the pieces out as text and lets the comments in.
class Layout {
 public:
  Layout(const std::vector<Comment>& comments, bool pretty, size_t expectedSize)
      : comments_(comments), pretty_(pretty) {
    out_.reserve(expectedSize);
  }

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

// The rows of a long INSERT, written as they are parsed, so that its nodes are released row by
// row instead of piling up. Only without comments: a piece may view a node's text, and the
// pieces wait for the layout.
class RowWriter final : public RowSink {
 public:
  explicit RowWriter(TreePrinter& printer) : printer_(printer) {}

  void beginRows(const SqlNode* insert) override {
    printer_.statement(insert);
    begun_ = true;
  }
  void row(const SqlNode* row, size_t) override { printer_.anotherRow(row); }

  // Whether the statement now complete was written as it was parsed.
  bool written() {
    const bool begun = begun_;
    begun_ = false;
    return begun;
  }

 private:
  TreePrinter& printer_;
  bool begun_ = false;
};

}  // namespace

std::string formatSql(std::string_view text, bool pretty) {
  const Source source(text);
  const bool direct = source.comments.empty();
  // The output is about as long as the source.
  const size_t expected = text.size() + text.size() / 8 + 16;
  Text out(direct ? expected : 0);
  std::vector<Piece> pieces;
  Arena owned;
  size_t cursor = 0;
  Layout layout(source.comments, pretty, direct ? 0 : expected);
  TreePrinter printer(pieces, out, owned, source, cursor, pretty);
  RowWriter rows(printer);
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  parseSqlStatements(
      text, arena,
      [&](const SqlNode* stmt, const Parser&) {
        if (!rows.written()) printer.statement(stmt);
        printer.terminator();
        if (!direct) layout.flush(pieces, false);
        if (pieces.empty()) owned.reset();
      },
      direct ? &rows : nullptr);
  if (!direct) return layout.finish(pieces);
  if (!out.empty()) out.append('\n');
  return out.take();
}

}  // namespace quorix::tools
