// normalizeSql: the text with each constant of a query replaced by $1, $2, ...
//
// The constants are found in the tree, not by the scanner: only the tree knows that the 10 of
// CAST(x AS DECIMAL(10, 2)) is part of a type and that a CREATE TABLE's DEFAULT is a setting.
// The tree gives each constant's first byte (a number's lexeme points into the text, the other
// literals carry their token's line and column); its last byte is found from the text.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/errors.h"
#include "lexer/lexer.h"
#include "parser/parser.h"
#include "tools/fingerprint_constants.h"
#include "tools/tools.h"

namespace quorix::tools {

namespace {

struct Replacement {
  size_t start;
  size_t end;  // one past the constant's last byte
};

class ConstantFinder {
 public:
  explicit ConstantFinder(std::string_view text) : text_(text) {}

  // The constants under `n`, last first; a definition's are none.
  const std::vector<Replacement>& find(const SqlNode* n) {
    found_.clear();
    if (detail::isDefinition(n)) return found_;
    // The tree of a long chain is as deep as the chain is long: a work list, not recursion.
    work_.assign(1, n);
    while (!work_.empty()) {
      n = work_.back();
      work_.pop_back();
      if (n->kind == nkTypeName) continue;  // VARCHAR(10) names a type, it binds no value
      if (detail::isConstant(n)) {
        found_.push_back(locate(n));
        continue;
      }
      const bool positions = detail::holdsPositions(n);
      detail::forEachChild(n, [&](const SqlNode* c) {
        if (!positions || !detail::isPosition(c)) work_.push_back(c);
      });
    }
    // Children are pushed first to last and popped last first, so the constants, which are
    // leaves, come out last first wherever nodes keep their children in text order. The sort is
    // for a node that does not; a bulk load's rows would pay for it on every row.
    const auto later = [](const Replacement& a, const Replacement& b) { return a.start > b.start; };
    if (!std::is_sorted(found_.begin(), found_.end(), later))
      std::sort(found_.begin(), found_.end(), later);
    return found_;
  }

 private:
  Replacement locate(const SqlNode* n) {
    switch (n->kind) {
      case nkIntLit:
      case nkFloatLit: {
        // Compared as addresses: a lexeme outside the text must be caught, not subtracted.
        const std::string_view lexeme = n->numberLexeme();
        const auto at = reinterpret_cast<uintptr_t>(lexeme.data());
        const auto base = reinterpret_cast<uintptr_t>(text_.data());
        if (at < base || at - base > text_.size() || text_.size() - (at - base) < lexeme.size())
          misplaced(n);
        return {at - base, at - base + lexeme.size()};
      }
      case nkStringLit: {
        const size_t start = offsetOf(n);
        const char quote = text_[start];
        if (quote != '\'' && quote != '"') misplaced(n);
        size_t p = start + 1;
        for (;;) {
          p = text_.find(quote, p);
          if (p == std::string_view::npos) misplaced(n);
          if (p + 1 < text_.size() && text_[p + 1] == quote) {
            p += 2;  // a doubled quote is part of the literal
            continue;
          }
          return {start, p + 1};
        }
      }
      case nkBoolLit: {
        const size_t start = offsetOf(n);
        const size_t length = n->boolVal() ? 4 : 5;
        if (start + length > text_.size() ||
            classifyWord(text_.data() + start, length) != (n->boolVal() ? tkTrue : tkFalse))
          misplaced(n);
        return {start, start + length};
      }
      default:  // nkVectorLiteral
        return locateVector(n);
    }
  }

  // From '[' through its ']'. Between them there are only numbers, signs, commas, blanks and
  // comments, and a comment is the one place a ']' could hide. Embeddings run to thousands of
  // bytes, so the closing ']' and the comment openers are searched for, not stepped to.
  Replacement locateVector(const SqlNode* n) {
    const size_t start = offsetOf(n);
    if (text_[start] != '[') misplaced(n);
    size_t p = start + 1;
    for (;;) {
      const size_t close = text_.find(']', p);
      if (close == std::string_view::npos) misplaced(n);
      const std::string_view inside = text_.substr(p, close - p);
      const size_t line = inside.find("--");
      const size_t block = inside.find("/*");
      if (line == std::string_view::npos && block == std::string_view::npos)
        return {start, close + 1};
      if (line < block) {
        p = text_.find('\n', p + line);
        if (p == std::string_view::npos) misplaced(n);
      } else {
        p = text_.find("*/", p + block + 2);
        if (p == std::string_view::npos) misplaced(n);
        p += 2;
      }
    }
  }

  size_t offsetOf(const SqlNode* n) {
    if (lineStarts_.empty()) {
      lineStarts_.push_back(0);
      for (size_t p = text_.find('\n'); p != std::string_view::npos; p = text_.find('\n', p + 1))
        lineStarts_.push_back(p + 1);
    }
    const Location at = n->span.start;
    if (at.line < 1 || static_cast<uint64_t>(at.line) > lineStarts_.size() || at.column < 1)
      misplaced(n);
    const size_t offset =
        lineStarts_[static_cast<size_t>(at.line - 1)] + static_cast<size_t>(at.column - 1);
    if (offset >= text_.size()) misplaced(n);
    return offset;
  }

  // A literal whose position does not lead back to its text would have us rewrite the wrong
  // bytes; that is a bug in the parser's positions, never something to paper over.
  [[noreturn]] static void misplaced(const SqlNode* n) {
    throw InternalDefect("normalize: no " + std::string(nodeKindName(n->kind)) +
                         " at the position the tree gives");
  }

  std::string_view text_;
  std::vector<size_t> lineStarts_;  // only LF starts a line, as in the scanner
  std::vector<const SqlNode*> work_;
  std::vector<Replacement> found_;
};

// Writes the normalized text as the statements are parsed. A long INSERT's rows arrive one by
// one while it is parsed (see RowSink): each is rewritten while its nodes are fresh in the
// cache, and memory holds one row's nodes, not a bulk load's.
class Normalizer final : public RowSink {
 public:
  explicit Normalizer(std::string_view text) : text_(text), finder_(text) {
    out_.reserve(text.size() + text.size() / 8);
  }

  void statement(const SqlNode* stmt) {
    if (stmt == streamed_) {
      streamed_ = nullptr;  // written row by row while it was parsed
      return;
    }
    number_ = 0;
    write(stmt);
  }
  void beginRows(const SqlNode* insert) override {
    streamed_ = insert;
    number_ = 0;
    write(insert);
  }
  void row(const SqlNode* row, size_t) override { write(row); }

  std::string take() {
    out_.append(text_.substr(copied_));
    return std::move(out_);
  }

 private:
  // The constants of a part of the text come after everything written so far. The part is
  // written in place, into room for each placeholder at its longest, then trimmed: appending
  // piece by piece costs more than the pieces, mostly a ", " and a "$7".
  void write(const SqlNode* n) {
    const std::vector<Replacement>& found = finder_.find(n);  // last first
    if (found.empty()) return;
    if (found.back().start < copied_) throw InternalDefect("normalize: constants overlap");
    constexpr size_t kLongestPlaceholder = 1 + std::numeric_limits<size_t>::digits10 + 1;
    const size_t used = out_.size();
    out_.resize(used + (found.front().start - copied_) + found.size() * kLongestPlaceholder);
    char* o = out_.data() + used;
    for (auto r = found.rbegin(); r != found.rend(); ++r) {
      if (r->start < copied_) throw InternalDefect("normalize: constants overlap");
      o = std::copy(text_.data() + copied_, text_.data() + r->start, o);
      *o++ = '$';
      o = std::to_chars(o, o + kLongestPlaceholder, ++number_).ptr;
      copied_ = r->end;
    }
    out_.resize(static_cast<size_t>(o - out_.data()));
  }

  std::string_view text_;
  ConstantFinder finder_;
  std::string out_;
  size_t copied_ = 0;
  size_t number_ = 0;  // placeholders of the statement so far
  const SqlNode* streamed_ = nullptr;
};

}  // namespace

std::string normalizeSql(std::string_view text) {
  Normalizer normalizer(text);
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  parseSqlStatements(
      text, arena, [&](const SqlNode* stmt, const Parser&) { normalizer.statement(stmt); },
      &normalizer);
  return normalizer.take();
}

}  // namespace quorix::tools
