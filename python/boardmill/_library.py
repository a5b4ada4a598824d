"""Finds libboardmill, loads it with ctypes and declares the C interface the package calls.

The library is looked up in this order: the file BOARDMILL_LIBRARY names; the lib directories
of the install prefixes (this Python's, /usr/local, /usr) and the system loader's own search;
the build tree of the sources this package sits in.
"""

import ctypes
import os
import pathlib
import sys
import sysconfig

# The interface these bindings are written against: major version 1 of the library.
SONAME = "libboardmill.so.1"
RECORD_BYTES = 32


class BoardmillError(RuntimeError):
    """A libboardmill call failed; the message is the library's one-line error."""


class ReaderOptions(ctypes.Structure):
    _fields_ = [
        ("rank", ctypes.c_uint32),
        ("world", ctypes.c_uint32),
        ("worker", ctypes.c_uint32),
        ("workers", ctypes.c_uint32),
        ("shuffle_buffer", ctypes.c_uint64),
        ("seed", ctypes.c_uint64),
        ("epoch", ctypes.c_uint64),
    ]


# The columns of boardmill_positions in the struct's order, with their numpy types and the
# number of values per position.
POSITION_COLUMNS = (
    ("pieces", "uint8", 64),
    ("bitboards", "uint64", 12),
    ("side_to_move", "uint8", 1),
    ("castling", "uint8", 1),
    ("ep_square", "int8", 1),
    ("halfmove", "uint8", 1),
    ("fullmove", "uint16", 1),
    ("valid", "uint8", 1),
)


class Positions(ctypes.Structure):
    _fields_ = [(name, ctypes.c_void_p) for name, _, _ in POSITION_COLUMNS]


def _prefix_candidates():
    multiarch = sysconfig.get_config_var("MULTIARCH")
    libdirs = ["lib", "lib64"] + ([os.path.join("lib", multiarch)] if multiarch else [])
    for prefix in dict.fromkeys([sys.prefix, sys.base_prefix, "/usr/local", "/usr"]):
        for libdir in libdirs:
            yield os.path.join(prefix, libdir, SONAME)


def _build_tree_candidates():
    source_root = pathlib.Path(__file__).resolve().parents[2]
    yield from sorted(str(path) for path in source_root.glob(f"build*/*/src/library/{SONAME}"))
    yield from sorted(str(path) for path in source_root.glob(f"build*/src/library/{SONAME}"))


def _load():
    named = os.environ.get("BOARDMILL_LIBRARY")
    if named:
        try:
            return ctypes.CDLL(named)
        except OSError as error:
            raise BoardmillError(f"BOARDMILL_LIBRARY={named} cannot be loaded: {error}") from None
    for path in _prefix_candidates():
        if os.path.isfile(path):
            return ctypes.CDLL(path)
    try:
        return ctypes.CDLL(SONAME)
    except OSError:
        pass
    for path in _build_tree_candidates():
        return ctypes.CDLL(path)
    raise BoardmillError(
        f"{SONAME} not found: install boardmill, or set BOARDMILL_LIBRARY to the library's path"
    )


def _declare(library):
    p = ctypes.POINTER
    handle, size = ctypes.c_void_p, ctypes.c_size_t
    signatures = {
        "boardmill_dataset_open": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int, p(handle)]),
        "boardmill_dataset_close": (None, [handle]),
        "boardmill_dataset_shards": (ctypes.c_uint32, [handle]),
        "boardmill_dataset_records": (ctypes.c_uint64, [handle]),
        "boardmill_reader_open": (ctypes.c_int, [handle, p(ReaderOptions), p(handle)]),
        "boardmill_reader_next": (ctypes.c_int64, [handle, ctypes.c_void_p, size]),
        "boardmill_reader_close": (None, [handle]),
        "boardmill_decode": (ctypes.c_int64, [ctypes.c_void_p, size, p(Positions)]),
        "boardmill_encode": (ctypes.c_int, [p(Positions), size, ctypes.c_void_p]),
        "boardmill_last_error": (ctypes.c_char_p, []),
        "boardmill_version": (ctypes.c_char_p, []),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


library = _declare(_load())


def check(result):
    """`result` when the call succeeded; raises BoardmillError with the library's message when
    it is negative."""
    if result < 0:
        raise BoardmillError(library.boardmill_last_error().decode("utf-8", "replace"))
    return result
