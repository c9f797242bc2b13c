"""The library as a host process sees it: loaded with ctypes, the 40-byte result taken by
value, the document decoded with msgpack, every block handed back through quorix_free_buffer.

Needs QUORIX_SQL_PARSER_LIB, the path of the built shared object.
"""

import ctypes
import os
import unittest

import msgpack


class ParseResult(ctypes.Structure):
    _fields_ = [
        ("status", ctypes.c_uint8),
        ("data", ctypes.POINTER(ctypes.c_uint8)),
        ("data_len", ctypes.c_int32),
        ("error", ctypes.POINTER(ctypes.c_char)),
        ("error_len", ctypes.c_int32),
    ]


def load():
    path = os.environ.get("QUORIX_SQL_PARSER_LIB")
    if not path:
        raise RuntimeError("QUORIX_SQL_PARSER_LIB is not set")
    lib = ctypes.CDLL(path)
    lib.quorix_parse_sql.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    lib.quorix_parse_sql.restype = ParseResult
    lib.quorix_free_buffer.argtypes = [ctypes.c_void_p]
    lib.quorix_free_buffer.restype = None
    lib.quorix_parser_version.argtypes = []
    lib.quorix_parser_version.restype = ctypes.c_char_p
    lib.quorix_parser_init.argtypes = []
    lib.quorix_parser_init.restype = None
    return lib


LIB = load()


class Outcome:
    def __init__(self, status, data, error, error_terminator, raw):
        self.status = status
        self.data = data
        self.error = error
        self.error_terminator = error_terminator
        self.raw = raw


def call(sql, length=0):
    """One parse; copies what the result holds and releases both blocks."""
    r = LIB.quorix_parse_sql(sql, length)
    raw = bytes(ctypes.string_at(ctypes.addressof(r), ctypes.sizeof(r)))
    data = error = terminator = None
    try:
        if r.data:
            data = ctypes.string_at(r.data, r.data_len)
        if r.error:
            # error_len bytes of message, then the NUL that makes it a C string.
            block = ctypes.string_at(r.error, r.error_len + 1)
            error, terminator = block[:-1].decode("utf-8"), block[-1:]
    finally:
        LIB.quorix_free_buffer(ctypes.cast(r.data, ctypes.c_void_p))
        LIB.quorix_free_buffer(ctypes.cast(r.error, ctypes.c_void_p))
    return Outcome(r.status, data, error, terminator, raw)


def document(sql, length=0):
    o = call(sql, length)
    if o.status != 0:
        raise AssertionError("parse failed: %s" % o.error)
    return msgpack.unpackb(o.data, raw=False)


def span(line1, col1, line2, col2):
    return {"start": {"line": line1, "column": col1}, "end": {"line": line2, "column": col2}}


ALL_KINDS = b"""SELECT a, [0.5, -1, 2] AS v FROM t WHERE a > 1;
INSERT INTO t (a, v) VALUES (1, [1, 2.5]), (2, [3]);
UPDATE t SET a = a + 1 WHERE a < 10;
DELETE FROM t WHERE a IS NULL;
CREATE TABLE IF NOT EXISTS t (a INT NOT NULL, v VECTOR(3, l2)) WITH (m = 16);
CREATE INDEX i ON t (v) USING hnsw WITH (ef = 64);
DROP TABLE IF EXISTS t;
DROP INDEX i
"""


class Abi(unittest.TestCase):
    def test_record_layout(self):
        self.assertEqual(ctypes.sizeof(ParseResult), 40)
        offsets = [getattr(ParseResult, f).offset for f, _ in ParseResult._fields_]
        self.assertEqual(offsets, [0, 8, 16, 24, 32])

    def test_padding_is_zero(self):
        for sql in (b"SELECT 1", b"SELECT"):
            raw = call(sql).raw
            self.assertEqual(raw[1:8], b"\0" * 7)
            self.assertEqual(raw[20:24], b"\0" * 4)
            self.assertEqual(raw[36:40], b"\0" * 4)

    def test_version_and_init(self):
        LIB.quorix_parser_init()
        LIB.quorix_parser_init()
        self.assertEqual(LIB.quorix_parser_version(), b"0.1.0")

    def test_free_accepts_null(self):
        LIB.quorix_free_buffer(None)


class Documents(unittest.TestCase):
    def test_empty_text_is_the_empty_array(self):
        for sql in (b"", b"  \n", b";;;", b"-- nothing"):
            o = call(sql)
            self.assertEqual((o.status, o.data, o.error), (0, b"\x90", None))

    def test_every_statement_kind(self):
        doc = document(ALL_KINDS)
        self.assertIsInstance(doc, list)
        self.assertEqual(
            [s["kind"]["variant"] for s in doc],
            ["Select", "Insert", "Update", "Delete", "CreateTable", "CreateIndex", "DropTable",
             "DropIndex"],
        )
        for s in doc:
            self.assertEqual(list(s.keys()), ["kind", "span"])
        self.assertEqual([s["span"]["start"]["line"] for s in doc], list(range(1, 9)))

        select = doc[0]["kind"]
        self.assertEqual(
            list(select.keys()),
            ["variant", "distinct", "projection", "from", "selection", "group_by", "having",
             "order_by", "limit", "offset"],
        )
        self.assertEqual(doc[0]["span"], span(1, 1, 1, 6))
        self.assertIs(select["distinct"], False)
        self.assertIsNone(select["group_by"])
        self.assertEqual(select["order_by"], [])
        self.assertEqual(len(select["projection"]), 2)
        item = select["projection"][0]
        self.assertEqual(list(item.keys()), ["variant", "expr", "alias", "span"])
        self.assertEqual(
            item["expr"]["kind"], {"variant": "ColumnRef", "table": None, "column": "a"})
        self.assertEqual(item["expr"]["span"], span(1, 8, 1, 8))
        self.assertEqual(select["projection"][1]["alias"], "v")
        self.assertEqual(select["projection"][1]["span"], span(1, 27, 1, 27))
        self.assertEqual(
            select["from"], [{"variant": "Table", "name": "t", "alias": None,
                              "span": span(1, 34, 1, 34)}])
        where = select["selection"]
        self.assertEqual(list(where["kind"].keys()), ["variant", "left", "op", "right"])
        self.assertEqual(where["kind"]["op"], "Gt")
        self.assertEqual(where["kind"]["right"]["kind"]["literal"],
                         {"variant": "Number", "value": "1"})
        self.assertEqual(where["span"], span(1, 1, 1, 6))

        insert = doc[1]["kind"]
        self.assertEqual(list(insert.keys()), ["variant", "table", "columns", "values", "span"])
        self.assertEqual(insert["columns"], ["a", "v"])
        self.assertEqual([len(row) for row in insert["values"]], [2, 2])
        self.assertEqual(insert["span"], doc[1]["span"])

        update = doc[2]["kind"]
        self.assertEqual(list(update.keys()),
                         ["variant", "table", "assignments", "selection", "span"])
        self.assertEqual(len(update["assignments"]), 1)
        assignment = update["assignments"][0]
        self.assertEqual(list(assignment.keys()), ["column", "value", "span"])
        self.assertEqual(assignment["column"], "a")
        self.assertEqual(assignment["span"], span(3, 1, 3, 6))
        self.assertEqual(update["selection"]["kind"]["op"], "Lt")

        delete = doc[3]["kind"]
        self.assertEqual(list(delete.keys()), ["variant", "table", "selection", "span"])
        self.assertEqual(delete["selection"]["kind"]["variant"], "IsNull")
        self.assertIs(delete["selection"]["kind"]["negated"], False)

        create = doc[4]["kind"]
        self.assertEqual(
            list(create.keys()),
            ["variant", "if_not_exists", "name", "columns", "constraints", "with_options",
             "span"],
        )
        self.assertIs(create["if_not_exists"], True)
        self.assertEqual([c["name"] for c in create["columns"]], ["a", "v"])
        self.assertEqual(create["columns"][0]["constraints"],
                         [{"variant": "NotNull", "span": span(5, 31, 5, 31)}])
        self.assertEqual(create["columns"][1]["data_type"],
                         {"variant": "Vector", "dimension": 3, "metric": "L2"})
        self.assertEqual(create["constraints"], [])
        self.assertEqual(create["with_options"],
                         [{"key": "m", "value": "16", "span": span(5, 70, 5, 70)}])

        index = doc[5]["kind"]
        self.assertEqual(
            list(index.keys()),
            ["variant", "if_not_exists", "name", "table", "column", "method", "options", "span"],
        )
        self.assertEqual((index["name"], index["table"], index["column"], index["method"]),
                         ("i", "t", "v", "Hnsw"))
        self.assertEqual(index["options"], [{"key": "ef", "value": "64",
                                             "span": span(6, 42, 6, 43)}])

        self.assertEqual(doc[6]["kind"], {"variant": "DropTable", "if_exists": True, "name": "t",
                                          "span": span(7, 1, 7, 4)})
        self.assertEqual(doc[7]["kind"], {"variant": "DropIndex", "if_exists": False,
                                          "name": "i", "span": span(8, 1, 8, 4)})

    def test_vector_values_are_floats(self):
        doc = document(ALL_KINDS)
        vec = doc[0]["kind"]["projection"][1]["expr"]["kind"]
        self.assertEqual(vec["variant"], "VectorLiteral")
        self.assertEqual(vec["values"], [0.5, -1.0, 2.0])
        self.assertTrue(all(type(v) is float for v in vec["values"]))
        rows = doc[1]["kind"]["values"]
        inserted = [row[1]["kind"]["values"] for row in rows]
        self.assertEqual(inserted, [[1.0, 2.5], [3.0]])
        self.assertTrue(all(type(v) is float for vs in inserted for v in vs))

    def test_len_limits_the_text(self):
        doc = document(b"SELECT 1; garbage", 8)
        self.assertEqual(len(doc), 1)
        self.assertEqual(doc[0]["kind"]["projection"][0]["expr"]["kind"]["literal"]["value"], "1")
        # Negative and zero lengths both read up to the NUL.
        self.assertEqual(document(b"SELECT 1; SELECT 2", -5), document(b"SELECT 1; SELECT 2", 0))

    def test_len_past_the_terminator_is_an_error(self):
        prefix = "internal parser defect (this is a parser bug, not invalid SQL): "
        cases = [
            (b"SELECT 1", 20, "index 8 not in 0 .. 7"),
            (b"SELECT 1\0 2", 11, "index 8 not in 0 .. 7"),
            (None, 3, "index out of bounds, the container is empty"),
        ]
        for sql, length, message in cases:
            with self.subTest(sql=sql, length=length):
                o = call(sql, length)
                self.assertEqual((o.status, o.data, o.error), (1, None, prefix + message))
        self.assertEqual(call(None, 0).data, b"\x90")


class Errors(unittest.TestCase):
    def test_error_result(self):
        o = call(b"SELECT 1;\nDROP VIEW v")
        self.assertEqual(o.status, 1)
        self.assertIsNone(o.data)
        self.assertEqual(
            o.error,
            "Parse error at line 2, col 6: expected TABLE or INDEX after DROP (got tkIdent 'VIEW')")
        self.assertEqual(o.error_terminator, b"\0")
        self.assertEqual(o.raw[16:20], b"\0" * 4)  # data_len
        self.assertEqual(int.from_bytes(o.raw[32:36], "little"), len(o.error.encode()))

    def test_conversion_error_has_no_position(self):
        o = call(b"SELECT 99999999999999999999")
        self.assertEqual((o.status, o.error), (1, "Parsed integer outside of valid range"))
        self.assertEqual(o.error_terminator, b"\0")


if __name__ == "__main__":
    unittest.main()
