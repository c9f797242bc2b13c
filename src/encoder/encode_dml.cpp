// INSERT, UPDATE and DELETE. Their kind maps end with a "span" of their own.
#include "common/errors.h"
#include "encoder/encoder.h"

namespace quorix {

const SqlNode* Encoder::writeInsertHead(const SqlNode* stmt, size_t& rows) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* second = parts.first->next;
  const bool hasColumns = second != nullptr && second->kind == nkColumnList;
  constexpr auto head = kSeq<fixmap(5), key::variant, packed("Insert"), key::table>;
  if (hasColumns) {
    const NodeList& columns = second->children();
    w_.run(head.size + kStrRoom + key::columns.size + kArrayHeaderRoom)
        .raw(head)
        .str(table)
        .raw(key::columns)
        .arrayHeader(columns.size);
    for (const SqlNode* c = columns.first; c != nullptr; c = c->next) w_.writeString(firstIdent(c));
    w_.writeRaw(key::values);
  } else {
    constexpr auto tail = kSeq<key::columns, kNilByte, key::values>;
    w_.run(head.size + kStrRoom + tail.size).raw(head).str(table).raw(tail);
  }
  rows = parts.size - (hasColumns ? 2 : 1);
  return hasColumns ? second->next : second;
}

void Encoder::writeInsertRow(const SqlNode* row) {
  SpanScope scope(*this, row);
  writeExprSeq(row->children());
}

void Encoder::writeInsertKind(const SqlNode* stmt) {
  size_t rows;
  const SqlNode* firstRow = writeInsertHead(stmt, rows);
  w_.writeArrayHeader(rows);
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next) writeInsertRow(row);
  writeSpanEntry(stmt);
}

void Encoder::beginStreamedInsert(const SqlNode* stmt) {
  // What writeStatement and writeInsertKind write before the rows, with the rows' header kept
  // open: it is as long as the count so far needs, and widened when the count outgrows it.
  streamed_ = StreamedInsert{};
  streamed_.statementAt = w_.mark();
  streamed_.outer = inherited_;
  inherited_ = &resolved(stmt);
  w_.writeRaw(kSeq<fixmap(2), key::kind>);
  const SqlNode* firstRow = writeInsertHead(stmt, streamed_.rows);
  streamed_.headerBytes = MsgPackWriter::arrayHeaderBytes(streamed_.rows);
  streamed_.headerAt = w_.reserveArrayHeader(streamed_.headerBytes);
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next) writeInsertRow(row);
}

void Encoder::writeStreamedRow(const SqlNode* row) {
  const size_t needed = MsgPackWriter::arrayHeaderBytes(++streamed_.rows);
  if (needed != streamed_.headerBytes) {
    w_.widenArrayHeader(streamed_.headerAt, streamed_.headerBytes, needed);
    streamed_.headerBytes = needed;
  }
  writeInsertRow(row);
}

void Encoder::finishStreamedInsert(const SqlNode* stmt) {
  w_.writeArrayHeaderAt(streamed_.headerAt, streamed_.headerBytes, streamed_.rows);
  writeSpanEntry(stmt);  // the INSERT map's
  writeSpanEntry(stmt);  // the statement map's
  inherited_ = streamed_.outer;
#ifndef NDEBUG
  w_.checkWellFormed(streamed_.statementAt);
#endif
}

void Encoder::writeUpdateKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* assignmentList = parts.at(1);
  const NodeList& assignments = assignmentList->children();
  constexpr auto head = kSeq<fixmap(5), key::variant, packed("Update"), key::table>;
  w_.run(head.size + kStrRoom + key::assignments.size + kArrayHeaderRoom)
      .raw(head)
      .str(table)
      .raw(key::assignments)
      .arrayHeader(assignments.size);
  {
    SpanScope list(*this, assignmentList);
    for (const SqlNode* a = assignments.first; a != nullptr; a = a->next) {
      SpanScope scope(*this, a);
      constexpr auto assignment = kSeq<fixmap(3), key::column>;
      w_.run(assignment.size + kStrRoom + key::value.size)
          .raw(assignment)
          .str(firstIdent(a->binLeft()))
          .raw(key::value);
      writeExpr(a->binRight());
      writeSpanEntry(a);
    }
  }
  w_.writeRaw(key::selection);
  if (parts.size >= 3) {
    SpanScope scope(*this, parts.at(2));
    writeExpr(parts.at(2)->children().at(0));
  } else {
    w_.writeNil();
  }
  writeSpanEntry(stmt);
}

void Encoder::writeDeleteKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  constexpr auto head = kSeq<fixmap(4), key::variant, packed("Delete"), key::table>;
  w_.run(head.size + kStrRoom + key::selection.size).raw(head).str(table).raw(key::selection);
  if (parts.size >= 2) {
    SpanScope scope(*this, parts.at(1));
    writeExpr(parts.at(1)->children().at(0));
  } else {
    w_.writeNil();
  }
  writeSpanEntry(stmt);
}

}  // namespace quorix
