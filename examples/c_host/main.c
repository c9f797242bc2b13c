/*
 * A C host: parses the SQL given on the command line, decodes the document with msgpack-c and
 * prints one line per statement, its variant and where it starts and ends:
 *
 *   $ c_host "SELECT a FROM t; DROP TABLE t"
 *   1: Select 1:1-1:6
 *   2: DropTable 1:18-1:21
 *
 * Exit status: 0 parsed, 1 the SQL was rejected (the message goes to standard error),
 * 2 usage error or a document this program cannot read.
 */
#include <msgpack.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorix_sql_parser.h"

/* The value under `key` in a map, or NULL when obj is not a map or lacks the key. */
static const msgpack_object* map_get(const msgpack_object* obj, const char* key) {
  if (obj == NULL || obj->type != MSGPACK_OBJECT_MAP) {
    return NULL;
  }
  size_t key_len = strlen(key);
  for (uint32_t i = 0; i < obj->via.map.size; ++i) {
    const msgpack_object* k = &obj->via.map.ptr[i].key;
    if (k->type == MSGPACK_OBJECT_STR && k->via.str.size == key_len &&
        memcmp(k->via.str.ptr, key, key_len) == 0) {
      return &obj->via.map.ptr[i].val;
    }
  }
  return NULL;
}

/* Reads span.<end>.line and .column; returns 0 when either is missing or not an integer. */
static int span_point(const msgpack_object* span, const char* end, uint64_t* line,
                      uint64_t* column) {
  const msgpack_object* point = map_get(span, end);
  const msgpack_object* l = map_get(point, "line");
  const msgpack_object* c = map_get(point, "column");
  if (l == NULL || c == NULL || l->type != MSGPACK_OBJECT_POSITIVE_INTEGER ||
      c->type != MSGPACK_OBJECT_POSITIVE_INTEGER) {
    return 0;
  }
  *line = l->via.u64;
  *column = c->via.u64;
  return 1;
}

/* Prints the statements of one document; returns 0, or 2 when the document is not as expected. */
static int print_statements(const uint8_t* data, size_t len) {
  msgpack_unpacked doc;
  msgpack_unpacked_init(&doc);
  size_t offset = 0;
  int rc = 0;
  /* The document is exactly one value: anything left over would mean a misread length. */
  if (msgpack_unpack_next(&doc, (const char*)data, len, &offset) != MSGPACK_UNPACK_SUCCESS ||
      offset != len || doc.data.type != MSGPACK_OBJECT_ARRAY) {
    fprintf(stderr, "c_host: the document is not one MessagePack array\n");
    rc = 2;
  }
  for (uint32_t i = 0; rc == 0 && i < doc.data.via.array.size; ++i) {
    const msgpack_object* statement = &doc.data.via.array.ptr[i];
    const msgpack_object* variant = map_get(map_get(statement, "kind"), "variant");
    const msgpack_object* span = map_get(statement, "span");
    uint64_t start_line = 0, start_col = 0, end_line = 0, end_col = 0;
    if (variant == NULL || variant->type != MSGPACK_OBJECT_STR ||
        !span_point(span, "start", &start_line, &start_col) ||
        !span_point(span, "end", &end_line, &end_col)) {
      fprintf(stderr, "c_host: statement %u has no kind.variant or span\n", i + 1);
      rc = 2;
      break;
    }
    printf("%u: %.*s %llu:%llu-%llu:%llu\n", i + 1, (int)variant->via.str.size,
           variant->via.str.ptr, (unsigned long long)start_line, (unsigned long long)start_col,
           (unsigned long long)end_line, (unsigned long long)end_col);
  }
  msgpack_unpacked_destroy(&doc);
  return rc;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s 'SQL'\n", argv[0]);
    return 2;
  }
  /* 0: the text is NUL-terminated, which argv strings always are. */
  ParseResult result = quorix_parse_sql(argv[1], 0);
  if (result.status != 0) {
    fprintf(stderr, "%s\n", result.error);
    quorix_free_buffer(result.error);
    return 1;
  }
  int rc = print_statements(result.data, (size_t)result.data_len);
  /* Only after decoding: msgpack-c's string objects point into these bytes. */
  quorix_free_buffer(result.data);
  return rc;
}
