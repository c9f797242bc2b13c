// The scanner's contract: kinds, lexemes and positions for the awkward corners of the dialect.
#include "lexer/lexer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "common/arena.h"
#include "common/errors.h"

namespace quorix {
namespace {

// "kind lexeme@line:col" per token, the end token included, so a table row reads like the
// stream it pins; a scan that fails ends with "error: " and the message.
std::string scan(std::string_view text) {
  Arena arena;
  Lexer lexer(text, arena);
  std::string out;
  for (;;) {
    Token t;
    try {
      lexer.next(t);
    } catch (const ParseError& e) {
      return out + (out.empty() ? "" : " ") + "error: " + e.what();
    }
    if (!out.empty()) out += ' ';
    out += tokenKindName(t.kind);
    out += ' ';
    out += t.lexeme;
    out += '@' + std::to_string(t.line) + ':' + std::to_string(t.column);
    if (t.kind == tkEof) return out;
  }
}

struct ScanCase {
  const char* name;
  std::string text;
  std::string tokens;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class Scanner : public testing::TestWithParam<ScanCase> {};

TEST_P(Scanner, Tokens) { EXPECT_EQ(scan(GetParam().text), GetParam().tokens); }

INSTANTIATE_TEST_SUITE_P(
    Lexer, Scanner,
    testing::Values(
        ScanCase{"empty", "", "tkEof @1:1"},
        ScanCase{"blanks_and_comments", " \t-- c\n/* x\n y */ ", "tkEof @3:7"},
        ScanCase{"line_comment_then_word", "a -- note\nb",
                 "tkIdent a@1:1 tkIdent b@2:1 tkEof @2:2"},
        ScanCase{"crlf_counts_cr_as_column", "a -- note\r\nb\r\n c",
                 "tkIdent a@1:1 tkIdent b@2:1 tkIdent c@3:2 tkEof @3:3"},
        // A line break straight before a token is taken on the scanner's short path; before
        // a blank, another break or what may open a comment, on the general one.
        ScanCase{"line_breaks_before_tokens", "a\nb\n\n c\n-d\n/e\n'f'\n(",
                 "tkIdent a@1:1 tkIdent b@2:1 tkIdent c@4:2 tkMinus -@5:1 tkIdent d@5:2 "
                 "tkSlash /@6:1 tkIdent e@6:2 tkString f@7:1 tkLParen (@8:1 tkEof @8:2"},
        ScanCase{"tab_is_one_column", "\tselect", "tkSelect select@1:2 tkEof @1:8"},
        ScanCase{"minus_minus_starts_comment", "5--3\n", "tkInteger 5@1:1 tkEof @2:1"},
        ScanCase{"block_comment_between_words", "a/*x*/b",
                 "tkIdent a@1:1 tkIdent b@1:7 tkEof @1:8"},
        // A comment or literal still open at the end of the text fails where it opened.
        ScanCase{"unclosed_block_comment", "a\n  /* never\n closed",
                 "tkIdent a@1:1 error: Parse error at line 2, col 3: unterminated block comment"},
        ScanCase{"block_comment_closed_at_the_very_end", "a /**/", "tkIdent a@1:1 tkEof @1:7"},
        ScanCase{"star_slash_of_the_opener_does_not_close", "/*/",
                 "error: Parse error at line 1, col 1: unterminated block comment"},
        ScanCase{"block_comments_do_not_nest", "/* a /* b */ c */",
                 "tkIdent c@1:14 tkStar *@1:16 tkSlash /@1:17 tkEof @1:18"},
        ScanCase{"doubled_quote", "'it''s'", "tkString it's@1:1 tkEof @1:8"},
        ScanCase{"double_quotes_are_strings", "\"col\" 'a\"b'",
                 "tkString col@1:1 tkString a\"b@1:7 tkEof @1:12"},
        ScanCase{"unclosed_string", "x 'abc",
                 "tkIdent x@1:1 error: Parse error at line 1, col 3: unterminated string literal"},
        ScanCase{"doubled_quote_before_the_end_does_not_close", "\"a\"\"",
                 "error: Parse error at line 1, col 1: unterminated string literal"},
        ScanCase{"line_comment_at_the_end_needs_no_line_feed", "a --", "tkIdent a@1:1 tkEof @1:5"},
        ScanCase{"string_with_newline", "'a\nb' x", "tkString a\nb@1:1 tkIdent x@2:4 tkEof @2:5"},
        // Long literals are scanned eight bytes at a time: quotes and line breaks on either
        // side of those steps, and a doubled quote split across one.
        ScanCase{"long_string_lines", "'abcdefg\nhijklmnopq\n\nr''' x",
                 "tkString abcdefg\nhijklmnopq\n\nr'@1:1 tkIdent x@4:6 tkEof @4:7"},
        ScanCase{"doubled_quote_at_eighth_byte", "'abcdef''gh' y",
                 "tkString abcdef'gh@1:1 tkIdent y@1:14 tkEof @1:15"},
        ScanCase{"unclosed_long_string", "\n 'abcdefghijk\nlm''",
                 "error: Parse error at line 2, col 2: unterminated string literal"},
        ScanCase{"backslash_is_ordinary", "'a\\' b", "tkString a\\@1:1 tkIdent b@1:6 tkEof @1:7"},
        ScanCase{"numbers", "1.5.2 1. 12abc 1e5 .5",
                 "tkFloat 1.5@1:1 tkDot .@1:4 tkInteger 2@1:5 tkInteger 1@1:7 tkDot .@1:8 "
                 "tkInteger 12@1:10 tkIdent abc@1:12 tkInteger 1@1:16 tkIdent e5@1:17 "
                 "tkDot .@1:20 tkInteger 5@1:21 tkEof @1:22"},
        ScanCase{"operators", "<> != < > <= >= == || | ! -5",
                 "tkNeq <>@1:1 tkNeq !=@1:4 tkLt <@1:7 tkGt >@1:9 tkLe <=@1:11 tkGe >=@1:14 "
                 "tkEq =@1:17 tkEq =@1:18 tkPipePipe ||@1:20 tkIdent |@1:23 tkIdent !@1:25 "
                 "tkMinus -@1:27 tkInteger 5@1:28 tkEof @1:29"},
        ScanCase{"punctuation", "*,.;()[]+/%",
                 "tkStar *@1:1 tkComma ,@1:2 tkDot .@1:3 tkSemicolon ;@1:4 tkLParen (@1:5 "
                 "tkRParen )@1:6 tkLBracket [@1:7 tkRBracket ]@1:8 tkPlus +@1:9 tkSlash /@1:10 "
                 "tkPercent %@1:11 tkEof @1:12"},
        ScanCase{"pipe_between_words", "a|b",
                 "tkIdent a@1:1 tkIdent |@1:2 tkIdent b@1:3 tkEof @1:4"},
        ScanCase{"at_sign_then_word", "@x", "tkIdent @@1:1 tkIdent x@1:2 tkEof @1:3"},
        ScanCase{"utf8_counts_bytes", "\xc3\xa9 x",
                 "tkIdent \xc3@1:1 tkIdent \xa9@1:2 tkIdent x@1:4 tkEof @1:5"},
        ScanCase{"nul_is_a_character", std::string("a\0b", 3),
                 std::string("tkIdent a@1:1 tkIdent ") + std::string(1, '\0') +
                     "@1:2 tkIdent b@1:3 tkEof @1:4"},
        ScanCase{"vertical_tab_is_not_blank", "\v", "tkIdent \v@1:1 tkEof @1:2"},
        ScanCase{"keywords_keep_their_case", "Select FROM wHeRe",
                 "tkSelect Select@1:1 tkFrom FROM@1:8 tkWhere wHeRe@1:13 tkEof @1:18"}),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

// The kind the scanner gives `word`, once with enough text after it for the scanner's
// sixteen-byte step and once at the very end of the text; the two must agree.
TokenKind scannedKind(const std::string& word) {
  TokenKind kinds[2];
  for (int atEnd = 0; atEnd < 2; ++atEnd) {
    const std::string text = atEnd ? word : word + " x____________________";
    Arena arena;
    Lexer lexer(text, arena);
    Token t;
    lexer.next(t);
    EXPECT_EQ(t.lexeme, word);
    kinds[atEnd] = t.kind;
  }
  EXPECT_EQ(kinds[0], kinds[1]) << word;
  return kinds[0];
}

TEST(Keywords, EveryWordInAnyCaseAndNothingElse) {
  // The 90 spellings with the kind each must give.
  const std::pair<const char*, TokenKind> words[] = {
      {"select", tkSelect},   {"from", tkFrom},
      {"where", tkWhere},     {"and", tkAnd},
      {"or", tkOr},           {"not", tkNot},
      {"insert", tkInsert},   {"into", tkInto},
      {"values", tkValues},   {"update", tkUpdate},
      {"set", tkSet},         {"delete", tkDelete},
      {"create", tkCreate},   {"drop", tkDrop},
      {"table", tkTable},     {"alter", tkAlter},
      {"index", tkIndex},     {"join", tkJoin},
      {"inner", tkInner},     {"left", tkLeft},
      {"right", tkRight},     {"full", tkFull},
      {"outer", tkOuter},     {"cross", tkCross},
      {"on", tkOn},           {"natural", tkNatural},
      {"using", tkUsing},     {"as", tkAs},
      {"null", tkNull},       {"true", tkTrue},
      {"false", tkFalse},     {"order", tkOrder},
      {"by", tkBy},           {"asc", tkAsc},
      {"desc", tkDesc},       {"nulls", tkNulls},
      {"first", tkFirst},     {"last", tkLast},
      {"group", tkGroup},     {"having", tkHaving},
      {"limit", tkLimit},     {"offset", tkOffset},
      {"like", tkLike},       {"in", tkIn},
      {"between", tkBetween}, {"is", tkIs},
      {"exists", tkExists},   {"any", tkAny},
      {"some", tkSome},       {"distinct", tkDistinct},
      {"all", tkAll},         {"cast", tkCast},
      {"case", tkCase},       {"when", tkWhen},
      {"then", tkThen},       {"else", tkElse},
      {"end", tkEnd},         {"now", tkNow},
      {"primary", tkPrimary}, {"key", tkKey},
      {"foreign", tkForeign}, {"references", tkReferences},
      {"unique", tkUnique},   {"check", tkCheck},
      {"default", tkDefault}, {"constraint", tkConstraint},
      {"escape", tkEscape},   {"with", tkWith},
      {"int", tkInt},         {"integer", tkInt},
      {"bigint", tkBigint},   {"smallint", tkSmallint},
      {"float", tkFloatType}, {"double", tkDouble},
      {"decimal", tkDecimal}, {"varchar", tkVarchar},
      {"char", tkChar},       {"text", tkText},
      {"blob", tkBlob},       {"boolean", tkBoolean},
      {"bool", tkBool},       {"timestamp", tkTimestamp},
      {"date", tkDate},       {"time", tkTime},
      {"vector", tkVector},   {"hnsw", tkHnsw},
      {"btree", tkBtree},     {"cosine", tkCosine},
      {"l2", tkL2},           {"if", tkIf}};
  ASSERT_EQ(std::size(words), 90u);
  std::map<std::string, TokenKind> byWord(std::begin(words), std::end(words));
  for (auto [word, kind] : words) {
    std::string upper = word, mixed = word;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    mixed[0] = upper[0];
    for (const std::string& w : {std::string(word), upper, mixed}) {
      EXPECT_EQ(classifyWord(w.data(), w.size()), kind) << w;
      EXPECT_EQ(scannedKind(w), kind) << w;
      // A keyword with anything attached is a plain name (unless that is a keyword too).
      // Past eight letters a word is told by its first eight, its last two and its length:
      // the middle stretched by a letter keeps the first two.
      const std::string stretched = w.size() > 8 ? w.substr(0, 8) + w.substr(7) : w + "s";
      for (const std::string& near : {w + "s", w + "_", "_" + w, w + "2", w.substr(1), stretched}) {
        std::string lower = near;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto it = byWord.find(lower);
        const TokenKind expected = it == byWord.end() ? tkIdent : it->second;
        EXPECT_EQ(classifyWord(near.data(), near.size()), expected) << near;
        if (!near.empty() && !std::isdigit(static_cast<unsigned char>(near[0])))
          EXPECT_EQ(scannedKind(near), expected) << near;
      }
    }
  }
  EXPECT_EQ(classifyWord("L2x", 3), tkIdent);
  EXPECT_EQ(tokenKindName(tkFloatType), "tkFloatType");
  EXPECT_EQ(tokenKindName(tkEof), "tkEof");
  EXPECT_EQ(tokenKindName(tkPipePipe), "tkPipePipe");
}

// A word's end is found several bytes at a time where enough input follows, and byte by byte
// near the end of the text: every length on either side of those steps, ended by each byte
// that borders a range of word bytes, at every distance from the end of the text.
TEST(Words, EndAtEveryLengthBeforeEveryNeighbouringByte) {
  const std::string wordBytes = "aZ_9zA0";
  const std::string enders = std::string(" /:@[`{\x7f\x80\xff^(\n", 13) + std::string(1, '\0');
  for (size_t length = 1; length <= 40; ++length) {
    std::string word;
    for (size_t i = 0; i < length; ++i) word += wordBytes[(i * 3 + length) % wordBytes.size()];
    if (word[0] >= '0' && word[0] <= '9') word[0] = 'q';
    for (char ender : enders) {
      for (size_t tail = 0; tail <= 20; ++tail) {
        // `tail` bytes of padding after the ending byte; none at all for tail 0 (the word
        // ends the text).
        std::string text = "x " + word;
        if (tail > 0) text += std::string(1, ender) + std::string(tail - 1, ' ');
        Arena arena;
        Lexer lexer(text, arena);
        Token t;
        lexer.next(t);
        lexer.next(t);
        ASSERT_EQ(t.lexeme, word) << "length " << length << " ender " << int(ender) << " tail "
                                  << tail;
        ASSERT_EQ(t.column, 3);
        ASSERT_EQ(lexer.consumed(), 2 + length);
      }
    }
  }
}

}  // namespace
}  // namespace quorix
