#include "lexer.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace quorix {

namespace {

constexpr std::string_view kTokenNames[] = {
#define TOKEN(name) #name,
#define KEYWORD(name, word) #name,
#include "token_kinds.def"
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
#include "token_kinds.def"
};
static_assert(std::size(kKeywords) == 90, "the dialect has 90 keyword spellings");

constexpr size_t kMaxKeywordLength = 10;
constexpr size_t kSlots = 4;
constexpr uint8_t kNoSlot = 0xff;

// Candidates by (length, first letter): at most kSlots keywords share both, so a lookup is a
// couple of byte compares with no lowered copy of the word.
using KeywordIndex = std::array<std::array<std::array<uint8_t, kSlots>, 26>, kMaxKeywordLength + 1>;

constexpr KeywordIndex buildKeywordIndex() {
  KeywordIndex index{};
  for (auto& byLen : index)
    for (auto& byChar : byLen)
      for (auto& slot : byChar) slot = kNoSlot;
  for (size_t i = 0; i < std::size(kKeywords); ++i) {
    const auto& kw = kKeywords[i];
    if (kw.word.size() < 2 || kw.word.size() > kMaxKeywordLength) throw "keyword length";
    auto& slots = index[kw.word.size()][static_cast<size_t>(kw.word[0] - 'a')];
    size_t s = 0;
    while (slots[s] != kNoSlot) {
      if (++s == kSlots) throw "too many keywords share a length and first letter";
    }
    slots[s] = static_cast<uint8_t>(i);
  }
  return index;
}

constexpr KeywordIndex kKeywordIndex = buildKeywordIndex();

// Each keyword's bytes, lowered and packed little-endian into a word (bytes past the end read
// as 0x20, as the packed input does after its case fold), plus its last two bytes for the words
// longer than eight: one or two integer compares per candidate.
struct PackedKeyword {
  uint64_t head;
  uint16_t tail;
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
    if (w.size() > 8)
      out[i].tail =
          static_cast<uint16_t>(static_cast<unsigned char>(w[w.size() - 2]) |
                                (static_cast<unsigned char>(w[w.size() - 1]) << 8) | 0x2020);
  }
  return out;
}

constexpr auto kPackedKeywords = buildPackedKeywords();

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

struct ByteTables {
  std::array<CharClass, 256> cls{};
  std::array<bool, 256> wordChar{};
  std::array<TokenKind, 256> single{};
  std::array<bool, 256> mayStartGap{};  // blanks and the first bytes of comments
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
  return t;
}

constexpr ByteTables kBytes = buildByteTables();

inline unsigned char byteAt(const char* p) { return static_cast<unsigned char>(*p); }
inline bool isDigit(const char* p) { return static_cast<unsigned>(byteAt(p) - '0') < 10u; }

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
  unsigned first = static_cast<unsigned>(byteAt(word) | 0x20) - 'a';
  if (first >= 26) return tkIdent;
  if constexpr (std::endian::native == std::endian::little) {
    // OR-ing 0x20 lowers ASCII letters and leaves digits alone; '_' becomes 0x7f, which no
    // keyword contains, and the scanner puts nothing else in a word.
    const uint64_t head = packedHead(word, length);
    const uint16_t tail =
        length > 8 ? static_cast<uint16_t>(load<uint16_t>(word + length - 2) | 0x2020) : 0;
    for (uint8_t slot : kKeywordIndex[length][first]) {
      if (slot == kNoSlot) break;
      if (kPackedKeywords[slot].head == head && kPackedKeywords[slot].tail == tail)
        return kKeywords[slot].kind;
    }
    return tkIdent;
  }
  for (uint8_t slot : kKeywordIndex[length][first]) {
    if (slot == kNoSlot) break;
    const Keyword& kw = kKeywords[slot];
    size_t i = 1;
    // OR-ing 0x20 lowers ASCII letters and leaves digits alone; '_' becomes 0x7f, which no
    // keyword contains.
    while (i < length && static_cast<char>(byteAt(word + i) | 0x20) == kw.word[i]) ++i;
    if (i == length) return kw.kind;
  }
  return tkIdent;
}

TokenKind classifyWord(const char* word, size_t length) { return classifyWordInline(word, length); }

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
    if (c == ' ' || c == '\t' || c == '\r') {
      ++pos_;
    } else if (c == '\n') {
      ++pos_;
      ++line_;
      lineStart_ = pos_;
    } else if (c == '-' && pos_ + 1 < end_ && pos_[1] == '-') {
      // A line comment stops before its LF, which the blank rule then consumes.
      const void* nl = std::memchr(pos_, '\n', static_cast<size_t>(end_ - pos_));
      pos_ = nl != nullptr ? static_cast<const char*>(nl) : end_;
    } else if (c == '/' && pos_ + 1 < end_ && pos_[1] == '*') {
      const char* p = pos_ + 2;
      const char* close = end_;
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
      noteNewlines(pos_ + 2, close);
      pos_ = close;  // an unclosed comment swallows the rest of the text
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
  const char* contentEnd = close != nullptr ? close : end_;
  pos_ = close != nullptr ? close + 1 : end_;  // an unclosed literal runs to the end
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

void Lexer::next(Token& tok) {
  // Most tokens are separated by one blank or none: settle that here, without a call.
  if (pos_ < end_ && *pos_ == ' ') ++pos_;
  if (pos_ < end_ && kBytes.mayStartGap[byteAt(pos_)]) skipWhitespace();
  tok.line = line_;
  tok.column = column(pos_);
  if (pos_ >= end_) {
    tok.kind = tkEof;
    tok.lexeme = std::string_view(end_, 0);
    return;
  }
  const char* start = pos_;
  unsigned char c = byteAt(pos_);
  switch (kBytes.cls[c]) {
    case ccWordStart: {
      const char* p = pos_ + 1;
      while (p < end_ && kBytes.wordChar[byteAt(p)]) ++p;
      pos_ = p;
      size_t n = static_cast<size_t>(p - start);
      tok.kind = classifyWordInline(start, n);
      tok.lexeme = std::string_view(start, n);
      return;
    }
    case ccDigit: {
      const char* p = pos_ + 1;
      while (p < end_ && isDigit(p)) ++p;
      tok.kind = tkInteger;
      if (p + 1 < end_ && *p == '.' && isDigit(p + 1)) {
        p += 2;
        while (p < end_ && isDigit(p)) ++p;
        tok.kind = tkFloat;
      }
      pos_ = p;
      tok.lexeme = std::string_view(start, static_cast<size_t>(p - start));
      return;
    }
    case ccQuote:
      readString(tok);
      return;
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
