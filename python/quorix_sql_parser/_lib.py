"""Finding, loading and calling libquorix_sql_parser through ctypes.

The shared object is opened once per process, on first use, and kept for the life of the
process; nothing else here is mutable, so calls may run on any number of threads at once (ctypes
releases the GIL for the duration of each foreign call).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Callable, Iterator, Mapping, Optional, Tuple

from ._decode import UNICODE_ERRORS

ENV_VAR = "QUORIX_SQL_PARSER_LIB"

PACKAGE_DIR = Path(__file__).resolve().parent
# python/quorix_sql_parser/_lib.py -> the repository root of a source checkout.
CHECKOUT_DIR = PACKAGE_DIR.parent.parent


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded."""


class ParseResult(ctypes.Structure):
    # Pointers as c_void_p: the blocks are copied out with string_at and handed back to
    # quorix_free_buffer untouched, never converted to Python objects by ctypes itself.
    _fields_ = [
        ("status", ctypes.c_uint8),
        ("data", ctypes.c_void_p),
        ("data_len", ctypes.c_int32),
        ("error", ctypes.c_void_p),
        ("error_len", ctypes.c_int32),
    ]


assert ctypes.sizeof(ParseResult) == 40, "ParseResult must be 40 bytes"


def _sanitized_build(build_dir: Path) -> bool:
    """A sanitizer build cannot be loaded into a plain interpreter (the ASan runtime aborts the
    process when it does not come first), so such build trees are never picked implicitly."""
    try:
        with open(build_dir / "CMakeCache.txt", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("QUORIX_SANITIZE:"):
                    return line.split("=", 1)[1].strip() != ""
    except OSError:
        pass
    return False


class _SharedLibrary:
    """One of the package's shared libraries: how it is named and where it is looked for."""

    def __init__(self, name: str, env_var: str) -> None:
        self.name = name
        self.env_var = env_var
        self.linker_name = f"lib{name}.so"
        self.soname = f"lib{name}.so.0"


PARSER = _SharedLibrary("quorix_sql_parser", ENV_VAR)
TOOLS = _SharedLibrary("quorix_sql_tools", "QUORIX_SQL_TOOLS_LIB")


def candidates(environ: Mapping[str, str] = os.environ, package_dir: Path = PACKAGE_DIR,
               checkout_dir: Path = CHECKOUT_DIR,
               shared: _SharedLibrary = PARSER) -> Iterator[Tuple[str, str]]:
    """Yields (origin, path-or-name) in the order the library is looked for.

    The environment variable, when set, is the only candidate: a wrong path must fail loudly
    rather than silently fall back to some other copy of the library. The tools library is
    also looked for beside the parser library that its variable names, if only that is set.
    """
    explicit = environ.get(shared.env_var)
    if explicit:
        yield shared.env_var, explicit
        return
    parser_lib = environ.get(ENV_VAR)
    if shared is not PARSER and parser_lib:
        yield ENV_VAR, str(Path(parser_lib).parent / shared.linker_name)
        return
    linker = shared.linker_name
    # A wheel ships the library inside the package directory.
    for p in sorted(package_dir.glob(linker + "*")):
        if p.is_file():
            yield "package", str(p)
    # A source checkout: build/ first (what scripts/build-and-run.sh produces), then any other
    # build*/ tree that is not instrumented.
    default_build = checkout_dir / "build"
    p = default_build / linker
    if p.is_file() and not _sanitized_build(default_build):
        yield "checkout", str(p)
    for d in sorted(checkout_dir.glob("build*/")):
        if d == default_build or _sanitized_build(d):
            continue
        p = d / linker
        if p.is_file():
            yield "checkout", str(p)
    found = ctypes.util.find_library(shared.name)
    if found:
        yield "system", found
    yield "system", shared.soname


def _bind(cdll: ctypes.CDLL) -> ctypes.CDLL:
    cdll.quorix_parse_sql.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    cdll.quorix_parse_sql.restype = ParseResult
    cdll.quorix_free_buffer.argtypes = [ctypes.c_void_p]
    cdll.quorix_free_buffer.restype = None
    cdll.quorix_parser_version.argtypes = []
    cdll.quorix_parser_version.restype = ctypes.c_char_p
    cdll.quorix_parser_init.argtypes = []
    cdll.quorix_parser_init.restype = None
    return cdll


def open_library(environ: Mapping[str, str] = os.environ, package_dir: Path = PACKAGE_DIR,
                 checkout_dir: Path = CHECKOUT_DIR, shared: _SharedLibrary = PARSER,
                 bind: Optional[Callable[[ctypes.CDLL], ctypes.CDLL]] = None
                 ) -> Tuple[ctypes.CDLL, str]:
    """Opens the first candidate that loads; returns the bound library and its path."""
    bind = bind or _bind
    tried = []
    for origin, path in candidates(environ, package_dir, checkout_dir, shared):
        explicit = origin in (ENV_VAR, shared.env_var)
        if explicit and not os.path.isfile(path):
            raise LibraryNotFoundError(
                f"{origin} is set to {path!r}, which is not a file; point it at "
                f"{shared.linker_name} or unset it")
        try:
            cdll = ctypes.CDLL(path)
        except OSError as e:
            if explicit:
                raise LibraryNotFoundError(f"{origin}={path!r} could not be loaded: {e}") from e
            tried.append(f"{origin}: {path} ({e})")
            continue
        try:
            return bind(cdll), path
        except AttributeError as e:
            # Some other library of the same name: say so rather than fail at the first call.
            raise LibraryNotFoundError(f"{path} is not lib{shared.name}: {e}") from e
    raise LibraryNotFoundError(
        f"lib{shared.name} was not found; build it (scripts/build-and-run.sh) or set "
        f"{shared.env_var} to its path. Tried: " + "; ".join(tried))


_lock = threading.Lock()
_loaded: Optional[Tuple[ctypes.CDLL, str]] = None


def library() -> ctypes.CDLL:
    return _library_and_path()[0]


def library_path() -> str:
    """The path (or loader name) of the library this process uses."""
    return _library_and_path()[1]


def _library_and_path() -> Tuple[ctypes.CDLL, str]:
    global _loaded
    loaded = _loaded
    if loaded is None:
        with _lock:
            if _loaded is None:
                _loaded = open_library()
            loaded = _loaded
    return loaded


def call_parse(text: bytes) -> Tuple[Optional[bytes], Optional[str]]:
    """One quorix_parse_sql call: (document bytes, None) or (None, error message).

    Both blocks are copied out and released before this returns, whatever happens in between.
    """
    lib = library()
    # len 0 means "NUL-terminated", which is also right for the empty text; the caller has
    # already rejected texts holding a NUL.
    r = lib.quorix_parse_sql(text, len(text))
    try:
        if r.status == 0:
            return ctypes.string_at(r.data, r.data_len), None
        message = ctypes.string_at(r.error, r.error_len) if r.error else b""
        # A message quotes the token it failed at, which may be a byte that is not UTF-8.
        return None, message.decode("utf-8", UNICODE_ERRORS)
    finally:
        lib.quorix_free_buffer(r.data)
        lib.quorix_free_buffer(r.error)
