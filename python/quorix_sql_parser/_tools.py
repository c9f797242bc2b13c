"""Binding of libquorix_sql_tools: format, normalize, fingerprint, split and tokens."""

from __future__ import annotations

import ctypes
import threading
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple, TypeVar

from ._decode import UNICODE_ERRORS
from ._lib import TOOLS, open_library


class _Text(ctypes.Structure):
    _fields_ = [("status", ctypes.c_uint8), ("data", ctypes.c_void_p), ("count", ctypes.c_int32),
                ("error", ctypes.c_void_p), ("error_len", ctypes.c_int32)]


class _Statement(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint32) for name in
                ("start", "end", "start_line", "start_column", "end_line", "end_column")]


class _Token(ctypes.Structure):
    _fields_ = [("start", ctypes.c_uint32), ("end", ctypes.c_uint32), ("line", ctypes.c_uint32),
                ("column", ctypes.c_uint32), ("kind", ctypes.c_uint8),
                ("token_class", ctypes.c_uint8), ("flags", ctypes.c_uint8),
                ("reserved", ctypes.c_uint8)]


assert ctypes.sizeof(_Text) == 40 and ctypes.sizeof(_Statement) == 24
assert ctypes.sizeof(_Token) == 20

_UNTERMINATED = 1
_T = TypeVar("_T")


class Statement(NamedTuple):
    """One statement of a text. Offsets are bytes of the UTF-8 text, ``end`` one past the
    last; lines and columns are 1-based, columns counting bytes; ``end_line`` and
    ``end_column`` are those of the last byte."""
    text: str
    start: int
    end: int
    start_line: int
    start_column: int
    end_line: int
    end_column: int


class Token(NamedTuple):
    """One token, comments included, placed as a ``Statement`` is. ``kind`` is the scanner's
    kind ("tkSelect", "tkComment"), ``token_class`` one of "keyword", "identifier", "string",
    "number", "operator", "punctuation", "comment" and "invalid"."""
    kind: str
    token_class: str
    text: str
    start: int
    end: int
    line: int
    column: int
    unterminated: bool


class _ErrorPosition(ctypes.Structure):
    _fields_ = [("line", ctypes.c_uint32), ("column", ctypes.c_uint32),
                ("width", ctypes.c_uint32)]


def error_position(text: bytes, message: str) -> Tuple[Optional[int], Optional[int]]:
    """Where an error message places its error in ``text`` (see quorix_sql_error_position):
    the position a parse error carries, or the literal a value error is about."""
    raw = message.encode("utf-8", UNICODE_ERRORS)
    found = _ErrorPosition()
    if not tools_library().quorix_sql_error_position(text, len(text), raw, len(raw),
                                                     ctypes.byref(found)):
        return None, None
    return found.line, found.column


def _bind(cdll: ctypes.CDLL) -> ctypes.CDLL:
    args = [ctypes.c_char_p, ctypes.c_int32]
    for name in ("quorix_sql_normalize", "quorix_sql_fingerprint", "quorix_sql_split",
                 "quorix_sql_tokens"):
        getattr(cdll, name).argtypes = args
        getattr(cdll, name).restype = _Text
    cdll.quorix_sql_format.argtypes = args + [ctypes.c_uint32]
    cdll.quorix_sql_format.restype = _Text
    cdll.quorix_token_kind_name.argtypes = [ctypes.c_uint8]
    cdll.quorix_token_kind_name.restype = ctypes.c_char_p
    cdll.quorix_token_class_name.argtypes = [ctypes.c_uint8]
    cdll.quorix_token_class_name.restype = ctypes.c_char_p
    cdll.quorix_sql_error_position.argtypes = args + [ctypes.c_char_p, ctypes.c_int32,
                                                      ctypes.POINTER(_ErrorPosition)]
    cdll.quorix_sql_error_position.restype = ctypes.c_int32
    cdll.quorix_tools_free.argtypes = [ctypes.c_void_p]
    cdll.quorix_tools_free.restype = None
    return cdll


_lock = threading.Lock()
_loaded: Optional[Tuple[ctypes.CDLL, str]] = None


def tools_library() -> ctypes.CDLL:
    global _loaded
    loaded = _loaded
    if loaded is None:
        with _lock:
            if _loaded is None:
                _loaded = open_library(shared=TOOLS, bind=_bind)
            loaded = _loaded
    return loaded[0]


def call(name: str, text: bytes, *extra: int,
         convert: Callable[[int, int], _T]) -> Tuple[Optional[_T], Optional[str]]:
    """One call of a tool: (convert(block, count), None) or (None, error message). Both blocks
    are released before this returns."""
    lib = tools_library()
    r = getattr(lib, name)(text, len(text), *extra)
    try:
        if r.status == 0:
            return convert(r.data, r.count), None
        message = ctypes.string_at(r.error, r.error_len) if r.error else b""
        return None, message.decode("utf-8", UNICODE_ERRORS)
    finally:
        lib.quorix_tools_free(r.data)
        lib.quorix_tools_free(r.error)


def text_of(block: int, count: int) -> str:
    return ctypes.string_at(block, count).decode("utf-8", UNICODE_ERRORS)


def fingerprints_of(block: int, count: int) -> List[str]:
    values = (ctypes.c_uint64 * count).from_address(block) if count else []
    return [f"{v:016x}" for v in values]


def statements_of(text: bytes) -> Callable[[int, int], List[Statement]]:
    def convert(block: int, count: int) -> List[Statement]:
        records = (_Statement * count).from_address(block) if count else []
        return [Statement(text[s.start:s.end].decode("utf-8", UNICODE_ERRORS), s.start, s.end,
                          s.start_line, s.start_column, s.end_line, s.end_column)
                for s in records]
    return convert


def tokens_of(text: bytes) -> Callable[[int, int], List[Token]]:
    def convert(block: int, count: int) -> List[Token]:
        lib = tools_library()
        kinds: Dict[int, str] = {}
        classes: Dict[int, str] = {}
        out: List[Token] = []
        for t in ((_Token * count).from_address(block) if count else []):
            kind = kinds.get(t.kind)
            if kind is None:
                kind = kinds[t.kind] = lib.quorix_token_kind_name(t.kind).decode("ascii")
            cls = classes.get(t.token_class)
            if cls is None:
                cls = classes[t.token_class] = lib.quorix_token_class_name(
                    t.token_class).decode("ascii")
            out.append(Token(kind, cls, text[t.start:t.end].decode("utf-8", UNICODE_ERRORS),
                             t.start, t.end, t.line, t.column,
                             bool(t.flags & _UNTERMINATED)))
        return out
    return convert
