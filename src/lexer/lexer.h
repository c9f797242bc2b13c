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

// The scanner's rules for blanks and numbers, shared with the parser's shortcuts that read a
// stretch of the text themselves (see Lexer::position), so that both read the text alike.
inline bool isDigitByte(char c) { return static_cast<unsigned>(c - '0') < 10u; }

// Blanks other than the line break, which only the scanner may step over: it counts lines.
inline bool isBlankInLine(char c) {
  constexpr uint64_t kBlanks = (uint64_t{1} << ' ') | (uint64_t{1} << '\t') | (uint64_t{1} << '\r');
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && ((kBlanks >> byte) & 1) != 0;
}
inline const char* skipBlanksInLine(const char* p, const char* end) {
  while (p < end && isBlankInLine(*p)) ++p;
  return p;
}

// A number's lexeme from its first digit at `p`: digits, then a point and digits when a digit
// follows the point. Returns its end and sets `kind` (tkInteger or tkFloat). `digit(c,
// afterPoint)` sees each digit in order, so that a caller can convert the number as it goes by.
template <typename Digit>
[[gnu::always_inline]] inline const char* scanNumber(const char* p, const char* end,
                                                     TokenKind& kind, Digit&& digit) {
  digit(*p, false);
  const char* q = p + 1;
  while (q < end && isDigitByte(*q)) digit(*q++, false);
  kind = tkInteger;
  if (q + 1 < end && *q == '.' && isDigitByte(q[1])) {
    digit(q[1], true);
    q += 2;
    while (q < end && isDigitByte(*q)) digit(*q++, true);
    kind = tkFloat;
  }
  return q;
}

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
