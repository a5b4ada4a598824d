"""Batch decoding and encoding of 32-byte records through libboardmill, and one record's FEN."""

import ctypes

import numpy

from boardmill_shards import _format_board

from ._library import POSITION_COLUMNS, RECORD_BYTES, BoardmillError, Positions, check, library

# The columns a record is made from; encode reads these, decode gives them plus bitboards and
# valid.
ENCODED_COLUMNS = ("pieces", "side_to_move", "castling", "ep_square", "halfmove", "fullmove")


def _as_records(records):
    """`records` (bytes or an array of n * 32 bytes) as a contiguous (n, 32) uint8 array."""
    if isinstance(records, (bytes, bytearray, memoryview)):
        records = numpy.frombuffer(records, dtype=numpy.uint8)
    records = numpy.ascontiguousarray(records, dtype=numpy.uint8)
    if records.size % RECORD_BYTES != 0:
        raise ValueError(f"records are {RECORD_BYTES} bytes each; got {records.size} bytes")
    return records.reshape(-1, RECORD_BYTES)


def _positions(columns):
    return Positions(**{name: columns[name].ctypes.data for name in columns})


def empty_columns(count):
    """Uninitialised columns for `count` positions, the dict decode returns, to be handed to
    decode as `out` batch after batch."""
    return {
        name: numpy.empty((count, width) if width > 1 else count, dtype=dtype)
        for name, dtype, width in POSITION_COLUMNS
    }


def _check_out(out, count):
    """Raises ValueError unless every column of `out` is a writable, contiguous array of its
    type and shape with room for `count` positions."""
    for name, dtype, width in POSITION_COLUMNS:
        column = out.get(name)
        if (
            not isinstance(column, numpy.ndarray)
            or column.dtype != dtype
            or column.shape[1:] != ((width,) if width > 1 else ())
            or not column.flags.c_contiguous
            or not column.flags.writeable
        ):
            raise ValueError(f"out[{name!r}] is not a writable contiguous {dtype} column "
                             "as empty_columns makes it")
        if len(column) < count:
            raise ValueError(f"out has room for {len(column)} positions, not {count}")


def decode(records, out=None):
    """The positions of `records` as a dict of numpy arrays, one row per record: pieces (n, 64),
    bitboards (n, 12), side_to_move, castling, ep_square, halfmove, fullmove and valid (n,).
    A record that does not decode has valid 0 and every other field 0.

    Without `out` the arrays are new. With `out` (from empty_columns, or a dict decode returned)
    the positions are written into its columns, which need room for n rows, and the arrays
    returned are views of their first n rows: no memory is allocated, and the next decode into
    the same `out` overwrites them."""
    records = _as_records(records)
    count = len(records)
    if out is None:
        columns = empty_columns(count)
    else:
        _check_out(out, count)
        columns = {name: out[name][:count] for name, _, _ in POSITION_COLUMNS}
    positions = _positions(columns)
    check(library.boardmill_decode(records.ctypes.data, count, ctypes.byref(positions)))
    return columns


def encode(fields):
    """The records of the positions in `fields`, a dict with the columns decode gives (pieces,
    side_to_move, castling, ep_square, halfmove, fullmove; others are ignored), as an (n, 32)
    uint8 array. Raises ValueError naming the first position a record cannot hold."""
    types = {name: dtype for name, dtype, _ in POSITION_COLUMNS}
    columns = {
        name: numpy.ascontiguousarray(fields[name], dtype=types[name]) for name in ENCODED_COLUMNS
    }
    count = len(columns["pieces"])
    if columns["pieces"].shape != (count, 64) or any(
        columns[name].shape != (count,) for name in ENCODED_COLUMNS[1:]
    ):
        raise ValueError("encode needs pieces of shape (n, 64) and the other fields of shape (n,)")
    records = numpy.empty((count, RECORD_BYTES), dtype=numpy.uint8)
    positions = _positions(columns)
    try:
        check(library.boardmill_encode(ctypes.byref(positions), count, records.ctypes.data))
    except BoardmillError as error:
        raise ValueError(str(error)) from None
    return records


def to_fen(record):
    """The canonical FEN of one record, as `boardmill decode-shards` prints it. Raises ValueError
    for a record that does not decode."""
    records = _as_records(record)
    if len(records) != 1:
        raise ValueError(f"to_fen takes one {RECORD_BYTES}-byte record, not {len(records)}")
    position = decode(records)
    if not position["valid"][0]:
        raise ValueError("the record does not decode to a position")
    rights = position["castling"][0]
    castling = "".join(letter for bit, letter in enumerate("KQkq") if rights >> bit & 1)
    square = int(position["ep_square"][0])
    en_passant = "-" if square < 0 else "abcdefgh"[square % 8] + str(square // 8 + 1)
    return " ".join([
        _format_board(position["pieces"][0].tolist()),
        "b" if position["side_to_move"][0] else "w",
        castling or "-",
        en_passant,
        str(position["halfmove"][0]),
        str(position["fullmove"][0]),
    ])
