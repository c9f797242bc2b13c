#include "lexer/lexer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/errors.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorix {

namespace {

constexpr std::string_view kTokenNames[] = {
#define TOKEN(name) #name,
#define KEYWORD(name, word) #name,
#include "lexer/token_kinds.def"
};
static_assert(std::size(kTokenNames) == kTokenKindCount);

struct Keyword {
  std::string_view word;
  TokenKind kind;
};

constexpr Keyword kKeywords[] = {
#define TOKEN(name)
#define KEYWORD(name, word) {word, name},
#define KEYWORD_ALIAS(name, word) {word, name},
#include "lexer/token_kinds.def"
};
static_assert(std::size(kKeywords) == 90, "the dialect has 90 keyword spellings");

constexpr size_t kMaxKeywordLength = 10;
constexpr uint8_t kNoSlot = 0xff;

// Each keyword's bytes, lowered and packed little-endian into a word (bytes past the end read
// as 0x20, as the packed input does after its case fold), plus its last two bytes for the words
// longer than eight: one or two integer compares per candidate.
struct PackedKeyword {
  uint64_t head;
  uint16_t tail;
  uint8_t length;
};

constexpr uint64_t kFold = 0x2020202020202020ULL;

constexpr std::array<PackedKeyword, std::size(kKeywords)> buildPackedKeywords() {
  std::array<PackedKeyword, std::size(kKeywords)> out{};
  for (size_t i = 0; i < std::size(kKeywords); ++i) {
    std::string_view w = kKeywords[i].word;
    uint64_t head = 0;
    for (size_t j = 0; j < w.size() && j < 8; ++j)
      head |= uint64_t(static_cast<unsigned char>(w[j])) << (8 * j);
    out[i].head = head | kFold;
    out[i].length = static_cast<uint8_t>(w.size());
    if (w.size() > 8)
      out[i].tail =
          static_cast<uint16_t>(static_cast<unsigned char>(w[w.size() - 2]) |
                                (static_cast<unsigned char>(w[w.size() - 1]) << 8) | 0x2020);
  }
  return out;
}

constexpr auto kPackedKeywords = buildPackedKeywords();

// A word's slot in a table where every keyword has a slot of its own (a perfect hash, with a
// multiplier found at compile time): a lookup is one multiplication and one compare.
constexpr unsigned kHashBits = 10;

constexpr size_t keywordHash(uint64_t head, uint16_t tail, size_t length, uint64_t multiplier) {
  return static_cast<size_t>(((head ^ (uint64_t(tail) << 40) ^ length) * multiplier) >>
                             (64 - kHashBits));
}

struct KeywordTable {
  uint64_t multiplier;
  std::array<uint8_t, size_t(1) << kHashBits> slots;
};

constexpr KeywordTable buildKeywordTable() {
  // Candidate multipliers from splitmix64: neighbouring odd numbers hash too much alike.
  uint64_t state = 0;
  for (int attempt = 0; attempt < 512; ++attempt) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    KeywordTable t{(z ^ (z >> 31)) | 1, {}};
    for (uint8_t& slot : t.slots) slot = kNoSlot;
    bool distinct = true;
    for (size_t i = 0; i < std::size(kKeywords) && distinct; ++i) {
      const PackedKeyword& k = kPackedKeywords[i];
      uint8_t& slot = t.slots[keywordHash(k.head, k.tail, k.length, t.multiplier)];
      distinct = slot == kNoSlot;
      slot = static_cast<uint8_t>(i);
    }
    if (distinct) return t;
  }
  throw "no multiplier gives every keyword a slot of its own";
}

constexpr KeywordTable kKeywordTable = buildKeywordTable();

// The keyword a folded, packed word is, or tkIdent.
[[gnu::always_inline]] inline TokenKind lookupKeyword(uint64_t head, uint16_t tail, size_t length) {
  const uint8_t slot =
      kKeywordTable.slots[keywordHash(head, tail, length, kKeywordTable.multiplier)];
  if (slot != kNoSlot && kPackedKeywords[slot].head == head && kPackedKeywords[slot].tail == tail &&
      kPackedKeywords[slot].length == length)
    return kKeywords[slot].kind;
  return tkIdent;
}

enum CharClass : uint8_t {
  ccOther,  // a one-byte tkIdent
  ccBlank,
  ccWordStart,
  ccDigit,
  ccQuote,
  ccSingle,  // one-character punctuation
  ccLess,
  ccGreater,
  ccBang,
  ccPipe,
};

enum FastClass : uint8_t { fcGeneral, fcWord, fcDigit, fcSingle, fcQuote };

struct ByteTables {
  std::array<CharClass, 256> cls{};
  std::array<bool, 256> wordChar{};
  std::array<TokenKind, 256> single{};
  std::array<bool, 256> mayStartGap{};  // blanks and the first bytes of comments
  std::array<FastClass, 256> fast{};    // what Lexer::next settles without nextGeneral
};

constexpr ByteTables buildByteTables() {
  ByteTables t{};
  for (size_t c = 0; c < 256; ++c) {
    t.cls[c] = ccOther;
    t.single[c] = tkIdent;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    t.wordChar[c] = letter || digit || c == '_';
    if (letter || c == '_') t.cls[c] = ccWordStart;
    if (digit) t.cls[c] = ccDigit;
  }
  for (char c : {' ', '\t', '\n', '\r'}) t.cls[static_cast<unsigned char>(c)] = ccBlank;
  for (char c : {' ', '\t', '\n', '\r', '-', '/'})
    t.mayStartGap[static_cast<unsigned char>(c)] = true;
  t.cls[size_t('\'')] = ccQuote;
  t.cls[size_t('"')] = ccQuote;
  t.cls[size_t('<')] = ccLess;
  t.cls[size_t('>')] = ccGreater;
  t.cls[size_t('!')] = ccBang;
  t.cls[size_t('|')] = ccPipe;
  const std::pair<char, TokenKind> singles[] = {
      {'*', tkStar},   {',', tkComma},    {'.', tkDot},      {';', tkSemicolon}, {'(', tkLParen},
      {')', tkRParen}, {'[', tkLBracket}, {']', tkRBracket}, {'=', tkEq},        {'+', tkPlus},
      {'-', tkMinus},  {'/', tkSlash},    {'%', tkPercent}};
  for (auto [c, k] : singles) {
    t.cls[static_cast<unsigned char>(c)] = ccSingle;
    t.single[static_cast<unsigned char>(c)] = k;
  }
  for (size_t c = 0; c < 256; ++c) {
    if (t.cls[c] == ccWordStart) t.fast[c] = fcWord;
    if (t.cls[c] == ccDigit) t.fast[c] = fcDigit;
    if (t.cls[c] == ccSingle && !t.mayStartGap[c]) t.fast[c] = fcSingle;
    if (t.cls[c] == ccQuote) t.fast[c] = fcQuote;
  }
  return t;
}

constexpr ByteTables kBytes = buildByteTables();

inline unsigned char byteAt(const char* p) { return static_cast<unsigned char>(*p); }

}  // namespace

std::string_view tokenKindName(TokenKind kind) {
  return kind < kTokenKindCount ? kTokenNames[kind] : std::string_view("tkUnknown");
}

namespace {

template <typename T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The word's bytes packed little-endian (as the keyword table is) and case-folded, read with
// overlapping loads that stay inside the word.
uint64_t packedHead(const char* w, size_t n) {
  uint64_t v;
  if (n >= 8) {
    v = load<uint64_t>(w);
  } else if (n >= 4) {
    v = load<uint32_t>(w) | (uint64_t(load<uint32_t>(w + n - 4)) << (8 * (n - 4)));
  } else {
    v = load<uint16_t>(w) | (uint64_t(byteAt(w + n - 1)) << (8 * (n - 1)));
  }
  return v | kFold;
}

}  // namespace

[[gnu::always_inline]] inline TokenKind classifyWordInline(const char* word, size_t length) {
  if (length < 2 || length > kMaxKeywordLength) return tkIdent;
  // OR-ing 0x20 lowers ASCII letters and leaves digits alone; '_' becomes 0x7f, which no
  // keyword contains, and the scanner puts nothing else in a word.
  uint64_t head;
  uint16_t tail = 0;
  if constexpr (std::endian::native == std::endian::little) {
    head = packedHead(word, length);
    if (length > 8) tail = static_cast<uint16_t>(load<uint16_t>(word + length - 2) | 0x2020);
  } else {
    head = kFold;
    for (size_t j = 0; j < length && j < 8; ++j) head |= uint64_t(byteAt(word + j)) << (8 * j);
    if (length > 8)
      tail = static_cast<uint16_t>((byteAt(word + length - 2) | (byteAt(word + length - 1) << 8)) |
                                   0x2020);
  }
  return lookupKeyword(head, tail, length);
}

TokenKind classifyWord(const char* word, size_t length) { return classifyWordInline(word, length); }

void Lexer::raiseUnterminated(int64_t line, int64_t column, const char* what) {
  // The frame of every parse error, without the "(got ...)" part: there is no token to name.
  std::string m = "Parse error at line ";
  m += std::to_string(line);
  m += ", col ";
  m += std::to_string(column);
  m += ": ";
  m += what;
  throw ParseError(m);
}

void Lexer::readComment(Token& tok) {
  const char* start = pos_;
  const char* close;
  if (start[0] == '-') {
    const void* nl = std::memchr(start, '\n', static_cast<size_t>(end_ - start));
    close = nl != nullptr ? static_cast<const char*>(nl) : end_;
  } else {
    const std::string_view rest(start + 2, static_cast<size_t>(end_ - start - 2));
    const size_t at = rest.find("*/");
    tok.unterminated = at == std::string_view::npos;
    close = tok.unterminated ? end_ : start + 2 + at + 2;
    noteNewlines(start + 2, close);
  }
  pos_ = close;
  tok.kind = tkComment;
  tok.lexeme = std::string_view(start, static_cast<size_t>(close - start));
}

void Lexer::noteNewlines(const char* from, const char* to) {
  while (from < to) {
    const void* nl = std::memchr(from, '\n', static_cast<size_t>(to - from));
    if (nl == nullptr) return;
    ++line_;
    from = static_cast<const char*>(nl) + 1;
    lineStart_ = from;
  }
}

void Lexer::skipWhitespace() {
  for (;;) {
    if (pos_ >= end_) return;
    char c = *pos_;
    if (isBlankInLine(c)) {
      ++pos_;
    } else if (c == '\n') {
      ++pos_;
      ++line_;
      lineStart_ = pos_;
    } else if (mode_ == LexerMode::tools && atComment()) {
      return;  // a token of its own
    } else if (c == '-' && pos_ + 1 < end_ && pos_[1] == '-') {
      // A line comment stops before its LF, which the blank rule then consumes.
      const void* nl = std::memchr(pos_, '\n', static_cast<size_t>(end_ - pos_));
      pos_ = nl != nullptr ? static_cast<const char*>(nl) : end_;
    } else if (c == '/' && pos_ + 1 < end_ && pos_[1] == '*') {
      const char* p = pos_ + 2;
      const char* close = nullptr;
      while (p + 1 < end_) {
        const void* star = std::memchr(p, '*', static_cast<size_t>(end_ - 1 - p));
        if (star == nullptr) break;
        p = static_cast<const char*>(star);
        if (p[1] == '/') {
          close = p + 2;
          break;
        }
        ++p;
      }
      // Running to the end of the text would silently drop whatever the comment was meant to
      // end before (a WHERE, say), so an unclosed comment is an error at its opening "/".
      if (close == nullptr) [[unlikely]]
        raiseUnterminated(line_, column(pos_), "unterminated block comment");
      noteNewlines(pos_ + 2, close);
      pos_ = close;
    } else {
      return;
    }
  }
}

namespace {

// The bytes of `x` that are zero, as their high bits; the lowest one set marks the first.
inline uint64_t zeroBytes(uint64_t x) {
  constexpr uint64_t ones = 0x0101010101010101u;
  return (x - ones) & ~x & (ones << 7);
}

}  // namespace

void Lexer::readString(Token& tok) {
  const char quote = *pos_;
  const char* start = pos_ + 1;
  const char* p = start;
  const char* close = nullptr;
  bool doubled = false;
  // One pass finds the closing quote and counts the line breaks on the way, eight bytes at a
  // time while eight can be read (most literals are shorter than that).
  constexpr uint64_t ones = 0x0101010101010101u;
  const uint64_t quotes = ones * static_cast<unsigned char>(quote);
  const uint64_t breaks = ones * static_cast<unsigned char>('\n');
  while (p < end_) {
    const char* hit;
    if (std::endian::native == std::endian::little && end_ - p >= 8) {
      const uint64_t w = load<uint64_t>(p);
      const uint64_t found = zeroBytes(w ^ quotes) | zeroBytes(w ^ breaks);
      if (found == 0) {
        p += 8;
        continue;
      }
      hit = p + __builtin_ctzll(found) / 8;
    } else {
      hit = p;
      while (hit < end_ && *hit != quote && *hit != '\n') ++hit;
      if (hit == end_) break;
    }
    if (*hit == '\n') {
      ++line_;
      lineStart_ = hit + 1;
      p = hit + 1;
    } else if (hit + 1 < end_ && hit[1] == quote) {
      doubled = true;
      p = hit + 2;
    } else {
      close = hit;
      break;
    }
  }
  // An unclosed literal would swallow the rest of the text as content: an error at its quote.
  if (close == nullptr) [[unlikely]] {
    if (mode_ == LexerMode::parse)
      raiseUnterminated(tok.line, tok.column, "unterminated string literal");
    tok.unterminated = true;
  }
  const char* contentEnd = close != nullptr ? close : end_;
  pos_ = close != nullptr ? close + 1 : end_;
  tok.kind = tkString;
  std::string_view raw(start, static_cast<size_t>(contentEnd - start));
  if (!doubled) {
    tok.lexeme = raw;
    return;
  }
  char* out = static_cast<char*>(arena_.allocate(raw.size(), 1));
  size_t n = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    out[n++] = raw[i];
    if (raw[i] == quote) ++i;  // only doubled quotes remain inside the content
  }
  tok.lexeme = std::string_view(out, n);
}

namespace {

// Looks up a word of 2 to 10 bytes whose first eight bytes, case-folded, are `folded` (bytes
// past the word are ignored).
[[gnu::always_inline]] inline TokenKind classifyFolded(uint64_t folded, const char* word,
                                                       size_t length) {
  const uint64_t head =
      (folded & (~uint64_t(0) >> (8 * (8 - std::min<size_t>(length, 8))))) | kFold;
  uint16_t tail = 0;
  if (length > 8) [[unlikely]]
    tail = static_cast<uint16_t>(load<uint16_t>(word + length - 2) | 0x2020);
  return lookupKeyword(head, tail, length);
}

// Scans the word starting at `p` (its first byte is a letter or '_'): sets its kind, returns its
// end. Most words end within sixteen bytes, found there without a branch per byte (a loop that
// exits at a different length every time is mispredicted about once per word); the same load
// supplies the case-folded bytes the keyword lookup needs.
[[gnu::always_inline]] inline const char* scanWord(const char* p, const char* end,
                                                   TokenKind& kind) {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(_M_X64))
  if (end - p >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // OR-ing 0x20 lowers ASCII letters and maps no other byte onto one; digits keep their
    // value and '_' becomes 0x7f, which no keyword contains.
    const __m128i folded = _mm_or_si128(x, _mm_set1_epi8(0x20));
    const __m128i letter = _mm_sub_epi8(folded, _mm_set1_epi8('a'));
    const __m128i digit = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(25)), letter);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    const __m128i isUnderscore = _mm_cmpeq_epi8(x, _mm_set1_epi8('_'));
    const unsigned inWord = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(isLetter, isDigit), isUnderscore)));
    const unsigned stops = ~inWord & 0xffffu;
    if (stops != 0) [[likely]] {
      const size_t length = static_cast<size_t>(std::countr_zero(stops));
      kind = length - 2 <= kMaxKeywordLength - 2
                 ? classifyFolded(static_cast<uint64_t>(_mm_cvtsi128_si64(folded)), p, length)
                 : tkIdent;
      return p + length;
    }
  }
#endif
  const char* q = p + 1;
  while (q < end && kBytes.wordChar[byteAt(q)]) ++q;
  kind = classifyWordInline(p, static_cast<size_t>(q - p));
  return q;
}

}  // namespace

void Lexer::next(Token& tok) {
  // Words, numbers and one-byte punctuation after at most one blank are nearly every token.
  // They are scanned here with the position in registers and the token written once at the
  // end; so this path needs no saved registers and everything else is one jump away.
  const char* p = pos_;
  const char* const end = end_;
  if (p < end && *p == ' ') {
    ++p;
  } else if (p < end && *p == '\n' && p + 1 < end && !kBytes.mayStartGap[byteAt(p + 1)]) {
    // A line break directly before a token: a row of a long VALUES list, a line of SQL
    // written without indentation.
    ++line_;
    lineStart_ = ++p;
  }
  if (p < end) [[likely]] {
    const unsigned char c = byteAt(p);
    const char* q = p + 1;
    TokenKind kind;
    switch (kBytes.fast[c]) {
      case fcWord:
        q = scanWord(p, end, kind);
        break;
      case fcDigit:
        q = scanNumber(p, end, kind, [](char, bool) {});
        break;
      case fcSingle:
        kind = kBytes.single[c];
        break;
      case fcQuote:
        pos_ = p;
        tok.line = line_;
        tok.column = column(p);
        return readString(tok);
      default:
        pos_ = p;
        return nextGeneral(tok);
    }
    pos_ = q;
    tok.kind = kind;
    tok.lexeme = std::string_view(p, static_cast<size_t>(q - p));
    tok.line = line_;
    tok.column = column(p);
    return;
  }
  pos_ = p;
  nextGeneral(tok);
}

void Lexer::nextGeneral(Token& tok) {
  if (pos_ < end_ && kBytes.mayStartGap[byteAt(pos_)]) skipWhitespace();
  tok.line = line_;
  tok.column = column(pos_);
  if (pos_ >= end_) {
    tok.kind = tkEof;
    tok.lexeme = std::string_view(end_, 0);
    tok.unterminated = false;
    return;
  }
  if (mode_ == LexerMode::tools && atComment()) return readComment(tok);
  const char* start = pos_;
  unsigned char c = byteAt(pos_);
  switch (kBytes.cls[c]) {
    case ccWordStart:
    case ccDigit:
    case ccQuote:
      // After a gap: next() scans these, as it does everywhere else.
      return next(tok);
    case ccSingle:
      tok.kind = kBytes.single[c];
      ++pos_;
      break;
    case ccLess:
      ++pos_;
      tok.kind = tkLt;
      if (pos_ < end_ && *pos_ == '=') {
        ++pos_;
        tok.kind = tkLe;
      } else if (pos_ < end_ && *pos_ == '>') {
        ++pos_;
        tok.kind = tkNeq;
      }
      break;
    case ccGreater:
      ++pos_;
      tok.kind = tkGt;
      if (pos_ < end_ && *pos_ == '=') {
        ++pos_;
        tok.kind = tkGe;
      }
      break;
    case ccBang:
      ++pos_;
      tok.kind = tkIdent;
      if (pos_ < end_ && *pos_ == '=') {
        ++pos_;
        tok.kind = tkNeq;
      }
      break;
    case ccPipe:
      ++pos_;
      tok.kind = tkIdent;
      if (pos_ < end_ && *pos_ == '|') {
        ++pos_;
        tok.kind = tkPipePipe;
      }
      break;
    case ccBlank:  // skipWhitespace consumed every blank
    case ccOther:
      ++pos_;
      tok.kind = tkIdent;
      break;
  }
  tok.lexeme = std::string_view(start, static_cast<size_t>(pos_ - start));
}

}  // namespace quorix
