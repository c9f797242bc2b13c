// normalizeSql: the text with each constant of a query replaced by $1, $2, ...
//
// The constants are found in the tree, not by the scanner: only the tree knows that the 10 of
// CAST(x AS DECIMAL(10, 2)) is part of a type and that a CREATE TABLE's DEFAULT is a setting.
// The tree gives each constant's first byte (a number's lexeme points into the text, the other
// literals carry their token's line and column); its last byte is found from the text.
#include <algorithm>
#include <cstdint>
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
  size_t number;
};

class ConstantFinder {
 public:
  explicit ConstantFinder(std::string_view text) : text_(text) {}

  // Adds the constants of one statement, numbered from $1 in text order.
  void addStatement(const SqlNode* stmt, std::vector<Replacement>& out) {
    if (detail::isDefinition(stmt)) return;
    const size_t first = out.size();
    // The tree of a long chain is as deep as the chain is long: a work list, not recursion.
    std::vector<const SqlNode*> work{stmt};
    while (!work.empty()) {
      const SqlNode* n = work.back();
      work.pop_back();
      if (n->kind == nkTypeName) continue;  // VARCHAR(10) names a type, it binds no value
      if (detail::isConstant(n)) {
        out.push_back(locate(n));
        continue;
      }
      const bool positions = detail::holdsPositions(n);
      detail::forEachChild(n, [&](const SqlNode* c) {
        if (!positions || !detail::isPosition(c)) work.push_back(c);
      });
    }
    auto mine = out.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(mine, out.end(),
              [](const Replacement& a, const Replacement& b) { return a.start < b.start; });
    size_t number = 0;
    for (auto it = mine; it != out.end(); ++it) it->number = ++number;
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
        return {at - base, at - base + lexeme.size(), 0};
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
          return {start, p + 1, 0};
        }
      }
      case nkBoolLit: {
        const size_t start = offsetOf(n);
        const size_t length = n->boolVal() ? 4 : 5;
        if (start + length > text_.size() ||
            classifyWord(text_.data() + start, length) != (n->boolVal() ? tkTrue : tkFalse))
          misplaced(n);
        return {start, start + length, 0};
      }
      default:  // nkVectorLiteral
        return locateVector(n);
    }
  }

  // From '[' through its ']'. Between them there are only numbers, signs, commas, blanks and
  // comments, and a comment is the one place a ']' could hide.
  Replacement locateVector(const SqlNode* n) {
    const size_t start = offsetOf(n);
    if (text_[start] != '[') misplaced(n);
    size_t p = start + 1;
    while (p < text_.size()) {
      const char c = text_[p];
      if (c == ']') return {start, p + 1, 0};
      if (c == '-' && p + 1 < text_.size() && text_[p + 1] == '-') {
        p = text_.find('\n', p);
        if (p == std::string_view::npos) break;
      } else if (c == '/' && p + 1 < text_.size() && text_[p + 1] == '*') {
        p = text_.find("*/", p + 2);
        if (p == std::string_view::npos) break;
        p += 2;
      } else {
        ++p;
      }
    }
    misplaced(n);
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
};

}  // namespace

std::string normalizeSql(std::string_view text) {
  std::vector<Replacement> replacements;
  ConstantFinder finder(text);
  Arena arena(text.size() < (size_t(64) << 10) ? text.size() : (size_t(64) << 10));
  // No row sink: a long INSERT comes back whole, every row's constants with it.
  parseSqlStatements(text, arena, [&](const SqlNode* stmt, const Parser&) {
    finder.addStatement(stmt, replacements);
  });

  std::string out;
  out.reserve(text.size() + replacements.size() * 4);
  size_t copied = 0;
  for (const Replacement& r : replacements) {
    out.append(text.substr(copied, r.start - copied));
    out += '$';
    out += std::to_string(r.number);
    copied = r.end;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace quorix::tools
