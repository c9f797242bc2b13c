// Token kinds, the keyword table and the scanner.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/arena.h"

namespace quorix {

enum TokenKind : uint8_t {
#define TOKEN(name) name,
#define KEYWORD(name, word) name,
#include "lexer/token_kinds.def"
};

inline constexpr int kTokenKindCount = tkComment + 1;

// The member's name exactly as declared ("tkSelect"); it appears in parse-error messages.
std::string_view tokenKindName(TokenKind kind);

// Keyword kind of a scanned word (ASCII case-insensitive, whole word), or tkIdent.
TokenKind classifyWord(const char* word, size_t length);

struct Token {
  TokenKind kind = tkEof;
  std::string_view lexeme;  // a view into the input, or into the arena for unescaped strings
  int64_t line = 1;
  int64_t column = 1;
  // LexerMode::tools only: a comment or string literal still open at the end of the text.
  bool unterminated = false;
};

// What the scanner is for. The parser's mode skips comments and rejects a comment or literal
// left open at the end of the text; the tools' mode (highlighting, splitting, keeping comments
// when formatting) hands comments back as tkComment tokens and lets an open one run to the end
// of the text, flagged, so that any text whatever can be shown.
enum class LexerMode : uint8_t { parse, tools };

// Turns the text into tokens on demand. Every byte sequence is tokenised and whatever is wrong
// is left to the parser, with two exceptions in LexerMode::parse: a block comment or string
// literal still open at the end of the text raises a ParseError. Columns count bytes; only LF
// starts a line.
class Lexer {
 public:
  Lexer(std::string_view input, Arena& arena, LexerMode mode = LexerMode::parse)
      : begin_(input.data()),
        pos_(input.data()),
        end_(input.data() + input.size()),
        lineStart_(input.data()),
        arena_(arena),
        mode_(mode) {}

  // Scans the next token into `out` (written in place: no temporary on the caller's stack).
  void next(Token& out);

  // For a caller that reads a simple stretch of the text itself (blanks and numbers, no line
  // break) and hands the rest back: where scanning stands, and where it is to go on.
  const char* position() const { return pos_; }
  const char* inputEnd() const { return end_; }
  void resumeAt(const char* p) { pos_ = p; }

  // Bytes of the input scanned so far.
  size_t consumed() const { return static_cast<size_t>(pos_ - begin_); }
  // Whether `p` points into the input (and not into the arena).
  bool inInput(const char* p) const { return p >= begin_ && p <= end_; }

 private:
  int64_t column(const char* p) const { return static_cast<int64_t>(p - lineStart_) + 1; }
  // What next()'s short path leaves: gaps other than one blank or one line break, operators
  // of two bytes, '-' and '/', stray bytes, the end of the text. A word, number or string after
  // a gap goes back to next().
  [[gnu::noinline]] void nextGeneral(Token& tok);
  void skipWhitespace();
  void noteNewlines(const char* from, const char* to);
  [[noreturn, gnu::cold, gnu::noinline]] static void raiseUnterminated(int64_t line, int64_t column,
                                                                       const char* what);
  void readString(Token& tok);
  bool atComment() const {
    return pos_ + 1 < end_ &&
           ((pos_[0] == '-' && pos_[1] == '-') || (pos_[0] == '/' && pos_[1] == '*'));
  }
  void readComment(Token& tok);

  const char* begin_;
  const char* pos_;
  const char* end_;
  const char* lineStart_;  // first byte of the current line; the column is derived from it
  int64_t line_ = 1;
  Arena& arena_;
  LexerMode mode_;
};

}  // namespace quorix
