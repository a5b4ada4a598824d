#!/usr/bin/env python3
"""Reads a converted directory the way a trainer's data loader would, batch by batch, decodes
every batch and prints the positions per second.

It takes the fast path a training loop should take: one batch array and one set of decoded
columns, allocated once and handed to Dataset.batches and decode as `out`, so that no batch
allocates memory.

Usage: loader_throughput.py DIR [--batch-size N] [--shuffle-buffer N] [--compare-python N]

--compare-python N also times the pure-Python decode_fen on the first N records, for scale.
"""

import argparse
import itertools
import time

import numpy

import boardmill


def loader_rate(directory, batch_size, shuffle_buffer):
    """(positions, seconds) of reading and decoding the whole directory once."""
    positions = 0
    start = time.perf_counter()
    batch_array = numpy.empty((batch_size, boardmill.RECORD_BYTES), dtype=numpy.uint8)
    columns = boardmill.empty_columns(batch_size)
    with boardmill.Dataset(directory) as dataset:
        for batch in dataset.batches(batch_size, shuffle_buffer=shuffle_buffer, out=batch_array):
            positions += int(boardmill.decode(batch, out=columns)["valid"].sum())
    return positions, time.perf_counter() - start


def pure_python_rate(directory, count):
    """(positions, seconds) of decode_fen over the first `count` records."""
    records = list(itertools.islice(boardmill.iter_records(directory), count))
    start = time.perf_counter()
    for record in records:
        boardmill.decode_fen(record)
    return len(records), time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--batch-size", type=int, default=65536)
    parser.add_argument("--shuffle-buffer", type=int, default=0)
    parser.add_argument("--compare-python", type=int, default=0, metavar="N")
    options = parser.parse_args()
    positions, seconds = loader_rate(options.directory, options.batch_size, options.shuffle_buffer)
    print(f"Dataset.batches + decode: {positions} positions in {seconds:.3f} s, "
          f"{positions / seconds:,.0f} positions/s")
    if options.compare_python:
        positions, seconds = pure_python_rate(options.directory, options.compare_python)
        print(f"decode_fen (pure Python): {positions} positions in {seconds:.3f} s, "
              f"{positions / seconds:,.0f} positions/s")


if __name__ == "__main__":
    main()
