"""Reads the shards boardmill writes: the shard index, the records and their positions.

An output directory holds shard-000.psfen.zst ... (Zstandard frames of 32-byte PackedSfen
records) and shard-index.json, which lists each shard's records, size and XXH64 hash. Records
come out in the order `boardmill decode-shards` prints them: shards in id order, records in
stored order. Needs Python 3 with zstandard, numpy and xxhash (Debian: python3-zstandard,
python3-numpy, python3-xxhash).
"""

import json
import os
import re
import stat

import numpy
import xxhash
import zstandard

RECORD_BYTES = 32
INDEX_FILE_NAME = "shard-index.json"

_INDEX_HEADER = {
    "format": "boardmill-shards",
    "version": 1,
    "record_bytes": RECORD_BYTES,
    "record_format": "PackedSfen",
}
# Shard file names as src/shards/shard_naming.cpp (ShardFileName, ParseShardFileName) defines
# them: the id zero-padded to at least three digits.
_SHARD_NAME = re.compile(r"shard-([0-9]{3,})\.psfen\.zst")
_READ_CHUNK = 1 << 20


def _open_regular(path, **text):
    """`path` opened for reading (binary, or text given an encoding), if it is a regular file.

    Checked on the open descriptor, opened without blocking: a FIFO or device in a file's place
    raises ValueError at once instead of blocking or streaming without end.
    """
    descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    if not stat.S_ISREG(os.fstat(descriptor).st_mode):
        os.close(descriptor)
        raise ValueError(f"Not a regular file: {path}")
    return open(descriptor, "r" if text else "rb", **text)


def load_index(directory):
    """The parsed shard-index.json of `directory`, a dict.

    Members are looked up by name, so any key order or layout reads alike and members this
    module does not know (a later boardmill may add some) are ignored. Raises FileNotFoundError
    when there is none and ValueError for an index of another format or version, one whose
    shard list does not match its shard count, or anything but a regular file.
    """
    with _open_regular(os.path.join(directory, INDEX_FILE_NAME), encoding="utf-8") as file:
        index = json.load(file)
    for key, expected in _INDEX_HEADER.items():
        if index.get(key) != expected:
            raise ValueError(f"{INDEX_FILE_NAME}: {key!r} is {index.get(key)!r}, not {expected!r}")
    if len(index["shards"]) != index["shard_count"]:
        raise ValueError(f"{INDEX_FILE_NAME}: the shard list does not match shard_count")
    return index


def shard_paths(directory):
    """The shard files of `directory` in id order: those the index lists, or without an index
    every file named like a shard."""
    try:
        return [os.path.join(directory, shard["file"]) for shard in load_index(directory)["shards"]]
    except FileNotFoundError:
        pass
    found = []
    for name in os.listdir(directory):
        match = _SHARD_NAME.fullmatch(name)
        if match:
            found.append((int(match.group(1)), os.path.join(directory, name)))
    return [path for _, path in sorted(found)]


def _decompress_frames(data):
    """The content of concatenated Zstandard frames; ValueError when the last one is cut short."""
    pieces = []
    while data:
        frame = zstandard.ZstdDecompressor().decompressobj()
        pieces.append(frame.decompress(data))
        if not frame.eof:
            raise ValueError("Zstd decompression ended before the frame was fully decoded.")
        data = frame.unused_data
    return b"".join(pieces)


def read_shard(path):
    """The records of one shard file as a numpy array of shape (n, 32) and dtype uint8."""
    with _open_regular(path) as file:
        payload = _decompress_frames(file.read())
    if len(payload) % RECORD_BYTES != 0:
        raise ValueError(f"Shard payload is not a whole number of PackedSfen records: {path}")
    return numpy.frombuffer(payload, dtype=numpy.uint8).reshape(-1, RECORD_BYTES)


def iter_records(directory):
    """Every record of the directory's shards as 32 bytes, one shard in memory at a time."""
    for path in shard_paths(directory):
        yield from (row.tobytes() for row in read_shard(path))


def _file_xxh64(path):
    digest = xxhash.xxh64(seed=0)
    with _open_regular(path) as file:
        while chunk := file.read(_READ_CHUNK):
            digest.update(chunk)
    return digest.hexdigest()


def verify(directory):
    """True when every shard the index lists is there with its listed size and XXH64 hash (what
    `boardmill verify-shards --quick` checks), False otherwise. Raises FileNotFoundError when the
    directory has no index."""
    for shard in load_index(directory)["shards"]:
        path = os.path.join(directory, shard["file"])
        if not os.path.isfile(path) or os.path.getsize(path) != shard["bytes"]:
            return False
        if _file_xxh64(path) != shard["xxh64"]:
            return False
    return True


# Piece codes 1-12 are P p N n B b R r Q q K k; a type t of colour c (0 white) is 2t - 1 + c.
_PIECE_LETTERS = " PpNnBbRrQqKk"
_WHITE_KING, _BLACK_KING = 11, 12
# Huffman codes as (bits read, value read least significant bit first) -> piece type; 0 empty.
_TYPE_CODES = {(1, 0): 0, (4, 1): 1, (4, 3): 2, (4, 5): 3, (4, 7): 4, (4, 9): 5}
_LONGEST_CODE = 6
_FEN_ORDER = [rank * 8 + file for rank in range(7, -1, -1) for file in range(8)]
_OVERRUN = "PackedSfen fields run past the end of the record."


class _BitReader:
    """Reads least significant bit first; past bit 255 it yields zeros and notes the overrun."""

    def __init__(self, record):
        self._bits = int.from_bytes(record, "little")
        self._cursor = 0
        self.overrun = False

    def bit(self):
        if self._cursor >= 8 * RECORD_BYTES:
            self.overrun = True
            return 0
        self._cursor += 1
        return (self._bits >> (self._cursor - 1)) & 1

    def read(self, width):
        return sum(self.bit() << i for i in range(width))


def _read_piece(reader):
    """The next square's piece code (0 when empty), as boardmill's decoder reads it."""
    value = 0
    for width in range(1, _LONGEST_CODE + 1):
        value |= reader.bit() << (width - 1)
        piece_type = _TYPE_CODES.get((width, value))
        if piece_type is not None:
            return 2 * piece_type - 1 + reader.bit() if piece_type else 0
    if not reader.overrun:
        raise ValueError("PackedSfen contains an invalid Huffman-coded piece.")
    return 0


def _format_board(board):
    ranks = []
    for rank in range(7, -1, -1):
        text, empty = "", 0
        for piece in board[rank * 8 : rank * 8 + 8]:
            if piece == 0:
                empty += 1
                continue
            text += (str(empty) if empty else "") + _PIECE_LETTERS[piece]
            empty = 0
        ranks.append(text + (str(empty) if empty else ""))
    return "/".join(ranks)


def decode_fen(record):
    """The canonical FEN of a 32-byte PackedSfen record, as `boardmill decode-shards` prints it.

    Accepts bytes, a bytearray or a numpy row. A record that does not decode raises ValueError
    with boardmill's message.
    """
    record = bytes(record)
    if len(record) != RECORD_BYTES:
        raise ValueError(f"A PackedSfen record is {RECORD_BYTES} bytes, not {len(record)}.")
    reader = _BitReader(record)
    side = "b" if reader.bit() else "w"
    white_king, black_king = reader.read(6), reader.read(6)
    if white_king == black_king:
        raise ValueError("PackedSfen contains invalid king squares.")
    board = [0] * 64
    board[white_king], board[black_king] = _WHITE_KING, _BLACK_KING
    for square in _FEN_ORDER:
        if square in (white_king, black_king):
            continue
        board[square] = _read_piece(reader)
        if reader.overrun:
            raise ValueError(_OVERRUN)
    rights = reader.read(4)
    en_passant = reader.read(6) if reader.bit() else None
    halfmove_low = reader.read(6)
    fullmove = reader.read(8) | reader.read(8) << 8
    halfmove = halfmove_low | reader.read(1) << 6
    if reader.overrun:
        raise ValueError(_OVERRUN)
    castling = "".join(letter for bit, letter in enumerate("KQkq") if rights >> bit & 1) or "-"
    square = "-" if en_passant is None else "abcdefgh"[en_passant % 8] + str(en_passant // 8 + 1)
    return f"{_format_board(board)} {side} {castling} {square} {halfmove} {fullmove or 1}"
