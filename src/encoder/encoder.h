// The tree encoder: statement trees to the MessagePack document. Each statement family has
// its own encode_*.cpp; this header holds what they share.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "ast/ast.h"
#include "common/small_stack.h"
#include "encoder/msgpack_writer.h"
#include "lexer/lexer.h"

namespace quorix {

// Parses the text and writes its whole document (the array of statement maps) into an empty
// writer. Raises the first parse or value error of the text; failing that, the first failure of
// encoding.
void astToMsgPack(std::string_view text, MsgPackWriter& writer);

// The first name in a node: "" for none, strVal of an identifier or string literal, otherwise
// that of the first child. A kind without text or children is an internal defect.
std::string_view firstIdent(const SqlNode* node);

// Shortest round-trip text of a double, laid out as literal values are written ("2.5", "1.0",
// "1e-8", "1.23e+17", "inf", "nan"). `out` must hold at least 32 bytes; returns the length.
size_t formatFloatText(double value, char* out);
// Whether formatFloatText gives back a decimal literal's lexeme ("digits.digits") unchanged,
// so that the value need not be formatted at all.
bool decimalLexemeIsItsText(std::string_view lexeme);

std::string_view normalizedBinaryOp(BinaryOperator op);
std::string_view normalizedBinaryOp(std::string_view memberName);
std::string_view normalizedUnaryOp(UnaryOperator op);
std::string_view normalizedQuantifier(bool all);
std::string_view normalizedJoinKind(JoinKind kind);
std::string_view normalizedDataTypeName(std::string_view name);
// The same, for a name the scanner has classified already (a type keyword, or tkIdent).
std::string_view normalizedDataTypeName(TokenKind keyword, std::string_view name);
std::string_view normalizedMetricName(std::string_view name);
std::string_view normalizedIndexMethod(std::string_view text);

// Keys and fixed values, packed with their fixstr header at compile time.
namespace key {
inline constexpr auto variant = packed("variant");
inline constexpr auto kind = packed("kind");
inline constexpr auto column = packed("column");
inline constexpr auto table = packed("table");
inline constexpr auto literal = packed("literal");
inline constexpr auto value = packed("value");
inline constexpr auto expr = packed("expr");
inline constexpr auto list = packed("list");
inline constexpr auto negated = packed("negated");
inline constexpr auto pattern = packed("pattern");
inline constexpr auto escape = packed("escape");
inline constexpr auto low = packed("low");
inline constexpr auto high = packed("high");
inline constexpr auto left = packed("left");
inline constexpr auto op = packed("op");
inline constexpr auto right = packed("right");
inline constexpr auto operand = packed("operand");
inline constexpr auto name = packed("name");
inline constexpr auto args = packed("args");
inline constexpr auto distinct = packed("distinct");
inline constexpr auto star = packed("star");
inline constexpr auto values = packed("values");
inline constexpr auto subquery = packed("subquery");
inline constexpr auto quantifier = packed("quantifier");
inline constexpr auto projection = packed("projection");
inline constexpr auto from = packed("from");
inline constexpr auto selection = packed("selection");
inline constexpr auto group_by = packed("group_by");
inline constexpr auto having = packed("having");
inline constexpr auto order_by = packed("order_by");
inline constexpr auto limit = packed("limit");
inline constexpr auto offset = packed("offset");
inline constexpr auto alias = packed("alias");
inline constexpr auto asc = packed("asc");
inline constexpr auto nulls_first = packed("nulls_first");
inline constexpr auto join_type = packed("join_type");
inline constexpr auto condition = packed("condition");
inline constexpr auto using_ = packed("using");
inline constexpr auto columns = packed("columns");
inline constexpr auto assignments = packed("assignments");
inline constexpr auto if_not_exists = packed("if_not_exists");
inline constexpr auto if_exists = packed("if_exists");
inline constexpr auto constraints = packed("constraints");
inline constexpr auto with_options = packed("with_options");
inline constexpr auto data_type = packed("data_type");
inline constexpr auto dimension = packed("dimension");
inline constexpr auto metric = packed("metric");
inline constexpr auto method = packed("method");
inline constexpr auto options = packed("options");
inline constexpr auto key = packed("key");
}  // namespace key

// What the pieces of a run take of its room (see MsgPackWriter::Run).
inline constexpr size_t kStrRoom = MsgPackWriter::kStrRoom;
inline constexpr size_t kArrayHeaderRoom = MsgPackWriter::kArrayHeaderRoom;
inline constexpr size_t kSpanRoom = MsgPackWriter::kSpanRoom;

class Encoder {
 public:
  explicit Encoder(MsgPackWriter& writer) : w_(writer) {}

  void writeStatement(const SqlNode* stmt);
  void writeStatementKind(const SqlNode* stmt);
  // The "span" key and the node's span map: its own span, or when it has none, that of its
  // nearest ancestor that has one (see SpanScope).
  void writeSpanEntry(const SqlNode* node) { writeSpanEntry(resolved(node)); }
  void writeSpanEntry(const Span& s) { w_.run(kSpanRoom).span(s); }
  void writeStringSeqOpt(const NameList& names);

  void writeExpr(const SqlNode* node);
  // An array of expressions, after `key` when one is given (a key of four letters).
  void writeExprSeq(const NodeList& nodes, const PackedStr<5>* key = nullptr);
  // A literal expression's entries and then its span entry `span`.
  void writeLiteralWithSpan(const SqlNode* node, const Span& span);
  void writeSubquery(const SqlNode* query);

  void writeSelectKind(const SqlNode* query);
  void writeSelectItem(const SqlNode* item);
  void writeOrderByExpr(const SqlNode* item);
  void writeFromItem(const SqlNode* item);

  void writeInsertKind(const SqlNode* stmt);
  // A long INSERT whose rows arrive while it is parsed (see RowSink). Its statement map is
  // opened with the rows parsed so far, continued one row at a time, and closed once the parser
  // returns the statement; the bytes are those writeStatement would write for the whole tree.
  void beginStreamedInsert(const SqlNode* stmt);
  void writeStreamedRow(const SqlNode* row);
  void finishStreamedInsert(const SqlNode* stmt);
  void writeUpdateKind(const SqlNode* stmt);
  void writeDeleteKind(const SqlNode* stmt);

  void writeCreateTableKind(const SqlNode* stmt);
  void writeColumnDef(const SqlNode* column);
  void writeColumnConstraint(const SqlNode* constraint);
  void writeTableConstraint(const SqlNode* constraint);
  // A column's data type map, then its "constraints" key and the header of `constraints`
  // entries.
  void writeDataType(const SqlNode* type, size_t constraints);

  void writeCreateIndexKind(const SqlNode* stmt);
  void writeDropTableKind(const SqlNode* stmt);
  void writeDropIndexKind(const SqlNode* stmt);
  void writeIndexOptions(const SqlNode* options);
  void writeIndexOption(const SqlNode* option);

 private:
  // An expression's map after its opening brace: "kind": <variant map>, then the span entry
  // `span`.
  void writeExprVariant(const SqlNode* node, const Span& span);
  // "negated": <bool>, then the span entry `span`, as one run.
  void writeNegatedThenSpan(bool negated, const Span& span);
  // Fixed bytes, then the span entry `span`, as one run.
  template <size_t N>
  void writeRawThenSpan(const PackedStr<N>& raw, const Span& span) {
    w_.run(N + kSpanRoom).raw(raw).span(span);
  }
  // A column reference (with no table: "table": nil) and then the span entry `span`.
  void writeColumnRefWithSpan(std::optional<std::string_view> table, std::string_view column,
                              const Span& span);
  // A generic operator's "op": <name>, "right":, in kOperatorRoom of a run.
  static void putOperator(MsgPackWriter::Run& run, BinaryOperator op);
  static constexpr size_t kOperatorRoom = 3 + kStrRoom + 6;
  // "alias": the name, or nil for none, and then the span entry `span`.
  void writeAliasAndSpan(const std::string_view* alias, const Span& span);
  void writeDropKind(const SqlNode* stmt, const PackedStr<10>& variant);
  // An INSERT's map up to its "values" key; returns the first row and counts the rows.
  const SqlNode* writeInsertHead(const SqlNode* stmt, size_t& rows);
  void writeInsertRow(const SqlNode* row);

  // Nodes built without a position take the span of their nearest ancestor that has one. The
  // encoder settles that on its way down instead of in a separate pass over the tree:
  // `inherited_` is the span that a span-less node at the current place takes, and a SpanScope
  // opened for every node that the walk passes (written or only stepped through) keeps it up to
  // date. fillMissingSpans states the same rule as a pass of its own; the tests hold the two
  // to the same answer.
  const Span& resolved(const SqlNode* node) const {
    return isEmpty(node->span.start) ? *inherited_ : node->span;
  }

  class SpanScope {
   public:
    SpanScope(Encoder& e, const SqlNode* node) : e_(e), saved_(e.inherited_) {
      if (node != nullptr) e.inherited_ = &e.resolved(node);
    }
    ~SpanScope() { e_.inherited_ = saved_; }
    SpanScope(const SpanScope&) = delete;
    SpanScope& operator=(const SpanScope&) = delete;

   private:
    Encoder& e_;
    const Span* saved_;
  };

  // One link of a left-deep chain on the explicit stack, with the span it resolved to.
  struct ChainLink {
    const SqlNode* node;
    const Span* span;
  };

  // The INSERT being streamed: where its "values" header is kept and how long it is, the rows
  // so far, and the span to return to when it closes.
  struct StreamedInsert {
    size_t statementAt = 0;
    size_t headerAt = 0;
    size_t headerBytes = 0;
    size_t rows = 0;
    const Span* outer = nullptr;
  };

  MsgPackWriter& w_;
  const Span* inherited_ = &kEmptySpan;
  StreamedInsert streamed_;
  // Shared explicit stack for walking left-deep chains without recursion; ordinary statements
  // stay within its inline part and never allocate.
  SmallStack<ChainLink, 64> chain_;
};

}  // namespace quorix
