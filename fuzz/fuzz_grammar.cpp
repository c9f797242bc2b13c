// Structure-aware fuzzing: the input bytes are read as a sequence of choices that build a
// statement list from the dialect's grammar. Unmutated text must parse, so any error on it is
// a grammar bug; one input in eight gets token-level damage to reach the error paths too.
//
// QUORIX_FUZZ_PRINT=1 prints every generated text (to turn a crash input into a .sql file).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "invariants.h"
#include "quorix_sql_parser.h"
#include "tools_check.h"

namespace {

using quorix_fuzz::isDefect;
using quorix_fuzz::isMetricFieldDefect;
using quorix_fuzz::Outcome;
using quorix_fuzz::violation;
using Words = std::vector<std::string>;

constexpr int kNestingLimit = 500;  // the parser's documented allowance
constexpr size_t kTokenBudget = 6000;

Words split(std::string_view s, char sep = ' ') {
  Words out;
  for (size_t start = 0; start <= s.size();) {
    size_t end = std::min(s.find(sep, start), s.size());
    if (end > start) out.emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

const Words kNames = split(
    "a b c x y id t t1 t2 u v col Foo bAr _z a_1 n2 price qty name total s idx m ef selects "
    "_select L2x Inner_ ! | # @ ? $ \xe9 a_name_of_exactly_thirty_two_by "
    "an_identifier_that_is_longer_than_thirty_two_bytes");
const Words kTypeWords = split(
    "INT INTEGER BIGINT SMALLINT FLOAT DOUBLE DECIMAL VARCHAR CHAR TEXT BLOB BOOLEAN BOOL "
    "TIMESTAMP DATE TIME VECTOR uuid Money geometry");
const Words kMetrics = split("COSINE L2 INNER dot ip");
const Words kIntegers = split(
    "0 1 42 127 128 255 256 65535 65536 4294967295 4294967296 2147483648 9223372036854775807 "
    "9223372036854775808 18446744073709551616 007 "
    "000000000000000000000000000000009223372036854775807");
const Words kFloats = split(
    "0.0 0.5 1.5 2.5 123.456 1.000 0.001 0.0000001 0.00000001 0.30000000000000004 "
    "10000000000000000.0 100000000000000000.0 9007199254740993.0");
const Words kStringBodies = split(
    "|abc|it's|x%|line\nbreak|\xc3\xa9|-- not a comment|/* nor this */|\"mixed'quotes\"|\t|"
    "0123456789012345678901234567890123456789",
    '|');
const Words kJoins = split(
    "JOIN|INNER JOIN|LEFT JOIN|LEFT OUTER JOIN|RIGHT JOIN|RIGHT OUTER JOIN|FULL JOIN|"
    "FULL OUTER JOIN|CROSS JOIN",
    '|');
const Words kOptionWords = split("INNER TEXT BOOLEAN BOOL HNSW BTREE COSINE L2");
// Damage material: every keyword and punctuation token, and a few others.
const Words kNoise = split(
    "select from where and or not insert into values update set delete create drop table "
    "alter index join inner left right full outer cross on natural using as null true false "
    "order by asc desc nulls first last group having limit offset like in between is exists "
    "any some distinct all cast case when then else end now primary key foreign references "
    "unique check default constraint escape with int integer bigint smallint float double "
    "decimal varchar char text blob boolean bool timestamp date time vector hnsw btree cosine "
    "l2 if * , . ; ( ) [ ] = <> != < <= > >= + - / % || ' \" x 1 2.5 's' 9223372036854775808 "
    "\\ \x01");

bool isOverflowingInteger(std::string_view digits) {
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  return digits.size() > 19 || (digits.size() == 19 && digits > "9223372036854775807");
}

bool isLetter(char ch) { return (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z'; }

class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // A value in [0, k). Once the input is used up every answer is 0, and alternative 0 is
  // always the simplest, so generation ends.
  unsigned below(unsigned k) {
    if (k <= 1 || pos_ >= size_) return 0;
    unsigned v = data_[pos_++];
    if (k > 256 && pos_ < size_) v = v << 8 | data_[pos_++];
    return v % k;
  }
  // True with probability 1/k while input lasts; false once it is used up.
  bool chance(unsigned k) { return pos_ < size_ && below(k) == k - 1; }
  const std::string& pick(const Words& options) {
    return options[below(static_cast<unsigned>(options.size()))];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

struct Statement {
  size_t firstToken;
  const char* variant;
};

class Generator {
 public:
  explicit Generator(Choices& c) : c_(c) {
    caseStyle_ = c_.below(4);
    nestLimit_ =
        c_.below(4) == 3 ? 6 + static_cast<int>(c_.below(25)) : 1 + static_cast<int>(c_.below(5));
    deepChains_ = c_.chance(6) ? 1 + c_.below(2) : 0;
    longChains_ = c_.chance(12) ? 1 : 0;
  }

  void statements() {
    if (c_.chance(8)) say(";");
    for (unsigned i = 0, n = 1 + c_.below(3); i < n; ++i) {
      statement();
      // No separator is needed between statements; several are allowed.
      say(c_.pick(Words{";", ";", ";", "; ;", "", ""}));
    }
  }

  Words tokens;
  std::vector<Statement> stmts;
  int maxDepth = 0;
  bool intOverflow = false;
  bool metricHazard = false;
  Words integers;              // every integer written, without leading zeros
  std::vector<double> floats;  // the value of every decimal written

 private:
  // One nesting level as the parser counts them, for the lifetime of the object.
  struct Level {
    explicit Level(Generator& g) : g_(g) { g_.maxDepth = std::max(g_.maxDepth, ++g_.depth_); }
    ~Level() { --g_.depth_; }
    Generator& g_;
  };
  // Generator recursion, bounded by nestLimit_ so that typical texts stay small.
  struct Nest {
    explicit Nest(Generator& g) : g_(g) { ++g_.nest_; }
    ~Nest() { --g_.nest_; }
    Generator& g_;
  };

  bool room() const { return tokens.size() < kTokenBudget && nest_ < nestLimit_; }

  // Emits the blank-separated tokens of `text`; words get the text's keyword case style.
  void say(std::string_view text) {
    for (std::string& t : split(text)) {
      const unsigned style = caseStyle_ == 3 ? c_.below(3) : caseStyle_;
      for (char& ch : t)
        if (isLetter(ch) && (style == 1 || (style == 2 && c_.below(2)))) ch |= 0x20;
      tokens.push_back(std::move(t));
    }
  }
  void name() { tokens.push_back(c_.pick(kNames)); }
  void nameList() {
    say("(");
    name();
    while (c_.chance(3)) say(","), name();
    say(")");
  }

  // ---- literals ---------------------------------------------------------------------------

  std::string digits(unsigned maxLen) {
    std::string d(1 + c_.below(maxLen), '0');
    for (char& ch : d) ch = static_cast<char>('0' + c_.below(10));
    return d;
  }
  std::string integerText() {
    std::string t = c_.chance(4) ? digits(24) : c_.pick(kIntegers);
    integers.push_back(t.substr(std::min(t.find_first_not_of('0'), t.size() - 1)));
    return t;
  }
  std::string floatText() {
    std::string t = floatLexeme();
    floats.push_back(std::strtod(t.c_str(), nullptr));
    return t;
  }
  std::string floatLexeme() {
    switch (c_.below(8)) {
      case 0:
        return digits(20) + "." + digits(20);
      case 1:  // past the double range, and below the smallest subnormal
        if (c_.below(2)) return "1" + std::string(310 + c_.below(20), '0') + ".0";
        return "0." + std::string(300 + c_.below(40), '0') + "1";
      default:
        return c_.pick(kFloats);
    }
  }
  void integerLiteral() {
    tokens.push_back(integerText());
    intOverflow |= isOverflowingInteger(tokens.back());
  }
  void stringLiteral() {
    const char quote = c_.below(3) == 2 ? '"' : '\'';
    std::string body =
        c_.chance(16) ? std::string(200 + c_.below(200), 'w') : c_.pick(kStringBodies);
    std::string t(1, quote);
    for (char ch : body) {
      t += ch;
      if (ch == quote) t += quote;
    }
    tokens.push_back(t + quote);
  }
  void vectorLiteral() {
    say("[");
    for (unsigned i = 0, n = 1 + c_.below(4); i < n; ++i) {
      if (i > 0) say(",");
      if (c_.chance(3)) say("-");
      // Elements are read as floats, so an integer past INT64_MAX is fine here.
      tokens.push_back(c_.below(2) ? integerText() : floatText());
    }
    if (c_.chance(4)) say(",");
    say("]");
  }

  void leaf() {
    switch (c_.below(12)) {
      case 3:
        name(), say("."), name();
        return;
      case 4:
      case 5:
        return integerLiteral();
      case 6:
        return tokens.push_back(floatText());
      case 7:
        return stringLiteral();
      case 8:
        return say(c_.pick(Words{"NULL", "TRUE", "FALSE"}));
      case 9:
        return say("*");
      case 10:
        return vectorLiteral();
      case 11: {
        Level level(*this);
        return say("NOW ( )");
      }
      default:
        return name();
    }
  }

  // ---- expressions, loosest level first ---------------------------------------------------

  void expr() {
    andExpr();
    while (room() && c_.chance(5)) say("OR"), andExpr();
  }
  void andExpr() {
    comparison();
    while (room() && c_.chance(5)) say("AND"), comparison();
  }

  // One operand and at most one predicate; the operands of a predicate are concatenations.
  void comparison() {
    concat();
    if (!room()) return;
    const char* no = c_.below(3) == 2 ? "NOT " : "";
    switch (c_.below(16)) {
      case 1:
      case 2:
      case 8:
        say(c_.pick(Words{"=", "<>", "!=", "<", "<=", ">", ">="}));
        if (c_.chance(4)) {
          Level level(*this);
          say(c_.pick(Words{"ANY", "SOME", "ALL"}));
          return subqueryInParens();
        }
        return concat();
      case 3:
        return say(std::string("IS ") + no + "NULL");
      case 4:
        say(std::string(no) + "LIKE"), concat();
        if (c_.below(2)) say("ESCAPE"), concat();
        return;
      case 5:
        say(std::string(no) + "BETWEEN"), concat(), say("AND"), concat();
        return;
      case 6: {
        say(std::string(no) + "IN");
        Level level(*this);
        say("(");
        if (c_.chance(3)) {
          select();
        } else if (!c_.chance(8)) {  // IN () is allowed
          expr();
          while (room() && c_.chance(3)) say(","), expr();
        }
        return say(")");
      }
      case 7:
        // A trailing NOT negates the operand and leaves the next token to the caller.
        if (c_.chance(4) && !noTrailingNot_) say("NOT");
        return;
      default:
        return;
    }
  }

  void concat() {
    addSub();
    while (room() && c_.chance(6)) say("||"), addSub();
  }
  void addSub() {
    mulDiv();
    if (longChains_ > 0 && c_.chance(4)) {
      --longChains_;
      integers.push_back("1");
      // A left-deep chain is as deep as it is long, with no nesting level to stop it.
      for (unsigned i = 0, n = 100 + c_.below(4000); i < n; ++i) say(i % 2 ? "+ 1" : "- 1");
    }
    while (room() && c_.chance(4)) say(c_.pick(Words{"+", "-"})), mulDiv();
  }
  void mulDiv() {
    primary();
    while (room() && c_.chance(5)) say(c_.pick(Words{"*", "/", "%"})), primary();
  }

  void primary() {
    if (!room()) return leaf();
    if (deepChains_ > 0 && c_.chance(3)) {
      --deepChains_;
      return deepChain();
    }
    Nest nest(*this);
    switch (c_.below(20)) {
      case 1:
      case 2:
        return functionCall();
      case 3:
        return cast();
      case 4: {
        Level level(*this);
        return say("("), expr(), say(")");
      }
      case 5: {
        Level level(*this);
        return say("("), select(), say(")");
      }
      case 6: {
        Level level(*this);
        return say("EXISTS"), subqueryInParens();
      }
      case 7: {
        Level notLevel(*this), existsLevel(*this);
        return say("NOT EXISTS"), subqueryInParens();
      }
      case 8:
      case 9: {
        Level level(*this);
        return say(c_.below(2) ? "NOT" : "-"), primary();
      }
      default:
        return leaf();
    }
  }

  void functionCall() {
    Level level(*this);
    const unsigned which = c_.below(8);
    which == 1 ? say("NOW") : which == 2 ? say("VECTOR") : name();
    say("(");
    switch (c_.below(6)) {
      case 0:
        break;
      case 1:
        say("*");
        break;
      case 2:
        say("DISTINCT");
        if (c_.below(3) == 2) {
          say("*");
          break;
        }
        [[fallthrough]];
      default:
        // An argument list that opens with a bare "*" would be read as f(*).
        exprNotStartingWith([](const std::string& t) { return t == "*"; });
        while (room() && c_.chance(3)) say(","), expr();
    }
    say(")");
  }

  void cast() {
    Level level(*this);
    say("CAST ("), expr(), say("AS"), typeName(false), say(")");
  }

  // A type keyword or any name, with up to two parameters; the second may be a bare word.
  void typeName(bool column) {
    const std::string& word = c_.pick(kTypeWords);
    say(word);
    if (c_.below(3) == 0) return;
    Level level(*this);
    say("(");
    word == "VECTOR" && c_.below(2) ? integerLiteral() : expr();
    if (c_.below(2)) {
      say(",");
      if (c_.below(3)) {
        const std::string& metric = c_.pick(kMetrics);
        metric[0] < 'a' ? say(metric) : tokens.push_back(metric);
      } else {
        // A leading name would be taken as the metric word and the rest left over.
        exprNotStartingWith([](const std::string& t) {
          return std::string_view("([-*'\"0123456789").find(t[0]) == std::string_view::npos &&
                 !isPrimaryKeyword(t);
        });
        if (column && word == "VECTOR") metricHazard = true;
      }
    }
    say(")");
  }

  static bool isPrimaryKeyword(std::string t) {
    for (char& ch : t) ch |= 0x20;
    return t == "null" || t == "true" || t == "false" || t == "not" || t == "exists" ||
           t == "cast" || t == "now" || t == "vector";
  }

  // An expression; when the context would misread its first token it is put in parentheses,
  // one more nesting level around everything inside it.
  template <typename Misread>
  void exprNotStartingWith(Misread misread) {
    const size_t start = tokens.size();
    const int outerMax = maxDepth;
    maxDepth = depth_;
    expr();
    if (start < tokens.size() && misread(tokens[start])) {
      tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(start), "(");
      say(")");
      ++maxDepth;
    }
    maxDepth = std::max(outerMax, maxDepth);
  }

  void subqueryInParens() { say("("), select(), say(")"); }

  // Hundreds of nested levels in one run, to reach the parser's limit from any context.
  void deepChain() {
    struct Wrapper {
      const char* open;
      const char* close;
      int levels;
    };
    static constexpr Wrapper kWrappers[] = {
        {"(", ")", 1},
        {"NOT", "", 1},
        {"-", "", 1},
        {"f (", ")", 1},
        {"CAST (", "AS INT )", 1},
        {"( SELECT", ")", 1},
        {"EXISTS ( SELECT", ")", 1},
        {"( x IN (", ") )", 2},  // parenthesised, so the IN cannot take an outer operand
    };
    const unsigned n = 300 + c_.below(400), pattern = c_.below(9);
    uint32_t state = 2463534242u ^ c_.below(65536);
    std::vector<const Wrapper*> chain;
    for (unsigned i = 0; i < n; ++i) {
      state ^= state << 13, state ^= state >> 17, state ^= state << 5;
      chain.push_back(&kWrappers[pattern < 8 ? pattern : state % 8]);
      say(chain.back()->open);
      depth_ += chain.back()->levels;
      maxDepth = std::max(maxDepth, depth_);
    }
    leaf();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      say((*it)->close), depth_ -= (*it)->levels;
  }

  // ---- SELECT -----------------------------------------------------------------------------

  void select() {
    Nest nest(*this);
    say(c_.chance(4) ? "SELECT DISTINCT" : "SELECT");
    selectItem();
    while (room() && c_.chance(3)) say(","), selectItem();
    if (c_.below(3)) say("FROM"), fromClause();
    if (c_.chance(3)) say("WHERE"), expr();
    if (c_.chance(5)) {
      say("GROUP BY"), expr();
      while (room() && c_.chance(3)) say(","), expr();
    }
    if (c_.chance(6)) say("HAVING"), expr();
    if (c_.chance(4)) {
      say("ORDER BY"), orderItem();
      while (room() && c_.chance(3)) say(","), orderItem();
    }
    if (c_.chance(4)) {
      say("LIMIT"), expr();
      if (c_.below(2)) say("OFFSET"), expr();
    }
  }

  void alias() {
    const unsigned form = c_.below(4);
    if (form == 2) say("AS");
    if (form >= 2) name();
  }
  void selectItem() { expr(), alias(); }
  void orderItem() {
    expr();
    if (c_.below(2)) say(c_.pick(Words{"ASC", "DESC"}));
    if (c_.chance(3)) say(c_.pick(Words{"NULLS FIRST", "NULLS LAST"}));
  }

  void fromItem() {
    if (room() && c_.chance(5)) {
      Level level(*this);
      say("("), select(), say(")");
    } else {
      name();
    }
    alias();
  }

  // Joins first: a comma list ends the FROM clause's join steps.
  void fromClause() {
    fromItem();
    while (room() && c_.chance(3)) {
      if (c_.chance(4)) say("NATURAL");
      say(c_.pick(kJoins)), fromItem();
      const unsigned condition = c_.below(3);
      if (condition == 1) say("ON"), expr();
      if (condition == 2) say("USING"), nameList();
    }
    while (room() && c_.chance(4)) say(","), fromItem();
  }

  // ---- other statements -------------------------------------------------------------------

  void exprList() {
    say("("), expr();
    while (room() && c_.chance(3)) say(","), expr();
    say(")");
  }

  void insert() {
    say("INSERT INTO"), name();
    if (c_.below(2)) nameList();
    say("VALUES"), exprList();
    while (room() && c_.chance(3)) say(","), exprList();
  }

  void update() {
    say("UPDATE"), name(), say("SET"), name(), say("="), expr();
    while (room() && c_.chance(3)) say(","), name(), say("="), expr();
    if (c_.below(2)) say("WHERE"), expr();
  }

  void deleteFrom() {
    say("DELETE FROM"), name();
    if (c_.below(2)) say("WHERE"), expr();
  }

  void withOptions() {
    say("WITH (");
    for (unsigned i = 0, n = 1 + c_.below(3); i < n; ++i) {
      if (i > 0) say(",");
      name(), say("=");
      switch (c_.below(6)) {
        case 1:
          stringLiteral();
          break;
        case 2:
          tokens.push_back(integerText());  // kept as text, never converted
          break;
        case 3:
          tokens.push_back(floatText());
          break;
        case 4:
        case 5:
          say(c_.pick(kOptionWords));
          break;
        default:
          name();
      }
    }
    say(")");
  }

  void columnDef() {
    name(), typeName(true);
    bool afterDefault = false;
    while (room() && c_.chance(3)) {
      const unsigned constraint = c_.below(4);
      // NOT NULL right after a DEFAULT value would be read as the value's trailing NOT.
      if (constraint == 0 && afterDefault) continue;
      if (constraint < 3) say(Words{"NOT NULL", "PRIMARY KEY", "UNIQUE"}[constraint]);
      afterDefault = constraint == 3;
      if (afterDefault) {
        say("DEFAULT");
        noTrailingNot_ = true;
        expr();
        noTrailingNot_ = false;
      }
    }
  }

  void createTable() {
    say(c_.chance(3) ? "CREATE TABLE IF NOT EXISTS" : "CREATE TABLE"), name(), say("(");
    columnDef();
    while (room() && c_.chance(2)) {
      say(",");
      if (!c_.chance(3)) {
        columnDef();
        continue;
      }
      say(c_.pick(Words{"PRIMARY", "FOREIGN", "UNIQUE", "CONSTRAINT"}));
      if (c_.below(2)) say("KEY");
      if (c_.below(3)) nameList();
    }
    say(")");
    if (c_.chance(3)) withOptions();
  }

  void createIndex() {
    say(c_.chance(3) ? "CREATE INDEX IF NOT EXISTS" : "CREATE INDEX");
    name(), say("ON"), name(), say("("), name(), say(")");
    if (c_.below(2)) say(c_.pick(Words{"USING HNSW", "USING BTREE"}));
    if (c_.chance(3)) withOptions();
  }

  void statement() {
    static const char* const kVariants[] = {"Select",    "Select",   "Select",      "Insert",
                                            "Update",    "Delete",   "CreateTable", "CreateIndex",
                                            "DropTable", "DropIndex"};
    const unsigned which = c_.below(10);
    stmts.push_back({tokens.size(), kVariants[which]});
    switch (which) {
      case 3:
        return insert();
      case 4:
        return update();
      case 5:
        return deleteFrom();
      case 6:
        return createTable();
      case 7:
        return createIndex();
      case 8:
      case 9:
        say(which == 8 ? "DROP TABLE" : "DROP INDEX");
        if (c_.below(2)) say("IF EXISTS");
        return name();
      default:
        return select();
    }
  }

  Choices& c_;
  unsigned caseStyle_ = 0;
  int nestLimit_ = 1;
  int nest_ = 0;
  int depth_ = 0;
  unsigned deepChains_ = 0;
  unsigned longChains_ = 0;
  bool noTrailingNot_ = false;
};

struct Position {
  int64_t line, column;
};

// Joins the tokens with assorted blanks and comments, recording where each token starts.
std::string render(const Words& tokens, Choices& c, std::vector<Position>& starts) {
  static const char* const kSeparators[] = {
      " ", " ", " ", " ", "\n", "\t", "  ", "\r\n", "/* c */", " -- c\n", "/*\n*/", "\t-- x\n "};
  static const std::string_view kPunctuation = "()[],;.";
  std::string out;
  int64_t line = 1, column = 1;
  auto append = [&](std::string_view s) {
    for (char ch : s) {
      ++column;
      if (ch == '\n') ++line, column = 1;
    }
    out += s;
  };
  starts.clear();
  for (size_t i = 0; i < tokens.size(); ++i) {
    const unsigned k = i > 0 ? c.below(16) : 0;
    // Punctuation may touch its neighbour; two words or two operators may not.
    const bool touch = k >= 12 && (kPunctuation.find(tokens[i]) != std::string_view::npos ||
                                   kPunctuation.find(tokens[i - 1]) != std::string_view::npos);
    if (i > 0 && !touch) append(kSeparators[k % 12]);
    starts.push_back({line, column});
    append(tokens[i]);
  }
  return out;
}

void damage(Words& tokens, Choices& c) {
  for (unsigned i = 0, n = 1 + c.below(3); i < n && !tokens.empty(); ++i) {
    const size_t at = c.below(static_cast<unsigned>(tokens.size()));
    const auto pos = tokens.begin() + static_cast<std::ptrdiff_t>(at);
    switch (c.below(4)) {
      case 0:
        tokens.erase(pos);
        break;
      case 1:
        tokens.insert(pos, std::string(*pos));
        break;
      case 2:
        if (at + 1 < tokens.size()) std::swap(*pos, *(pos + 1));
        break;
      default:
        tokens.insert(pos, c.pick(kNoise));
    }
  }
}

bool hasVectorToken(const Words& tokens) {
  for (std::string t : tokens) {
    for (char& ch : t) ch |= 0x20;
    if (t == "vector") return true;
  }
  return false;
}

std::string describe(const quorix_fuzz::StatementSummary& s) {
  return s.variant + " at " + std::to_string(s.startLine) + ":" + std::to_string(s.startColumn) +
         "-" + std::to_string(s.endLine) + ":" + std::to_string(s.endColumn);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Choices c(data, size);
  const bool damaged = c.chance(8);
  Generator g(c);
  g.statements();
  if (damaged) damage(g.tokens, c);
  std::vector<Position> starts;
  const std::string sql = render(g.tokens, c, starts);
  static const bool print = std::getenv("QUORIX_FUZZ_PRINT") != nullptr;
  if (print) std::fprintf(stderr, "%s\n----\n", sql.c_str());

  const Outcome o = quorix_fuzz::parseChecked(sql.c_str(), 0, sql);
  quorix_fuzz::checkTools(sql, o);
  if (isDefect(o)) {
    const bool metricPossible = damaged ? hasVectorToken(g.tokens) : g.metricHazard;
    if (!(metricPossible && isMetricFieldDefect(o))) violation("internal defect", sql, o.bytes);
  }
  if (damaged) return 0;

  // Unmutated text fails only for the reasons the generator recorded.
  const bool tooDeep = g.maxDepth > kNestingLimit;
  const std::string depth = "deepest nesting " + std::to_string(g.maxDepth);
  if (o.status == 1) {
    const std::string& m = o.bytes;
    if (!((g.intOverflow && m == "Parsed integer outside of valid range") ||
          (tooDeep && quorix_fuzz::isFramedParseError(m) &&
           m.find(": nesting too deep (got ") != std::string::npos) ||
          (g.metricHazard && isMetricFieldDefect(o))))
      violation("generated text rejected", sql, m + "\n(" + depth + ")");
    return 0;
  }
  if (tooDeep) violation("nesting past the limit accepted", sql, depth);
  if (g.intOverflow) violation("integer past INT64_MAX accepted", sql);

  // Every statement is in the document, in order, spanning its first keyword.
  const auto& got = o.document.statements;
  if (got.size() != g.stmts.size())
    violation("statement count", sql, std::to_string(got.size()) + " in the document");
  for (size_t i = 0; i < got.size(); ++i) {
    const Statement& want = g.stmts[i];
    const Position at = starts[want.firstToken];
    const int64_t width = static_cast<int64_t>(g.tokens[want.firstToken].size());
    if (got[i].variant != want.variant || got[i].startLine != at.line ||
        got[i].startColumn != at.column || got[i].endLine != at.line ||
        got[i].endColumn != at.column + width - 1)
      violation("statement variant or span", sql,
                "got " + describe(got[i]) + ", wanted " + want.variant + " at " +
                    std::to_string(at.line) + ":" + std::to_string(at.column));
  }
  // Literal texts hold the values that were written.
  for (const std::string& n : o.document.numbers) {
    const bool known = n.find_first_not_of("0123456789") == std::string::npos
                           ? std::find(g.integers.begin(), g.integers.end(), n) != g.integers.end()
                           : std::find(g.floats.begin(), g.floats.end(),
                                       std::strtod(n.c_str(), nullptr)) != g.floats.end();
    if (!known) violation("number literal with a value never written", sql, n);
  }

  // The blanks and comments between tokens move spans and nothing else.
  Choices plain(nullptr, 0);
  const std::string spaced = render(g.tokens, plain, starts);
  if (spaced != sql) {
    const Outcome p = quorix_fuzz::callOnce(spaced.c_str(), 0, spaced);
    if (p.status != 0 || quorix_fuzz::withoutSpans(p.bytes) != quorix_fuzz::withoutSpans(o.bytes))
      violation("document depends on the blanks between tokens", sql, spaced);
  }
  return 0;
}
