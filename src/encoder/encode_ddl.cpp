// CREATE TABLE, CREATE INDEX, DROP TABLE and DROP INDEX.
#include <string>

#include "common/errors.h"
#include "encoder/encoder.h"

namespace quorix {

namespace {

// ASCII-only, case-insensitive equality with an upper-case constant.
bool equalsUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

bool isMarker(const SqlNode* node, std::string_view text) {
  return node != nullptr && node->kind == nkIdentifier && node->strVal() == text;
}

}  // namespace

std::string_view normalizedDataTypeName(std::string_view name) {
  return normalizedDataTypeName(classifyWord(name.data(), name.size()), name);
}

std::string_view normalizedDataTypeName(TokenKind keyword, std::string_view name) {
  switch (keyword) {
    case tkInt:  // spelled INT or INTEGER
      return name.size() == 3 ? "Int" : "Integer";
    case tkSmallint:
      return "Int";
    case tkBigint:
      return "BigInt";
    case tkFloatType:
      return "Float";
    case tkDouble:
    case tkDecimal:
      return "Double";
    case tkVarchar:
    case tkChar:
    case tkText:
      return "Text";
    case tkBlob:
      return "Blob";
    case tkBoolean:
      return "Boolean";
    case tkBool:
      return "Bool";
    case tkTimestamp:
    case tkDate:
    case tkTime:
      return "Timestamp";
    case tkVector:
      return "Vector";
    default:
      return name;
  }
}

std::string_view normalizedMetricName(std::string_view name) {
  if (equalsUpper(name, "COSINE")) return "Cosine";
  if (equalsUpper(name, "L2")) return "L2";
  if (equalsUpper(name, "INNER")) return "Inner";
  return name;
}

std::string_view normalizedIndexMethod(std::string_view text) {
  if (equalsUpper(text, "BTREE")) return "BTree";
  if (equalsUpper(text, "HNSW")) return "Hnsw";
  return text;
}

void Encoder::writeCreateTableKind(const SqlNode* stmt) {
  bool ifNotExists = false;
  std::string_view name;
  bool haveName = false;
  size_t columnCount = 0;
  size_t constraintCount = 0;
  const SqlNode* with = nullptr;
  const NodeList& parts = stmt->children();
  for (const SqlNode* c = parts.first; c != nullptr; c = c->next) {
    switch (c->kind) {
      case nkIdentifier:
        if (c->strVal() == "IF NOT EXISTS") {
          ifNotExists = true;
        } else if (!haveName) {
          name = c->strVal();
          haveName = true;
        }
        break;
      case nkColumnDef:
        ++columnCount;
        break;
      case nkConstraint:
        ++constraintCount;
        break;
      case nkWithOptions:
        with = c;
        break;
      default:
        break;
    }
  }
  constexpr auto head = kSeq<fixmap(7), key::variant, packed("CreateTable"), key::if_not_exists>;
  w_.run(head.size + 1 + key::name.size + kStrRoom + key::columns.size + kArrayHeaderRoom)
      .raw(head)
      .boolean(ifNotExists)
      .raw(key::name)
      .str(name)
      .raw(key::columns)
      .arrayHeader(columnCount);
  for (const SqlNode* c = parts.first; c != nullptr; c = c->next) {
    if (c->kind == nkColumnDef) writeColumnDef(c);
  }
  w_.run(key::constraints.size + kArrayHeaderRoom)
      .raw(key::constraints)
      .arrayHeader(constraintCount);
  for (const SqlNode* c = parts.first; c != nullptr; c = c->next) {
    if (c->kind == nkConstraint) writeTableConstraint(c);
  }
  w_.writeRaw(key::with_options);
  writeIndexOptions(with);
  writeSpanEntry(stmt);
}

void Encoder::writeColumnDef(const SqlNode* column) {
  SpanScope scope(*this, column);
  constexpr auto head = kSeq<fixmap(4), key::name>;
  w_.run(head.size + kStrRoom + key::data_type.size)
      .raw(head)
      .str(column->colName())
      .raw(key::data_type);
  const NodeList& constraints = column->colConstraints();
  writeDataType(column->colType(), constraints.size);
  for (const SqlNode* c = constraints.first; c != nullptr; c = c->next) writeColumnConstraint(c);
  writeSpanEntry(column);
}

void Encoder::writeColumnConstraint(const SqlNode* constraint) {
  SpanScope scope(*this, constraint);
  std::string_view text = firstIdent(constraint);
  if (equalsUpper(text, "DEFAULT")) {
    const NodeList& parts = constraint->children();
    w_.writeRaw(kSeq<fixmap(3), key::variant, packed("Default"), key::value>);
    writeExpr(parts.size >= 2 ? parts.first->next : nullptr);
    writeSpanEntry(constraint);
    return;
  }
  if (equalsUpper(text, "NOT NULL")) {
    writeRawThenSpan(kSeq<fixmap(2), key::variant, packed("NotNull")>, resolved(constraint));
  } else if (equalsUpper(text, "PRIMARY KEY")) {
    writeRawThenSpan(kSeq<fixmap(2), key::variant, packed("PrimaryKey")>, resolved(constraint));
  } else if (equalsUpper(text, "UNIQUE")) {
    writeRawThenSpan(kSeq<fixmap(2), key::variant, packed("Unique")>, resolved(constraint));
  } else {
    std::string upper(text);
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    constexpr auto head = kSeq<fixmap(2), key::variant>;
    w_.run(head.size + kStrRoom + kSpanRoom).raw(head).str(upper).span(resolved(constraint));
  }
}

void Encoder::writeTableConstraint(const SqlNode* constraint) {
  const NodeList& parts = constraint->children();
  const SqlNode* first = parts.first;
  bool skipFirst = false;
  if (first != nullptr && first->kind == nkIdentifier) {
    std::string_view t = first->strVal();
    skipFirst = equalsUpper(t, "PRIMARY") || equalsUpper(t, "FOREIGN") ||
                equalsUpper(t, "UNIQUE") || equalsUpper(t, "CONSTRAINT");
  }
  constexpr auto head = kSeq<fixmap(3), key::variant, packed("PrimaryKey"), key::columns>;
  w_.run(head.size + kArrayHeaderRoom).raw(head).arrayHeader(parts.size - (skipFirst ? 1 : 0));
  for (const SqlNode* c = skipFirst ? first->next : first; c != nullptr; c = c->next)
    w_.writeString(firstIdent(c));
  writeSpanEntry(constraint);
}

void Encoder::writeDataType(const SqlNode* type, size_t constraints) {
  // The parser noted which keyword spelled the type, so the name is not looked up again.
  const std::string_view variant =
      type != nullptr && type->kind == nkTypeName
          ? normalizedDataTypeName(static_cast<TokenKind>(type->typeKeyword()), firstIdent(type))
          : normalizedDataTypeName(firstIdent(type));
  if (variant != "Vector") {
    // With the column's "constraints" key and header after it, in one run.
    constexpr auto head = kSeq<fixmap(1), key::variant>;
    w_.run(head.size + kStrRoom + key::constraints.size + kArrayHeaderRoom)
        .raw(head)
        .str(variant)
        .raw(key::constraints)
        .arrayHeader(constraints);
    return;
  }
  const NodeList& parts = type->children();
  const SqlNode* dimension = parts.size >= 2 ? parts.first->next : nullptr;
  const SqlNode* metric = parts.size >= 3 ? dimension->next : nullptr;
  uint32_t dim = 0;
  if (dimension != nullptr && dimension->kind == nkIntLit) {
    dim = static_cast<uint32_t>(static_cast<uint64_t>(dimension->intVal()) & 0xffffffffu);
  }
  w_.writeRaw(kSeq<fixmap(3), key::variant, packed("Vector"), key::dimension>);
  w_.writeUInt32(dim);
  w_.writeRaw(key::metric);
  if (metric == nullptr) {
    w_.writeNil();
  } else {
    w_.writeString(normalizedMetricName(firstIdent(metric)));
  }
  w_.run(key::constraints.size + kArrayHeaderRoom).raw(key::constraints).arrayHeader(constraints);
}

void Encoder::writeIndexOptions(const SqlNode* options) {
  if (options == nullptr) {
    w_.writeArrayHeader(0);
    return;
  }
  SpanScope scope(*this, options);
  const NodeList& parts = options->children();
  w_.writeArrayHeader(parts.size);
  for (const SqlNode* o = parts.first; o != nullptr; o = o->next) writeIndexOption(o);
}

void Encoder::writeIndexOption(const SqlNode* option) {
  const NodeList& parts = option->children();
  const std::string_view name = firstIdent(parts.at(0));
  const std::string_view value = firstIdent(parts.at(1));
  constexpr auto head = kSeq<fixmap(3), key::key>;
  w_.run(head.size + kStrRoom + key::value.size + kStrRoom + kSpanRoom)
      .raw(head)
      .str(name)
      .raw(key::value)
      .str(value)
      .span(resolved(option));
}

void Encoder::writeCreateIndexKind(const SqlNode* stmt) {
  const NodeList& parts = stmt->children();
  const bool flag = isMarker(parts.first, "IF NOT EXISTS");
  const size_t base = flag ? 1 : 0;
  const SqlNode* options =
      parts.last != nullptr && parts.last->kind == nkWithOptions ? parts.last : nullptr;
  std::string_view name = firstIdent(parts.at(base));
  std::string_view table = firstIdent(parts.at(base + 1));
  std::string_view column = firstIdent(parts.at(base + 2));
  const SqlNode* method = parts.size > base + 3 ? parts.at(base + 3) : nullptr;
  constexpr auto head = kSeq<fixmap(8), key::variant, packed("CreateIndex"), key::if_not_exists>;
  w_.run(head.size + 1 + key::name.size + key::table.size + key::column.size + key::method.size +
         3 * kStrRoom)
      .raw(head)
      .boolean(flag)
      .raw(key::name)
      .str(name)
      .raw(key::table)
      .str(table)
      .raw(key::column)
      .str(column)
      .raw(key::method);
  if (method != nullptr && method->kind == nkIdentifier) {
    w_.writeString(normalizedIndexMethod(method->strVal()));
  } else {
    w_.writeNil();
  }
  w_.writeRaw(key::options);
  writeIndexOptions(options);
  writeSpanEntry(stmt);
}

void Encoder::writeDropKind(const SqlNode* stmt, const PackedStr<10>& variant) {
  const NodeList& parts = stmt->children();
  const bool flag = isMarker(parts.first, "IF EXISTS");
  std::string_view name = firstIdent(parts.at(flag ? 1 : 0));
  constexpr auto head = kSeq<fixmap(4), key::variant>;
  w_.run(head.size + variant.size + key::if_exists.size + 1 + key::name.size + kStrRoom + kSpanRoom)
      .raw(head)
      .raw(variant)
      .raw(key::if_exists)
      .boolean(flag)
      .raw(key::name)
      .str(name)
      .span(resolved(stmt));
}

void Encoder::writeDropTableKind(const SqlNode* stmt) { writeDropKind(stmt, packed("DropTable")); }
void Encoder::writeDropIndexKind(const SqlNode* stmt) { writeDropKind(stmt, packed("DropIndex")); }

}  // namespace quorix
