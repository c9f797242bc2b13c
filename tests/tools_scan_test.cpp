// tokens and split: exact tokens for the awkward corners, statement ranges on text that does
// not parse, and on every golden text split finds exactly the statements the parser finds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/arena.h"
#include "lexer/lexer.h"
#include "parser/parser.h"
#include "tools/token_class.h"
#include "tools/tools.h"

namespace quorix::tools {
namespace {

// "kind class text@line:col" per token, "!" after an unterminated one.
std::string describe(std::string_view text) {
  std::string out;
  for (const ScannedToken& t : scanTokens(text)) {
    if (!out.empty()) out += ' ';
    out += tokenKindName(TokenKind(t.kind));
    out += ' ';
    out += kTokenClassNames[t.tokenClass];
    out += ' ';
    out += text.substr(t.start, t.end - t.start);
    out += '@' + std::to_string(t.line) + ':' + std::to_string(t.column);
    if (t.unterminated) out += '!';
  }
  return out;
}

TEST(Tokens, EveryKindOfTokenWithItsClassAndPlace) {
  const std::pair<std::string, std::string> cases[] = {
      {"SELECT a1, 'it''s' FROM t -- note",
       "tkSelect keyword SELECT@1:1 tkIdent identifier a1@1:8 tkComma punctuation ,@1:10 "
       "tkString string 'it''s'@1:12 tkFrom keyword FROM@1:20 tkIdent identifier t@1:25 "
       "tkComment comment -- note@1:27"},
      {"x/*a\nb*/<>1.5\n||[2]",
       "tkIdent identifier x@1:1 tkComment comment /*a\nb*/@1:2 tkNeq operator <>@2:4 "
       "tkFloat number 1.5@2:6 tkPipePipe operator ||@3:1 tkLBracket punctuation [@3:3 "
       "tkInteger number 2@3:4 tkRBracket punctuation ]@3:5"},
      // Bytes that start no token are invalid; "!" and "|" alone are one-byte names too.
      {"@x \xc3\xa9 ! |",
       "tkIdent invalid @@1:1 tkIdent identifier x@1:2 tkIdent invalid \xc3@1:4 "
       "tkIdent invalid \xa9@1:5 tkIdent invalid !@1:7 tkIdent invalid |@1:9"},
      // What the parser rejects as unterminated is one token to the end of the text, flagged.
      {"a /* open\n  still", "tkIdent identifier a@1:1 tkComment comment /* open\n  still@1:3!"},
      {"a 'open''", "tkIdent identifier a@1:1 tkString string 'open''@1:3!"},
      {"a --", "tkIdent identifier a@1:1 tkComment comment --@1:3"},
      {"", ""},
      {" \t\r\n", ""},
  };
  for (const auto& [text, tokens] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(describe(text), tokens);
  }
}

TEST(Tokens, CoverEveryByteOfAnyTextButBlanks) {
  // Token soups from every byte value: between tokens there are only blanks, in order.
  uint32_t seed = 7;
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = round % 40;
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      const char pool[] = "ab_1.'\"-/*\n \t|!<>=;()[]@\x80\xff";
      text += (seed >> 16) % 3 == 0 ? static_cast<char>(seed >> 24) : pool[(seed >> 16) % 26];
    }
    SCOPED_TRACE(testing::PrintToString(text));
    uint32_t at = 0;
    for (const ScannedToken& t : scanTokens(text)) {
      ASSERT_LE(at, t.start);
      for (; at < t.start; ++at)
        EXPECT_NE(std::string_view(" \t\r\n").find(text[at]), std::string::npos);
      ASSERT_LT(t.start, t.end);
      at = t.end;
    }
    for (; at < text.size(); ++at)
      EXPECT_NE(std::string_view(" \t\r\n").find(text[at]), std::string::npos);
  }
}

// "start-end line:col-line:col" per statement.
std::string ranges(std::string_view text) {
  std::string out;
  for (const StatementRange& s : splitStatements(text)) {
    if (!out.empty()) out += ' ';
    out += std::to_string(s.start) + '-' + std::to_string(s.end) + ' ' +
           std::to_string(s.startLine) + ':' + std::to_string(s.startColumn) + '-' +
           std::to_string(s.endLine) + ':' + std::to_string(s.endColumn);
  }
  return out;
}

TEST(Split, StatementsOfAnyText) {
  const std::pair<std::string, std::string> cases[] = {
      {"SELECT 1; SELECT 2;", "0-8 1:1-1:8 10-18 1:11-1:18"},
      // No separator: a statement keyword outside parentheses starts the next statement.
      {"SELECT 1 SELECT (SELECT 2) DROP TABLE t", "0-8 1:1-1:8 9-26 1:10-1:26 27-39 1:28-1:39"},
      // Leading and trailing comments are outside; comments between tokens are inside.
      {"-- head\nSELECT /* in */ 1 -- tail\n;", "8-25 2:1-2:17"},
      {"SELECT ';' ; ;; /* ; */", "0-10 1:1-1:10"},
      // Text that does not parse still splits.
      {"SELEC 1; DROP VIEW v; SELECT (", "0-7 1:1-1:7 9-20 1:10-1:20 22-30 1:23-1:30"},
      // The last byte of a statement whose last token spans lines.
      {"SELECT 'a\nbc'", "0-13 1:1-2:3"},
      {"SELECT 'open", "0-12 1:1-1:12"},
      {";;", ""},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ranges(text), expected);
  }
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Split, FindsExactlyTheParsersStatements) {
  // Every golden text that parses, as written and with every ';' gone (the dialect needs no
  // separator), so the statements' own ends are what split has to find.
  size_t texts = 0;
  for (const auto& e : std::filesystem::directory_iterator(
           std::filesystem::path(QUORIX_TEST_DATA_DIR) / "golden")) {
    if (e.path().extension() != ".sql") continue;
    const std::string original = readFile(e.path());
    std::string joined;
    for (const ScannedToken& t : scanTokens(original)) {
      if (t.kind != tkSemicolon) joined.append(original, t.start, t.end - t.start);
      joined += ' ';
    }
    for (const std::string& text : {original, joined}) {
      SCOPED_TRACE(e.path().filename().string() + ": " + text);
      std::vector<Location> starts;
      Arena arena;
      try {
        parseSqlStatements(text, arena,
                           [&](SqlNode* stmt, Parser&) { starts.push_back(stmt->span.start); });
      } catch (const std::exception&) {
        continue;  // the error goldens
      }
      ++texts;
      const auto split = splitStatements(text);
      ASSERT_EQ(split.size(), starts.size());
      for (size_t i = 0; i < split.size(); ++i) {
        EXPECT_EQ(split[i].startLine, starts[i].line);
        EXPECT_EQ(split[i].startColumn, starts[i].column);
      }
    }
  }
  EXPECT_GT(texts, 50u);
}

}  // namespace
}  // namespace quorix::tools
