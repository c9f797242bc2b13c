// CREATE TABLE, CREATE INDEX, DROP TABLE and DROP INDEX.
#include <string>

#include "encoder.h"
#include "errors.h"

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
  w_.writeRaw(kSeq<fixmap(7), key::variant, packed("CreateTable"), key::if_not_exists>);
  w_.writeBool(ifNotExists);
  w_.writeRawThenString(kSeq<key::name>, name);
  w_.writeRaw(key::columns);
  w_.writeArrayHeader(columnCount);
  for (const SqlNode* c = parts.first; c != nullptr; c = c->next) {
    if (c->kind == nkColumnDef) writeColumnDef(c);
  }
  w_.writeRaw(key::constraints);
  w_.writeArrayHeader(constraintCount);
  for (const SqlNode* c = parts.first; c != nullptr; c = c->next) {
    if (c->kind == nkConstraint) writeTableConstraint(c);
  }
  w_.writeRaw(key::with_options);
  writeIndexOptions(with);
  writeSpanEntry(stmt);
}

void Encoder::writeColumnDef(const SqlNode* column) {
  SpanScope scope(*this, column);
  w_.writeRawThenString(kSeq<fixmap(4), key::name>, column->colName());
  w_.writeRaw(key::data_type);
  writeDataType(column->colType());
  w_.writeRaw(key::constraints);
  const NodeList& constraints = column->colConstraints();
  w_.writeArrayHeader(constraints.size);
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
  w_.writeRaw(kSeq<fixmap(2), key::variant>);
  if (equalsUpper(text, "NOT NULL")) {
    w_.writeRaw(packed("NotNull"));
  } else if (equalsUpper(text, "PRIMARY KEY")) {
    w_.writeRaw(packed("PrimaryKey"));
  } else if (equalsUpper(text, "UNIQUE")) {
    w_.writeRaw(packed("Unique"));
  } else {
    std::string upper(text);
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    w_.writeString(upper);
  }
  writeSpanEntry(constraint);
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
  w_.writeRaw(kSeq<fixmap(3), key::variant, packed("PrimaryKey"), key::columns>);
  w_.writeArrayHeader(parts.size - (skipFirst ? 1 : 0));
  for (const SqlNode* c = skipFirst ? first->next : first; c != nullptr; c = c->next)
    w_.writeString(firstIdent(c));
  writeSpanEntry(constraint);
}

void Encoder::writeDataType(const SqlNode* type) {
  // The parser noted which keyword spelled the type, so the name is not looked up again.
  const std::string_view variant =
      type != nullptr && type->kind == nkTypeName
          ? normalizedDataTypeName(static_cast<TokenKind>(type->typeKeyword()), firstIdent(type))
          : normalizedDataTypeName(firstIdent(type));
  if (variant != "Vector") {
    w_.writeRawThenString(kSeq<fixmap(1), key::variant>, variant);
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
  w_.writeRawThenString(kSeq<fixmap(3), key::key>, firstIdent(parts.at(0)));
  w_.writeRawThenString(kSeq<key::value>, firstIdent(parts.at(1)));
  writeSpanEntry(option);
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
  w_.writeRaw(kSeq<fixmap(8), key::variant, packed("CreateIndex"), key::if_not_exists>);
  w_.writeBool(flag);
  w_.writeRawThenString(kSeq<key::name>, name);
  w_.writeRawThenString(kSeq<key::table>, table);
  w_.writeRawThenString(kSeq<key::column>, column);
  w_.writeRaw(key::method);
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
  w_.writeRaw(kSeq<fixmap(4), key::variant>);
  w_.writeRaw(variant);
  w_.writeRaw(key::if_exists);
  w_.writeBool(flag);
  w_.writeRawThenString(kSeq<key::name>, name);
  writeSpanEntry(stmt);
}

void Encoder::writeDropTableKind(const SqlNode* stmt) { writeDropKind(stmt, packed("DropTable")); }
void Encoder::writeDropIndexKind(const SqlNode* stmt) { writeDropKind(stmt, packed("DropIndex")); }

}  // namespace quorix
