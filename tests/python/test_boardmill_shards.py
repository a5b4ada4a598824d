"""Tests python/boardmill_shards.py against the built boardmill.

Usage: test_boardmill_shards.py BOARDMILL_BINARY SAMPLE_DATA_DIR, with python/ on PYTHONPATH.
Exits 77 (a skip for ctest) when numpy, zstandard or xxhash is missing.
"""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy
    import zstandard

    import boardmill_shards
except ImportError as missing:
    print(f"skipped: {missing} (install python3-zstandard, python3-numpy, python3-xxhash)")
    sys.exit(77)

BOARDMILL = None
SAMPLE_DATA = None


def run_boardmill(*arguments):
    return subprocess.run([BOARDMILL, *map(str, arguments)], capture_output=True, text=True)


def write_shard(path, payload):
    with open(path, "wb") as file:
        file.write(zstandard.ZstdCompressor().compress(payload))


def pack(fields):
    """A 32-byte record of (value, width) fields written least significant bit first; bits past
    255 are dropped."""
    bits, cursor = 0, 0
    for value, width in fields:
        bits |= value << cursor
        cursor += width
    return (bits & ((1 << 256) - 1)).to_bytes(32, "little")


class ShardReaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="boardmill-python-")
        cls.out = os.path.join(cls.temp, "out")
        converted = run_boardmill(
            "convert", SAMPLE_DATA, cls.out, "--shards", 8, "--min-free-space-gib", 0
        )
        assert converted.returncode == 0, converted.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def decode_shards(self, target, *options):
        run = run_boardmill("decode-shards", target, *options)
        return run.stdout.splitlines(), run.stderr, run.returncode

    def test_records_and_fens_are_the_ones_decode_shards_prints(self):
        records = list(boardmill_shards.iter_records(self.out))
        fens, _, status = self.decode_shards(self.out)
        self.assertEqual(status, 0)
        self.assertEqual(len(records), boardmill_shards.load_index(self.out)["total_records"])
        self.assertEqual([boardmill_shards.decode_fen(record) for record in records], fens)
        hexes, _, _ = self.decode_shards(self.out, "--hex")
        self.assertEqual([record.hex() for record in records], hexes)

    def test_read_shard_gives_each_shard_as_an_array(self):
        index = boardmill_shards.load_index(self.out)
        rows = []
        for shard in index["shards"]:
            array = boardmill_shards.read_shard(os.path.join(self.out, shard["file"]))
            self.assertEqual(array.dtype, numpy.uint8)
            self.assertEqual(array.shape, (shard["records"], 32))
            rows.extend(row.tobytes() for row in array)
        self.assertEqual(rows, list(boardmill_shards.iter_records(self.out)))

    def test_read_shard_reads_across_frames_and_refuses_a_cut_one(self):
        path = os.path.join(self.temp, "frames.psfen.zst")
        compressor = zstandard.ZstdCompressor()
        records = list(boardmill_shards.iter_records(self.out))[:5]
        with open(path, "wb") as file:
            file.write(compressor.compress(b"".join(records[:2])))
            file.write(compressor.compress(b"".join(records[2:])))
        self.assertEqual([row.tobytes() for row in boardmill_shards.read_shard(path)], records)
        with open(path, "rb") as file:
            stored = file.read()
        with open(path, "wb") as file:
            file.write(stored[:-4])
        with self.assertRaises(ValueError):
            boardmill_shards.read_shard(path)

    def test_verify_finds_what_verify_shards_quick_finds(self):
        copy = os.path.join(self.temp, "copy")
        shutil.copytree(self.out, copy)
        self.assertTrue(boardmill_shards.verify(copy))
        path = os.path.join(copy, "shard-003.psfen.zst")
        with open(path, "rb") as file:
            stored = file.read()
        flipped = bytearray(stored)
        flipped[len(stored) // 2] ^= 0x01
        for damaged in (bytes(flipped), stored[:-1], None):
            if damaged is None:
                os.remove(path)
            else:
                with open(path, "wb") as file:
                    file.write(damaged)
            self.assertFalse(boardmill_shards.verify(copy))
            self.assertEqual(run_boardmill("verify-shards", copy, "--quick").returncode, 1)

    def test_a_fifo_in_place_of_a_shard_or_the_index_is_refused_without_blocking(self):
        directory = os.path.join(self.temp, "fifos")
        os.mkdir(directory)
        shard = os.path.join(directory, "shard-000.psfen.zst")
        os.mkfifo(shard)
        with self.assertRaises(ValueError):
            boardmill_shards.read_shard(shard)
        os.mkfifo(os.path.join(directory, boardmill_shards.INDEX_FILE_NAME))
        with self.assertRaises(ValueError):
            boardmill_shards.load_index(directory)

    def test_an_index_rewritten_by_a_json_tool_reads_alike(self):
        copy = os.path.join(self.temp, "rewritten")
        shutil.copytree(self.out, copy)
        index_path = os.path.join(copy, boardmill_shards.INDEX_FILE_NAME)
        with open(index_path, encoding="utf-8") as file:
            index = json.load(file)
        index["created_by"] = {"name": "a later boardmill", "options": [1, 2.5, None]}
        for shard in index["shards"]:
            shard["positions_per_game"] = 1.5
        with open(index_path, "w", encoding="utf-8") as file:
            json.dump(index, file, sort_keys=True, indent=4)
        self.assertEqual(boardmill_shards.load_index(copy)["shards"], index["shards"])
        self.assertTrue(boardmill_shards.verify(copy))
        self.assertEqual(
            list(boardmill_shards.iter_records(copy)), list(boardmill_shards.iter_records(self.out))
        )
        self.assertEqual(run_boardmill("verify-shards", copy, "--quick").returncode, 0)

        index["shards"][3]["xxh64"] = "0" * 16
        with open(index_path, "w", encoding="utf-8") as file:
            json.dump(index, file, sort_keys=True, indent=4)
        self.assertFalse(boardmill_shards.verify(copy))
        self.assertEqual(run_boardmill("verify-shards", copy, "--quick").returncode, 1)

    def assert_decoded_alike(self, record):
        """decode_fen and decode-shards agree on one record: the same FEN, or the same error."""
        path = os.path.join(self.temp, "one.psfen.zst")
        write_shard(path, record)
        fens, error, status = self.decode_shards(path)
        try:
            self.assertEqual([boardmill_shards.decode_fen(record)], fens)
            self.assertEqual(status, 0)
        except ValueError as refused:
            self.assertEqual(status, 1)
            self.assertEqual(error, f"Failed to decode record 0 of {path}: {refused}\n")

    def test_records_no_conversion_writes_decode_alike(self):
        empty_board = [(0, 1)] * 62
        records = {
            "both kings on a1": bytes(32),
            "code 11 on a8": pack([(0, 1), (4, 6), (60, 6), (11, 4)]),
            "62 queens": pack([(0, 1), (4, 6), (60, 6)] + [(9, 4), (1, 1)] * 62),
            "odd but decodable": pack(
                [(1, 1), (4, 6), (60, 6)]
                + empty_board
                + [(5, 4), (1, 1), (0, 6), (63, 6), (0, 16), (1, 1), (0x7FF, 11)]
            ),
        }
        for name, record in records.items():
            with self.subTest(name):
                self.assert_decoded_alike(record)

    def test_random_records_decode_alike(self):
        generator = random.Random(20240611)
        decodable, first_refusals = [], {}
        for _ in range(4000):
            # Sparse bits, so that many records get past the board.
            record = bytes(generator.getrandbits(8) & generator.getrandbits(8) for _ in range(32))
            try:
                decodable.append((record, boardmill_shards.decode_fen(record)))
            except ValueError as refused:
                first_refusals.setdefault(str(refused), record)
        self.assertGreater(len(decodable), 100)
        path = os.path.join(self.temp, "random.psfen.zst")
        write_shard(path, b"".join(record for record, _ in decodable))
        fens, error, _ = self.decode_shards(path)
        self.assertEqual(error, "")
        self.assertEqual(fens, [fen for _, fen in decodable])
        for record in first_refusals.values():
            self.assert_decoded_alike(record)


if __name__ == "__main__":
    BOARDMILL, SAMPLE_DATA = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
