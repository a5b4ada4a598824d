"""Reads the shards `boardmill convert` writes, at training speed, through libboardmill.

Dataset(path).batches(...) yields numpy batches of 32-byte records, split across ranks and
data-loader workers and shuffled per epoch; decode() turns a batch into numpy columns, new ones
or, given out=, columns from empty_columns() reused batch after batch; encode() does the
reverse, to_fen() gives one record's FEN. The pure-Python reader of earlier releases
(load_index, read_shard, iter_records, decode_fen, verify) is here too.
"""

from boardmill_shards import decode_fen, iter_records, load_index, read_shard, verify

from ._library import RECORD_BYTES, BoardmillError
from .codec import decode, empty_columns, encode, to_fen
from .dataset import Dataset

__all__ = [
    "RECORD_BYTES",
    "BoardmillError",
    "Dataset",
    "decode",
    "decode_fen",
    "empty_columns",
    "encode",
    "iter_records",
    "load_index",
    "read_shard",
    "to_fen",
    "verify",
]
