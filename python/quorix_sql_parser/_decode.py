"""The library's MessagePack document as Python objects, at any depth.

msgpack decodes in C but gives up past 1024 nested containers, and a document nests as deeply
as its SQL: every term of ``a OR b OR ...`` adds two levels, so a 510-term chain is already too
deep for it. Such documents are read by ``decode_deep`` instead, a loop with a stack of its own
that accepts exactly the forms the library writes and builds what msgpack would have built:
dict, list, str, int, float, bool and None, strings decoded with the same error handler.
"""

from __future__ import annotations

import gc
import struct
import threading
from contextlib import contextmanager
from typing import Any, Iterator

import msgpack

# Names may be single bytes that are not UTF-8 on their own (the scanner makes a name of every
# byte it cannot start a token with); this handler keeps them as lone surrogates that encode
# back to the same bytes, where "strict" would fail on them and "replace" would lose them.
UNICODE_ERRORS = "surrogateescape"

_U8 = struct.Struct(">B").unpack_from
_U16 = struct.Struct(">H").unpack_from
_U32 = struct.Struct(">I").unpack_from
_U64 = struct.Struct(">Q").unpack_from
_I8 = struct.Struct(">b").unpack_from
_I16 = struct.Struct(">h").unpack_from
_I32 = struct.Struct(">i").unpack_from
_I64 = struct.Struct(">q").unpack_from
_F64 = struct.Struct(">d").unpack_from
# uint 8, 16, 32, 64 and int 8, 16, 32, 64, in type-byte order from 0xcc.
_INTEGERS = (_U8, _U16, _U32, _U64, _I8, _I16, _I32, _I64)


class DocumentError(ValueError):
    """The bytes are not a document of the forms the library writes."""


def decode(document: bytes) -> Any:
    """The document as Python objects; DocumentError if it cannot be read."""
    try:
        return msgpack.unpackb(document, raw=False, unicode_errors=UNICODE_ERRORS)
    except msgpack.exceptions.StackError:
        pass  # deeper than msgpack goes; StackError is a ValueError, so it is caught first
    except (ValueError, TypeError) as e:  # FormatError, ExtraData, a truncated document, ...
        raise DocumentError(f"msgpack: {type(e).__name__}: {e}") from e
    with _collector_paused():
        return decode_deep(document)


_gc_lock = threading.Lock()
_gc_pausers = 0
_gc_was_enabled = False


@contextmanager
def _collector_paused() -> Iterator[None]:
    """Keeps the cyclic garbage collector off while a deep document is built.

    Nothing built here can form a cycle, yet every collection would walk the growing tree
    again: on a million-term chain that doubles the time. Overlapping decodes on several
    threads share one pause; the collector's own state is put back by the last of them.
    """
    global _gc_pausers, _gc_was_enabled
    with _gc_lock:
        if _gc_pausers == 0:
            _gc_was_enabled = gc.isenabled()
            gc.disable()
        _gc_pausers += 1
    try:
        yield
    finally:
        with _gc_lock:
            _gc_pausers -= 1
            if _gc_pausers == 0 and _gc_was_enabled:
                gc.enable()


def decode_deep(data: bytes) -> Any:
    """Decodes one document of any depth without recursion.

    Accepts nil, false, true, integers in every width, float64, strings in every width, and
    arrays and maps in every width whose keys are strings; anything else, a truncated value or
    bytes after the document raise DocumentError.
    """
    data = bytes(data)
    size = len(data)
    # Keys, variant names and most names are short and recur all through a document: each
    # distinct one is decoded once. Sharing equal str objects is invisible to the caller
    # (msgpack itself interns every key).
    short = {}
    stack = []
    push = stack.append
    pop = stack.pop
    # The container being filled (a one-slot list for the document itself), whether it is a
    # map, how many values it still takes, and the key waiting for its value.
    container: Any = []
    is_map = False
    left = 1
    key = None
    pos = 0
    try:
        while True:
            if is_map:
                b = data[pos]
                if 0xa0 <= b <= 0xbf:
                    end = pos + 1 + (b & 0x1F)
                    if end > size:
                        raise DocumentError(f"truncated string at byte {pos}")
                    raw = data[pos + 1:end]
                    key = short.get(raw)
                    if key is None:
                        key = short[raw] = raw.decode("utf-8", UNICODE_ERRORS)
                    pos = end
                elif 0xd9 <= b <= 0xdb:
                    key, pos = _long_string(data, pos + 1, b)
                else:
                    raise DocumentError(f"map key at byte {pos} is not a string (0x{b:02x})")
            b = data[pos]
            pos += 1
            if 0xa0 <= b <= 0xbf:
                end = pos + (b & 0x1F)
                if end > size:
                    raise DocumentError(f"truncated string at byte {pos - 1}")
                raw = data[pos:end]
                value = short.get(raw)
                if value is None:
                    value = short[raw] = raw.decode("utf-8", UNICODE_ERRORS)
                pos = end
            elif 0x80 <= b <= 0x8f:
                value = {}
                if b != 0x80:
                    push((container, is_map, left, key))
                    container, is_map, left = value, True, b & 0x0F
                    continue
            elif b <= 0x7f:
                value = b
            elif b == 0xc0:
                value = None
            elif 0x90 <= b <= 0x9f:
                value = []
                if b != 0x90:
                    push((container, is_map, left, key))
                    container, is_map, left = value, False, b & 0x0F
                    continue
            elif b == 0xc2:
                value = False
            elif b == 0xc3:
                value = True
            elif b >= 0xe0:
                value = b - 0x100
            elif 0xdc <= b <= 0xdf:
                if b & 1:
                    count = _U32(data, pos)[0]
                    pos += 4
                else:
                    count = _U16(data, pos)[0]
                    pos += 2
                value = {} if b >= 0xde else []
                if count:
                    push((container, is_map, left, key))
                    container, is_map, left = value, b >= 0xde, count
                    continue
            elif 0xd9 <= b <= 0xdb:
                value, pos = _long_string(data, pos, b)
            elif b == 0xcb:
                value = _F64(data, pos)[0]
                pos += 8
            elif 0xcc <= b <= 0xd3:
                value = _INTEGERS[b - 0xcc](data, pos)[0]
                pos += 1 << (b & 3)
            else:
                raise DocumentError(f"unsupported MessagePack form 0x{b:02x} at byte {pos - 1}")
            # Store the value, and every container it completes in its parent.
            while True:
                if is_map:
                    container[key] = value
                else:
                    container.append(value)
                left -= 1
                if left:
                    break
                if not stack:
                    if pos != size:
                        raise DocumentError(f"{size - pos} bytes after the document")
                    return container[0]
                value = container
                container, is_map, left, key = pop()
    except (IndexError, struct.error):
        raise DocumentError(f"truncated document ({size} bytes)") from None


def _long_string(data: bytes, pos: int, b: int):
    """A str8, str16 or str32 whose length starts at `pos`: (text, position after it)."""
    width = 1 << (b - 0xd9)
    length = (data[pos] if width == 1 else _U16(data, pos)[0] if width == 2
              else _U32(data, pos)[0])
    start = pos + width
    end = start + length
    if end > len(data):
        raise DocumentError(f"truncated string at byte {pos - 1}")
    return data[start:end].decode("utf-8", UNICODE_ERRORS), end
