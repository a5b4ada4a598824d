"""A converted directory read in numpy batches, split across ranks and data-loader workers."""

import ctypes
import os

import numpy

from ._library import RECORD_BYTES, ReaderOptions, check, library


def _current_loader_worker():
    """(worker id, worker count) of the torch.utils.data worker this runs in; (0, 1) outside
    one or without torch."""
    try:
        from torch.utils.data import get_worker_info
    except ImportError:
        return 0, 1
    info = get_worker_info()
    return (info.id, info.num_workers) if info is not None else (0, 1)


class Dataset:
    """The shards of a directory `boardmill convert` wrote. With `verify`, every shard's size
    and XXH64 are checked against the index before its records are handed out."""

    def __init__(self, path, verify=False):
        self._handle = None
        handle = ctypes.c_void_p()
        check(library.boardmill_dataset_open(
            os.fsencode(path), int(bool(verify)), ctypes.byref(handle)))
        self._handle = handle

    def close(self):
        if self._handle:
            library.boardmill_dataset_close(self._handle)
            self._handle = None

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    @property
    def num_records(self):
        return library.boardmill_dataset_records(self._handle)

    @property
    def num_shards(self):
        return library.boardmill_dataset_shards(self._handle)

    def batches(self, batch_size, rank=0, world=1, worker=None, workers=None, shuffle_buffer=0,
                seed=0, epoch=0, out=None):
        """Yields this (rank, worker)'s share of the records as uint8 arrays of shape
        (batch_size, 32), the last one possibly shorter. The shares of every rank and worker
        hold each record exactly once per epoch; a shuffle buffer draws records at random, in an
        order fixed by the seed and the epoch.

        Without `out` every batch is a new array. With `out`, a writable contiguous uint8 array
        of shape (batch_size, 32), every batch is a view of it that the next batch overwrites:
        no memory is allocated per batch."""
        if batch_size < 1:
            raise ValueError(f"batch_size must be at least 1, not {batch_size}")
        if out is not None:
            _check_batch_array(out, batch_size)
        if worker is None and workers is None:
            worker, workers = _current_loader_worker()
        elif worker is None or workers is None:
            raise ValueError("give both worker and workers, or neither")
        options = ReaderOptions(rank, world, worker, workers, shuffle_buffer, seed, epoch)
        reader = ctypes.c_void_p()
        check(library.boardmill_reader_open(
            self._handle, ctypes.byref(options), ctypes.byref(reader)))
        try:
            yield from self._read_batches(reader, batch_size, out)
        finally:
            library.boardmill_reader_close(reader)

    def _read_batches(self, reader, batch_size, out):
        while True:
            batch = out
            if batch is None:
                batch = numpy.empty((batch_size, RECORD_BYTES), dtype=numpy.uint8)
            filled = 0
            while filled < batch_size:
                read = check(library.boardmill_reader_next(
                    reader, batch[filled:].ctypes.data, batch_size - filled))
                if read == 0:
                    break
                filled += read
            if filled:
                yield batch[:filled]
            if filled < batch_size:
                return


def _check_batch_array(out, batch_size):
    """Raises ValueError unless `out` can hold batches of `batch_size` records."""
    if (
        not isinstance(out, numpy.ndarray)
        or out.dtype != numpy.uint8
        or out.shape != (batch_size, RECORD_BYTES)
        or not out.flags.c_contiguous
        or not out.flags.writeable
    ):
        raise ValueError("out must be a writable contiguous uint8 array of shape "
                         f"({batch_size}, {RECORD_BYTES})")
