// INSERT, UPDATE and DELETE. Their kind maps end with a "span" of their own.
#include "encoder.h"
#include "errors.h"

namespace quorix {

void Encoder::writeInsertKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* second = parts.first->next;
  const bool hasColumns = second != nullptr && second->kind == nkColumnList;
  w_.writeRawThenString(kSeq<fixmap(5), key::variant, packed("Insert"), key::table>, table);
  w_.writeRaw(key::columns);
  if (hasColumns) {
    const NodeList& columns = second->children();
    w_.writeArrayHeader(columns.size);
    for (const SqlNode* c = columns.first; c != nullptr; c = c->next) w_.writeString(firstIdent(c));
  } else {
    w_.writeNil();
  }
  w_.writeRaw(key::values);
  const SqlNode* firstRow = hasColumns ? second->next : second;
  w_.writeArrayHeader(parts.size - (hasColumns ? 2 : 1));
  for (const SqlNode* row = firstRow; row != nullptr; row = row->next) {
    SpanScope scope(*this, row);
    writeExprSeq(row->children());
  }
  writeSpanEntry(stmt);
}

void Encoder::writeUpdateKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  std::string_view table = firstIdent(parts.at(0));
  const SqlNode* assignmentList = parts.at(1);
  const NodeList& assignments = assignmentList->children();
  w_.writeRawThenString(kSeq<fixmap(5), key::variant, packed("Update"), key::table>, table);
  w_.writeRaw(key::assignments);
  w_.writeArrayHeader(assignments.size);
  {
    SpanScope list(*this, assignmentList);
    for (const SqlNode* a = assignments.first; a != nullptr; a = a->next) {
      SpanScope scope(*this, a);
      w_.writeRawThenString(kSeq<fixmap(3), key::column>, firstIdent(a->binLeft()));
      w_.writeRaw(key::value);
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
  w_.writeRawThenString(kSeq<fixmap(4), key::variant, packed("Delete"), key::table>, table);
  w_.writeRaw(key::selection);
  if (parts.size >= 2) {
    SpanScope scope(*this, parts.at(1));
    writeExpr(parts.at(1)->children().at(0));
  } else {
    w_.writeNil();
  }
  writeSpanEntry(stmt);
}

}  // namespace quorix
