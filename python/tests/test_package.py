"""The Python package against the real library: documents, errors, discovery, freeing.

Run against the source tree with PYTHONPATH=python and QUORIX_SQL_PARSER_LIB naming the built
library (ctest python.test_package), or against an installed package with neither
(scripts/python_install_test.sh, ctest python.install_package).
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import types
import typing
import unittest
from pathlib import Path

import msgpack

import quorix_sql_parser as q
from quorix_sql_parser import _decode, _lib

GOLDEN_DIR = Path(__file__).resolve().parents[2] / "tests" / "golden"


def span(l1, c1, l2, c2):
    return {"start": {"line": l1, "column": c1}, "end": {"line": l2, "column": c2}}


def under_asan():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


class Documents(unittest.TestCase):
    def test_select_one(self):
        [stmt] = q.parse("SELECT 1")
        self.assertEqual(list(stmt), ["kind", "span"])
        self.assertEqual(stmt["span"], span(1, 1, 1, 6))
        kind = stmt["kind"]
        self.assertEqual(kind["variant"], "Select")
        self.assertEqual(kind["projection"][0]["expr"]["kind"],
                         {"variant": "Literal", "literal": {"variant": "Number", "value": "1"}})
        self.assertIsNone(kind["group_by"])
        self.assertEqual(kind["from"], [])

    def test_several_statements_in_order(self):
        doc = q.parse("INSERT INTO t (a) VALUES (1); UPDATE t SET a = 2;; DELETE FROM t\n"
                      "DROP TABLE IF EXISTS t; CREATE INDEX i ON t (v) USING hnsw")
        self.assertEqual([s["kind"]["variant"] for s in doc],
                         ["Insert", "Update", "Delete", "DropTable", "CreateIndex"])
        self.assertEqual(doc[0]["kind"]["columns"], ["a"])
        self.assertEqual(doc[3]["kind"]["if_exists"], True)
        self.assertEqual(doc[4]["kind"]["method"], "Hnsw")
        self.assertEqual(doc[4]["kind"]["options"], [])
        self.assertEqual(doc[3]["span"]["start"], {"line": 2, "column": 1})

    def test_vector_values_are_floats_and_strings_are_str(self):
        [stmt] = q.parse("SELECT [1, -2.5], 'héllo'")
        items = stmt["kind"]["projection"]
        self.assertEqual(items[0]["expr"]["kind"], {"variant": "VectorLiteral", "values": [1.0, -2.5]})
        self.assertIsInstance(items[0]["expr"]["kind"]["values"][0], float)
        self.assertEqual(items[1]["expr"]["kind"]["literal"]["value"], "héllo")

    def test_create_table_types(self):
        [stmt] = q.parse("CREATE TABLE t (id INT PRIMARY KEY, v VECTOR(128, cosine))")
        cols = stmt["kind"]["columns"]
        self.assertEqual(cols[0]["constraints"][0]["variant"], "PrimaryKey")
        self.assertEqual(cols[1]["data_type"],
                         {"variant": "Vector", "dimension": 128, "metric": "Cosine"})

    def test_empty_texts(self):
        for sql in ("", "   ", ";;", "-- only a comment", b""):
            self.assertEqual(q.parse(sql), [])

    def test_bytes_and_str_agree(self):
        sql = "SELECT naive FROM t WHERE x = 'ü'"
        self.assertEqual(q.parse(sql), q.parse(sql.encode("utf-8")))
        self.assertEqual(q.parse(bytearray(b"SELECT 1")), q.parse("SELECT 1"))

    def test_columns_count_bytes(self):
        # 'é' is two bytes, so b stands at byte column 14, not character column 13.
        [stmt] = q.parse("SELECT 'é', b")
        self.assertEqual(stmt["kind"]["projection"][1]["span"], span(1, 14, 1, 14))

    def test_wrong_type(self):
        with self.assertRaises(TypeError):
            q.parse(42)

    def test_version(self):
        self.assertEqual(q.version(), "0.1.0")


class Errors(unittest.TestCase):
    def test_syntax_error_position_on_a_later_line(self):
        sql = "SELECT a\nFROM t;\n\nSELECT b FROM WHERE"
        with self.assertRaises(q.SqlSyntaxError) as cm:
            q.parse(sql)
        e = cm.exception
        self.assertEqual((e.line, e.column), (4, 15))
        self.assertTrue(e.message.startswith("Parse error at line 4, col 15: "), e.message)
        self.assertEqual(str(e), e.message)
        self.assertIsInstance(e, q.SqlParserError)
        self.assertNotIsInstance(e, ValueError)

    def test_no_partial_document(self):
        with self.assertRaises(q.SqlSyntaxError) as cm:
            q.parse("SELECT 1; SELEC 2")
        self.assertEqual((cm.exception.line, cm.exception.column), (1, 11))

    def test_value_error_is_placed_at_its_literal(self):
        big = "99999999999999999999"
        # Look-alikes before the culprit: in a string, a name, comments, a vector (read as
        # floats), and 22 digits that still fit.
        decoys = (f"SELECT '{big}', x{big}, 00000000000000000000001, -- {big}\n"
                  f" /* {big} */ [{big}], {big}")
        cases = [("SELECT 9223372036854775808", (1, 8)),
                 ("SELECT -9223372036854775808", (1, 9)),  # the digits, not the sign
                 ("SELECT 1;\nSELECT a FROM t WHERE b = 10000000000000000000", (2, 27)),
                 ("SELECT 'é', 18446744073709551616", (1, 14)),  # columns count bytes
                 (decoys, (2, 53))]
        for sql, position in cases:
            for function in (q.parse, q.normalize, q.fingerprint, q.format):
                with self.subTest(sql=sql, function=function.__name__):
                    with self.assertRaises(q.SqlValueError) as cm:
                        function(sql)
                    e = cm.exception
                    self.assertIsInstance(e, ValueError)
                    self.assertNotIsInstance(e, q.SqlSyntaxError)
                    self.assertEqual(e.message, "Parsed integer outside of valid range")
                    self.assertEqual(str(e), e.message)
                    self.assertEqual((e.line, e.column), position)
        # Messages that name their literal; and a literal that is not in the text at all.
        for message, text, position in [
                ("invalid float: 1.5", b"SELECT '1.5', 1.50, 1.5", (1, 21)),
                ("invalid integer: 12", b"SELECT 12.0,\n 12", (2, 2)),
                ("invalid integer: 12", b"SELECT 1", (None, None)),
                ("Parsed integer outside of valid range", b"SELECT 1", (None, None))]:
            e = q._error_for(message, text)
            self.assertIs(type(e), q.SqlValueError)
            self.assertEqual((e.message, e.line, e.column), (message, *position))

    def test_nul_is_refused_before_the_call(self):
        with self.assertRaises(q.SqlValueError) as cm:
            q.parse(b"SELECT 1\x00 garbage")
        self.assertIn("offset 8", cm.exception.message)

    def test_internal_defect(self):
        with self.assertRaises(q.SqlInternalError) as cm:
            q.parse("CREATE TABLE t (v VECTOR(3, 5))")
        self.assertNotIsInstance(cm.exception, (q.SqlSyntaxError, ValueError))
        self.assertIsNone(cm.exception.line)

    def test_classification_of_messages(self):
        cases = {
            "Parse error at line 12, col 3: x": (q.SqlSyntaxError, 12, 3),
            "unsupported statement node for MessagePack: nkIdentifier": (q.SqlSyntaxError, None, None),
            "invalid float: 1e999": (q.SqlValueError, None, None),
            "invalid integer: 12x": (q.SqlValueError, None, None),
            "internal parser defect (this is a parser bug, not invalid SQL): index 8 not in 0 .. 7":
                (q.SqlInternalError, None, None),
        }
        for message, (cls, line, column) in cases.items():
            e = q._error_for(message)
            self.assertIs(type(e), cls, message)
            self.assertEqual((e.line, e.column, e.message), (line, column, message))


def same(a, b):
    """Equal and of the same types all the way down (True == 1 and 1 == 1.0 do not count), keys
    in the same order, NaN equal to NaN; without recursion, for documents of any depth."""
    pending = [(a, b)]
    while pending:
        x, y = pending.pop()
        if type(x) is not type(y):
            return False
        if isinstance(x, dict):
            if list(x) != list(y):
                return False
            pending.extend(zip(x.values(), y.values()))
        elif isinstance(x, list):
            if len(x) != len(y):
                return False
            pending.extend(zip(x, y))
        elif isinstance(x, float):
            if struct.pack(">d", x) != struct.pack(">d", y):
                return False
        elif x != y:
            return False
    return True


def every_form():
    """One value holding every form the library writes, at both ends of each width."""
    ints = [0, 127, 128, 255, 256, 65535, 65536, 2**32 - 1, 2**32, 2**64 - 1,
            -1, -32, -33, -128, -129, -32768, -32769, -2**31, -2**31 - 1, -2**63]
    floats = [0.0, -0.0, 2.5, 1e300, float("inf"), float("-inf"), float("nan")]
    texts = ["", "é€😀", "\udcff\udcc3"] + [c * n for c, n in
                                           zip("abcdefg", (31, 32, 255, 256, 65535, 65536, 70000))]
    arrays = [[i] * n for i, n in enumerate((0, 15, 16, 65535, 65536))]
    maps = [{f"k{i}": i for i in range(n)} for n in (0, 15, 16, 65535, 65536)]
    return {"scalars": [None, False, True] + ints + floats + texts, "arrays": arrays, "maps": maps}


def pack(value):
    return msgpack.packb(value, unicode_errors="surrogateescape")


class Decoding(unittest.TestCase):
    """The package's own decoder, for documents deeper than msgpack's 1024 levels, must build
    exactly what msgpack builds, and fail only with the package's own errors."""

    def test_builds_what_msgpack_builds(self):
        documents = [pack(every_form()),
                     # Non-negative values in signed forms, which msgpack also reads as ints.
                     bytes.fromhex("92d005d30000000000000005")]
        for sql_path in sorted(GOLDEN_DIR.glob("*.sql")):
            document, error = _lib.call_parse(sql_path.read_bytes())
            if document is not None:
                documents.append(document)
        self.assertGreater(len(documents), 10)
        for document in documents:
            fast = msgpack.unpackb(document, raw=False, unicode_errors="surrogateescape")
            self.assertTrue(same(_decode.decode_deep(document), fast), document[:60])
        # Too deep for msgpack, so decode() takes the fallback: the same value, 1,500 arrays
        # or maps down.
        inner = pack(every_form())
        for wrapper, step in ((b"\x91", lambda v: v[0]), (b"\x81\xa1k", lambda v: v["k"])):
            value = _decode.decode(wrapper * 1500 + inner)
            for _ in range(1500):
                value = step(value)
            self.assertTrue(same(value, every_form()))

    def test_rejects_what_the_library_never_writes(self):
        deep = b"\x91" * 2000
        cases = {
            "unused type byte": b"\xc1",
            "bin": b"\xc4\x01x",
            "ext": b"\xc7\x01\x01x",
            "fixext": b"\xd4\x01\x00",
            "float32": b"\xca\x00\x00\x00\x00",
            "integer key": b"\x81\x01\x02",
            "array key": b"\x81\x90\x02",
            "truncated array": b"\x92\x01",
            "truncated string": b"\xa3ab",
            "truncated str8": b"\xd9\x05abc",
            "truncated count": b"\xdc\x00",
            "truncated integer": b"\xcd\x01",
            "truncated float": b"\xcb\x00\x00",
            "trailing bytes": b"\x91\x01\x02",
            "empty": b"",
        }
        for name, body in cases.items():
            with self.subTest(name):
                with self.assertRaises(_decode.DocumentError):
                    _decode.decode_deep(body)
                with self.assertRaises(_decode.DocumentError):
                    _decode.decode(deep + body)  # msgpack gives up on the depth first
        # Cut anywhere, a deep document is an error, never a wrong value or another exception.
        document, _ = _lib.call_parse(b"SELECT " + b" OR ".join([b"a"] * 600) + b" FROM t")
        for cut in range(0, len(document), 997):
            with self.assertRaises(_decode.DocumentError):
                _decode.decode(document[:cut])

    def test_parse_reports_an_undecodable_document_as_an_internal_error(self):
        original = q.call_parse
        self.addCleanup(setattr, q, "call_parse", original)
        for document in (b"\xc1", b"\x91" * 2000 + b"\xc1", b"\x92\xc0"):
            q.call_parse = lambda text, d=document: (d, None)
            with self.assertRaises(q.SqlInternalError) as cm:
                q.parse("SELECT 1")
            self.assertIn("cannot be decoded", cm.exception.message)

    def test_million_term_chain(self):
        terms = 1_000_000
        [stmt] = q.parse("SELECT " + " OR ".join(["a"] * terms))
        # Down the left side: a BinaryOp per OR, each an expression map and a kind map deep.
        expr = stmt["kind"]["projection"][0]["expr"]
        top = expr
        ors = 0
        while expr["kind"]["variant"] == "BinaryOp":
            self.assertEqual(expr["kind"]["op"], "Or")
            ors += 1
            expr = expr["kind"]["left"]
        self.assertEqual(ors, terms - 1)
        # The array, the statement, Select, projection, the item, then two levels per OR and
        # the innermost expression's span and location maps.
        self.assertEqual(6 + 2 * ors + 2, 2 * terms + 6)
        self.assertEqual(expr, {"kind": {"variant": "ColumnRef", "table": None, "column": "a"},
                                "span": span(1, 8, 1, 8)})
        last = 8 + 5 * (terms - 1)
        self.assertEqual(top["kind"]["right"]["span"], span(1, last, 1, last))
        self.assertEqual(top["span"], span(1, 1, 1, 6))


class NonUtf8Bytes(unittest.TestCase):
    """A byte that starts no token is a one-byte name, and a lone byte is not UTF-8: such names
    come back as lone surrogates ("surrogateescape") that encode back to the same bytes."""

    def test_names_and_strings_keep_their_bytes(self):
        def projection(sql):
            return [(i["expr"]["kind"], i["alias"]) for i in q.parse(sql)[0]["kind"]["projection"]]

        cases = [
            # é in UTF-8 is C3 A9: the name C3 with the alias A9.
            ("SELECT é FROM t", [("\udcc3", "\udca9")], [(b"\xc3", b"\xa9")]),
            (b"SELECT \xe9 FROM t", [("\udce9", None)], [(b"\xe9", None)]),
            (b"SELECT \xff\xfe", [("\udcff", "\udcfe")], [(b"\xff", b"\xfe")]),
        ]
        for sql, names, raw in cases:
            with self.subTest(sql=sql):
                got = [(k["column"], alias) for k, alias in projection(sql)]
                self.assertEqual(got, names)
                self.assertEqual([tuple(None if s is None else s.encode("utf-8", "surrogateescape")
                                        for s in pair) for pair in got], raw)
                # A name read from a document goes back into SQL as the same bytes.
                again = projection("SELECT " + " ".join(s for s in names[0] if s))
                self.assertEqual([(k["column"], alias) for k, alias in again], names)
        [(literal, _)] = projection(b"SELECT 'caf\xe9 \xc3\xa9'")
        self.assertEqual(literal["literal"]["value"], "caf\udce9 é")

    def test_error_messages_keep_their_bytes(self):
        with self.assertRaises(q.SqlSyntaxError) as cm:
            q.parse("SELECT 1 é")  # 1 takes C3 as its alias; A9 starts no statement
        e = cm.exception
        self.assertEqual((e.line, e.column), (1, 11))
        self.assertTrue(e.message.encode("utf-8", "surrogateescape").endswith(b"'\xa9')"),
                        e.message)

    def test_text_that_has_no_utf8_form(self):
        with self.assertRaises(q.SqlValueError) as cm:
            q.parse("SELECT '\ud800'")
        self.assertIn("index 8", cm.exception.message)


class Tools(unittest.TestCase):
    def test_tokens_and_split_read_any_text(self):
        toks = q.tokens("SELECT é -- note\n'open")
        self.assertEqual([(t.kind, t.token_class, t.text, t.start, t.line, t.column)
                          for t in toks],
                         [("tkSelect", "keyword", "SELECT", 0, 1, 1),
                          ("tkIdent", "invalid", "\udcc3", 7, 1, 8),
                          ("tkIdent", "invalid", "\udca9", 8, 1, 9),
                          ("tkComment", "comment", "-- note", 10, 1, 11),
                          ("tkString", "string", "'open", 18, 2, 1)])
        self.assertEqual([t.unterminated for t in toks], [False] * 4 + [True])
        self.assertEqual(q.split("SELECT 1 SELECT (\n2; DROP VIEW v"),
                         [q.Statement("SELECT 1", 0, 8, 1, 1, 1, 8),
                          q.Statement("SELECT (\n2", 9, 19, 1, 10, 2, 1),
                          q.Statement("DROP VIEW v", 21, 32, 2, 4, 2, 14)])
        with self.assertRaises(AttributeError):
            toks[0].kind = "tkFrom"  # records are immutable

    def test_tools_that_need_a_parse(self):
        self.assertEqual(q.normalize("SELECT a FROM t WHERE b = 'x' AND c = 2"),
                         "SELECT a FROM t WHERE b = $1 AND c = $2")
        a, b, c = q.fingerprint("SELECT a FROM t WHERE b IN (1, 2); select a FROM t "
                                "where b in (7); SELECT a FROM u WHERE b IN (1)")
        self.assertEqual(a, b)
        self.assertNotEqual(a, c)
        self.assertRegex(a, "^[0-9a-f]{16}$")
        text = q.format("select a  from t where b=1", pretty=False)
        self.assertEqual(q.format(text), text)
        for tool in (q.format, q.normalize, q.fingerprint):
            with self.assertRaises(q.SqlSyntaxError) as e:
                tool("DROP VIEW v")
            self.assertEqual((e.exception.line, e.exception.column), (1, 6))


class Typing(unittest.TestCase):
    def test_public_api_is_annotated_and_marked_typed(self):
        # Without the marker a type checker ignores the annotations of an installed package.
        self.assertTrue((Path(q.__file__).parent / "py.typed").is_file())
        functions = [getattr(q, name) for name in q.__all__
                     if isinstance(getattr(q, name), types.FunctionType)]
        self.assertGreaterEqual(len(functions), 8)
        for function in functions:
            hints = typing.get_type_hints(function)  # also fails on a name it cannot resolve
            code = function.__code__
            parameters = code.co_varnames[:code.co_argcount + code.co_kwonlyargcount]
            self.assertEqual(set(hints), set(parameters) | {"return"}, function.__name__)
        for record in (q.Statement, q.Token):
            self.assertEqual(tuple(typing.get_type_hints(record)), record._fields)


class Discovery(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.tmp)
        self.pkg = self.tmp / "checkout" / "python" / "quorix_sql_parser"
        self.pkg.mkdir(parents=True)
        self.checkout = self.tmp / "checkout"

    def touch(self, rel, cache=None):
        p = self.checkout / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(b"")
        if cache is not None:
            (p.parent / "CMakeCache.txt").write_text(f"X:BOOL=ON\nQUORIX_SANITIZE:STRING={cache}\n")
        return str(p)

    def order(self, environ):
        return list(_lib.candidates(environ, self.pkg, self.checkout))

    def test_env_var_wins_alone(self):
        self.touch("python/quorix_sql_parser/libquorix_sql_parser.so.0")
        self.touch("build/libquorix_sql_parser.so")
        self.assertEqual(self.order({q.ENV_VAR: "/x/lib.so"}), [(q.ENV_VAR, "/x/lib.so")])

    def test_package_then_build_then_other_builds_then_system(self):
        in_pkg = self.touch("python/quorix_sql_parser/libquorix_sql_parser.so.0.1.0")
        build = self.touch("build/libquorix_sql_parser.so", cache="")
        other = self.touch("build-b/libquorix_sql_parser.so")
        self.touch("build-asan/libquorix_sql_parser.so", cache="address,undefined")
        self.touch("notbuild/libquorix_sql_parser.so")
        got = self.order({})
        self.assertEqual(got[:3], [("package", in_pkg), ("checkout", build), ("checkout", other)])
        self.assertTrue(all(origin == "system" for origin, _ in got[3:]))
        self.assertEqual(got[-1], ("system", "libquorix_sql_parser.so.0"))

    def test_empty_env_var_is_unset(self):
        self.assertNotEqual(self.order({q.ENV_VAR: ""})[0][0], q.ENV_VAR)

    def test_real_library_found_next_to_package(self):
        real = q.library_path()
        link = self.pkg / "libquorix_sql_parser.so"
        link.symlink_to(os.path.abspath(real))
        cdll, path = _lib.open_library({}, self.pkg, self.checkout)
        self.assertEqual(path, str(link))
        self.assertEqual(cdll.quorix_parser_version(), b"0.1.0")

    def test_bogus_env_path_is_a_clear_error(self):
        with self.assertRaises(q.LibraryNotFoundError) as cm:
            _lib.open_library({q.ENV_VAR: str(self.tmp / "nope.so")}, self.pkg, self.checkout)
        self.assertIn(q.ENV_VAR, str(cm.exception))
        self.assertIn("nope.so", str(cm.exception))
        self.assertIsInstance(cm.exception, OSError)

    def test_env_path_that_is_not_a_library(self):
        junk = self.tmp / "junk.so"
        junk.write_bytes(b"not an ELF file")
        with self.assertRaises(q.LibraryNotFoundError) as cm:
            _lib.open_library({q.ENV_VAR: str(junk)}, self.pkg, self.checkout)
        self.assertIn("could not be loaded", str(cm.exception))

    def test_bogus_env_in_a_fresh_process(self):
        # Import must work; the failure comes with the first call that needs the library.
        env = dict(os.environ, QUORIX_SQL_PARSER_LIB="/nonexistent/libquorix_sql_parser.so")
        code = ("import quorix_sql_parser as q\n"
                "try:\n    q.parse('SELECT 1')\n"
                "except q.LibraryNotFoundError as e:\n    print('ERR', e)\n")
        out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                             text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("ERR QUORIX_SQL_PARSER_LIB is set to '/nonexistent/", out.stdout)


class Resources(unittest.TestCase):
    @staticmethod
    def rss_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    @unittest.skipIf(under_asan(), "the sanitizer's quarantine keeps freed blocks resident")
    @unittest.skipUnless(os.path.exists("/proc/self/statm"), "needs /proc")
    def test_ten_thousand_parses_do_not_grow(self):
        ok = "SELECT a, b, count(*) FROM t WHERE c IN (1, 2, 3) GROUP BY a, b"
        bad = "SELECT a FROM WHERE " + "x" * 2000
        big = "SELECT " + ", ".join(f"'{'v' * 300}{i}'" for i in range(50))
        for _ in range(500):  # let the allocators reach their working size first
            q.parse(ok), q.parse(big)
        before = self.rss_bytes()
        for i in range(10_000):
            q.parse(big if i % 2 else ok)
            with self.assertRaises(q.SqlSyntaxError):
                q.parse(bad)
        grown = self.rss_bytes() - before
        # Leaking either block would cost well over 100 MB here.
        self.assertLess(grown, 8 << 20, f"RSS grew by {grown} bytes")

    def test_threads_share_the_library(self):
        sqls = [f"SELECT {i}, c{i} FROM t{i} WHERE x = {i}" for i in range(8)]
        expected = [q.parse(s) for s in sqls]
        failures = []

        def work(k):
            try:
                for _ in range(300):
                    if q.parse(sqls[k]) != expected[k]:
                        failures.append(k)
                        return
            except Exception as e:  # reported below, not lost in the thread
                failures.append(repr(e))

        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])


if __name__ == "__main__":
    unittest.main()
