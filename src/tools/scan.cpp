// tokens and split: the scanner alone, so that they work on any text, valid SQL or not.
#include "common/arena.h"
#include "lexer/lexer.h"
#include "tools/token_class.h"
#include "tools/tools.h"

namespace quorix::tools {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Calls onToken(token, start, end) for every token of the text, the end token excluded, with the
// token's byte offsets.
template <typename OnToken>
void eachToken(std::string_view text, OnToken&& onToken) {
  Arena arena;
  Lexer lexer(text, arena, LexerMode::tools);
  Token t;
  for (;;) {
    const size_t before = lexer.consumed();
    lexer.next(t);
    if (t.kind == tkEof) return;
    // A lexeme is a view of the token's own bytes, a string's without its opening quote; only a
    // string with doubled quotes lives in the arena, and then, as only blanks stand between
    // two tokens in this mode, its start is the first byte after them.
    size_t start;
    if (lexer.inInput(t.lexeme.data()) && !t.lexeme.empty()) {
      start = static_cast<size_t>(t.lexeme.data() - text.data()) - (t.kind == tkString);
    } else {
      start = before;
      while (isBlank(text[start])) ++start;
    }
    onToken(t, static_cast<uint32_t>(start), static_cast<uint32_t>(lexer.consumed()));
    if (!lexer.inInput(t.lexeme.data())) arena.reset();
  }
}

bool startsStatement(uint8_t kind) {
  switch (kind) {
    case tkSelect:
    case tkInsert:
    case tkUpdate:
    case tkDelete:
    case tkCreate:
    case tkDrop:
      return true;
    default:
      return false;
  }
}

}  // namespace

TokenClass tokenClassOf(uint8_t kind, char first) {
  if (kind >= tkSelect && kind <= tkIf) return TokenClass::keyword;
  switch (kind) {
    case tkIdent: {
      // A name starts with a letter or '_'; any other byte that makes a one-byte name starts
      // no token of the dialect.
      const bool word =
          (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_';
      return word ? TokenClass::identifier : TokenClass::invalid;
    }
    case tkString:
      return TokenClass::string;
    case tkInteger:
    case tkFloat:
      return TokenClass::number;
    case tkComment:
      return TokenClass::comment;
    case tkComma:
    case tkDot:
    case tkSemicolon:
    case tkLParen:
    case tkRParen:
    case tkLBracket:
    case tkRBracket:
      return TokenClass::punctuation;
    default:
      return TokenClass::op;
  }
}

RecordBuffer<ScannedToken> scanTokens(std::string_view text) {
  RecordBuffer<ScannedToken> out;
  out.reserve(text.size() / 4 + 16);  // SQL averages about four bytes a token
  eachToken(text, [&](const Token& t, uint32_t start, uint32_t end) {
    out.push({.start = start,
              .end = end,
              .line = static_cast<uint32_t>(t.line),
              .column = static_cast<uint32_t>(t.column),
              .kind = t.kind,
              .tokenClass = static_cast<uint8_t>(tokenClassOf(t.kind, text[start])),
              .unterminated = t.unterminated});
  });
  return out;
}

RecordBuffer<StatementRange> splitStatements(std::string_view text) {
  // The parser ends a statement at a ';' or where its grammar ends; in this dialect the grammar
  // ends just where a statement keyword stands outside every parenthesis (statement keywords
  // are reserved, and a subquery always sits inside parentheses), so the scanner can tell.
  RecordBuffer<StatementRange> out;
  bool open = false;
  int depth = 0;
  // The statement's last token so far.
  uint32_t lastStart = 0;
  uint32_t lastEnd = 0;
  uint32_t lastLine = 0;
  uint32_t lastColumn = 0;
  auto close = [&] {
    if (open) {
      // The last byte's line and column: a token that spans lines (a comment, a literal)
      // ends on a later line than it starts.
      uint32_t line = lastLine;
      uint32_t column = lastColumn;
      for (uint32_t i = lastStart; i + 1 < lastEnd; ++i) {
        if (text[i] == '\n') {
          ++line;
          column = 1;
        } else {
          ++column;
        }
      }
      out.back().end = lastEnd;
      out.back().endLine = line;
      out.back().endColumn = column;
    }
    open = false;
    depth = 0;
  };
  eachToken(text, [&](const Token& t, uint32_t start, uint32_t end) {
    if (t.kind == tkSemicolon) return close();
    // A comment is inside a statement when tokens stand on both sides of it, and the range
    // from the first token to the last takes it in without further ado.
    if (t.kind == tkComment) return;
    if (open && depth == 0 && startsStatement(t.kind)) close();
    const auto line = static_cast<uint32_t>(t.line);
    const auto column = static_cast<uint32_t>(t.column);
    if (!open) {
      open = true;
      out.push({start, end, line, column, line, column});
    }
    if (t.kind == tkLParen) ++depth;
    if (t.kind == tkRParen && depth > 0) --depth;
    lastStart = start;
    lastEnd = end;
    lastLine = line;
    lastColumn = column;
  });
  close();
  return out;
}

}  // namespace quorix::tools
