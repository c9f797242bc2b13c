"""SQL text in, a list of statement documents out.

    >>> import quorix_sql_parser as q
    >>> q.parse("SELECT 1")[0]["kind"]["variant"]
    'Select'

Exceptions (all carry ``message``, ``line`` and ``column``; a value error's position is that
of the literal it names, found in the text; the position is None when neither the message nor
the text gives one):

    SqlParserError            anything the library reported instead of a document
    ├── SqlSyntaxError        the text is not valid SQL ("Parse error at line L, col C: ...")
    ├── SqlValueError         also a ValueError: a numeric literal out of range or malformed,
    │                         or a text the library cannot take (a NUL byte, over 2 GiB,
    │                         a surrogate that has no UTF-8 form)
    └── SqlInternalError      a defect of the library, not of the SQL
    LibraryNotFoundError      an OSError: the shared library could not be found or loaded

Strings in documents and messages are decoded as UTF-8 with the "surrogateescape" error
handler: a name that is not valid UTF-8 on its own (the scanner makes a one-byte name of every
byte no token starts with) keeps its bytes as lone surrogates, and ``s.encode("utf-8",
"surrogateescape")`` gives them back. Documents of any depth are decoded.

The document's layout is described in docs/FORMAT.md of the source tree.
"""

from __future__ import annotations

import re
from typing import Any, Callable, Dict, List, Optional, Tuple, TypeVar, Union, cast

from ._decode import UNICODE_ERRORS, DocumentError, decode
from ._lib import ENV_VAR, LibraryNotFoundError, call_parse, library, library_path
from . import _tools
from ._tools import Statement, Token

__all__ = [
    "parse",
    "format",
    "normalize",
    "fingerprint",
    "split",
    "tokens",
    "Statement",
    "Token",
    "version",
    "library_path",
    "SqlParserError",
    "SqlSyntaxError",
    "SqlValueError",
    "SqlInternalError",
    "LibraryNotFoundError",
    "ENV_VAR",
]

__version__ = "0.1.0"

_MAX_TEXT = 2**31 - 1
_POSITION = re.compile(r"^Parse error at line (\d+), col (\d+): ")
_INTERNAL_PREFIX = "internal parser defect (this is a parser bug, not invalid SQL): "
_RANGE_MESSAGE = "Parsed integer outside of valid range"
_LEXEME_MESSAGES = ("invalid integer: ", "invalid float: ")
_VALUE_MESSAGES = (_RANGE_MESSAGE,) + _LEXEME_MESSAGES

SqlText = Union[str, bytes, bytearray, memoryview]
Document = List[Dict[str, Any]]
_T = TypeVar("_T")


class SqlParserError(Exception):
    """The library returned an error instead of a document."""

    def __init__(self, message: str, line: Optional[int] = None,
                 column: Optional[int] = None) -> None:
        super().__init__(message)
        self.message = message
        self.line = line
        self.column = column


class SqlSyntaxError(SqlParserError):
    """Invalid SQL. ``line`` and ``column`` are 1-based; the column counts bytes of the UTF-8
    text, not characters."""


class SqlValueError(SqlParserError, ValueError):
    """A value the parser cannot represent."""


class SqlInternalError(SqlParserError):
    """A bug in the library; the SQL may well be valid."""


def _literal_position(message: str, text: bytes) -> Tuple[Optional[int], Optional[int]]:
    """Where the literal a value error is about stands in ``text``: the library's message
    gives no position, and the tools library finds the literal with the scanner."""
    try:
        return _tools.error_position(text, message)
    except LibraryNotFoundError:
        return None, None


def _error_for(message: str, text: Optional[bytes] = None) -> SqlParserError:
    if message.startswith(_INTERNAL_PREFIX):
        return SqlInternalError(message)
    if message.startswith(_VALUE_MESSAGES):
        line, column = (None, None) if text is None else _literal_position(message, text)
        return SqlValueError(message, line, column)
    m = _POSITION.match(message)
    if m:
        return SqlSyntaxError(message, int(m.group(1)), int(m.group(2)))
    # The remaining messages of the library are parse errors without a position.
    return SqlSyntaxError(message)


def _sql_bytes(sql: SqlText, function: str) -> bytes:
    if isinstance(sql, str):
        try:
            text = sql.encode("utf-8", UNICODE_ERRORS)
        except UnicodeEncodeError as e:
            raise SqlValueError(f"the SQL text holds {sql[e.start]!r} at index {e.start}, "
                                "which has no UTF-8 form") from None
    elif isinstance(sql, (bytes, bytearray, memoryview)):
        text = bytes(sql)
    else:
        raise TypeError(f"{function}() takes str or bytes, not {type(sql).__name__}")
    nul = text.find(b"\0")
    if nul >= 0:
        raise SqlValueError(f"the SQL text holds a NUL byte at offset {nul}")
    if len(text) > _MAX_TEXT:
        raise SqlValueError(f"the SQL text has {len(text)} bytes; at most {_MAX_TEXT} are taken")
    return text


def parse(sql: SqlText) -> Document:
    """Parses every statement in ``sql`` and returns one dict per statement, in order.

    ``str`` is encoded as UTF-8, with lone surrogates from "surrogateescape" turned back into
    their bytes, so a name taken from a document can be put into SQL again; ``bytes`` are
    passed as they are. An empty text, or one of comments and semicolons only, gives ``[]``.
    """
    text = _sql_bytes(sql, "parse")
    document, error = call_parse(text)
    if error is not None:
        raise _error_for(error, text)
    try:
        return decode(document)
    except DocumentError as e:
        raise SqlInternalError(f"the library's document cannot be decoded: {e}") from e


def _tool(name: str, sql: SqlText, function: str, convert: Callable[[int, int], _T],
          *extra: int) -> _T:
    text = _sql_bytes(sql, function)
    result, error = _tools.call(name, text, *extra, convert=convert)
    if error is not None:
        raise _error_for(error, text)
    return cast(_T, result)


def format(sql: SqlText, pretty: bool = False) -> str:  # noqa: A001 (the tool's name)
    """The text in the house style: one line per statement, or with ``pretty`` clauses on
    lines of their own. Comments are kept. Raises as ``parse`` does."""
    return _tool("quorix_sql_format", sql, "format", _tools.text_of, 1 if pretty else 0)


def normalize(sql: SqlText) -> str:
    """The text with every constant of a query replaced by ``$1``, ``$2``, ... and
    everything else as written. Raises as ``parse`` does."""
    return _tool("quorix_sql_normalize", sql, "normalize", _tools.text_of)


def fingerprint(sql: SqlText) -> List[str]:
    """One fingerprint per statement, 16 lower-case hex digits each: equal for statements
    that differ only in constants, blanks, comments, keyword case, noise words and the length
    of lists of constants. Raises as ``parse`` does."""
    return _tool("quorix_sql_fingerprint", sql, "fingerprint", _tools.fingerprints_of)


def split(sql: SqlText) -> List[Statement]:
    """The statements of any text, valid or not, as ``Statement`` records."""
    text = _sql_bytes(sql, "split")
    return _tool("quorix_sql_split", text, "split", _tools.statements_of(text))


def tokens(sql: SqlText) -> List[Token]:
    """Every token of any text, comments included, as ``Token`` records."""
    text = _sql_bytes(sql, "tokens")
    return _tool("quorix_sql_tokens", text, "tokens", _tools.tokens_of(text))


def version() -> str:
    """The loaded library's version, e.g. "0.1.0"."""
    return library().quorix_parser_version().decode("ascii")
