"""Tests the boardmill package, installed, against the built boardmill and its library.

Usage: test_boardmill_package.py BOARDMILL_BINARY SAMPLE_DATA_DIR, run by the Python of the
virtual environment the package is installed in (check_package_install.sh).
"""

import importlib.metadata
import os
import random
import shutil
import subprocess
import sys
import unittest

import numpy

import boardmill
from sample_conversion import convert_sample, run_boardmill, take_command_line


def read_all(dataset, **options):
    return numpy.concatenate(list(dataset.batches(100, **options)))


def as_rows(records):
    return sorted(row.tobytes() for row in records)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp, cls.out = convert_sample("boardmill-package-", 5)
        # The records straight from the files, by the pure-Python reader.
        cls.stored = numpy.concatenate(
            [boardmill.read_shard(os.path.join(cls.out, shard["file"]))
             for shard in boardmill.load_index(cls.out)["shards"]]
        )
        cls.dataset = boardmill.Dataset(cls.out, verify=True)

    @classmethod
    def tearDownClass(cls):
        cls.dataset.close()
        shutil.rmtree(cls.temp)

    def test_installed_from_this_tree(self):
        self.assertTrue(boardmill.__file__.startswith(sys.prefix), boardmill.__file__)
        version = run_boardmill("--version").stdout.split()[-1]
        self.assertEqual(importlib.metadata.version("boardmill"), version)

    def test_batches_give_the_stored_records_in_order(self):
        self.assertEqual(self.dataset.num_shards, 5)
        self.assertEqual(self.dataset.num_records, len(self.stored))
        batches = list(self.dataset.batches(1000))
        self.assertEqual([len(batch) for batch in batches[:-1]], [1000] * (len(batches) - 1))
        self.assertTrue(all(b.dtype == numpy.uint8 and b.shape[1] == 32 for b in batches))
        numpy.testing.assert_array_equal(numpy.concatenate(batches), self.stored)

    def test_rank_and_worker_shares_hold_every_record_once(self):
        shares = [
            read_all(self.dataset, rank=rank, world=2, worker=worker, workers=2,
                     shuffle_buffer=64, seed=3, epoch=1)
            for rank in range(2) for worker in range(2)
        ]
        self.assertTrue(all(len(share) for share in shares))
        self.assertEqual(as_rows(numpy.concatenate(shares)), as_rows(self.stored))

    def test_shuffled_order_follows_seed_and_epoch(self):
        first = read_all(self.dataset, shuffle_buffer=256, seed=7, epoch=0)
        again = read_all(self.dataset, shuffle_buffer=256, seed=7, epoch=0)
        numpy.testing.assert_array_equal(first, again)
        next_epoch = read_all(self.dataset, shuffle_buffer=256, seed=7, epoch=1)
        self.assertFalse(numpy.array_equal(first, next_epoch))
        self.assertFalse(numpy.array_equal(first, self.stored))
        self.assertEqual(as_rows(next_epoch), as_rows(self.stored))

    def test_batches_into_one_array_give_the_stored_records(self):
        array = numpy.full((1000, 32), 0xAB, dtype=numpy.uint8)
        copies = []
        for batch in self.dataset.batches(1000, out=array):
            self.assertTrue(numpy.shares_memory(batch, array))
            copies.append(batch.copy())
        self.assertNotEqual(len(self.stored) % 1000, 0)  # a shorter last batch is covered
        numpy.testing.assert_array_equal(numpy.concatenate(copies), self.stored)
        with self.assertRaises(ValueError):
            next(self.dataset.batches(1000, out=numpy.empty((999, 32), dtype=numpy.uint8)))

    def test_decode_into_reused_columns_matches_a_fresh_decode(self):
        # Damaged records among them, so that records that do not decode overwrite what the
        # previous batch left in their rows too.
        records = self.stored[:2500].copy()
        records[::7, 0] ^= 0x7E
        columns = boardmill.empty_columns(1000)
        for column in columns.values():
            column.view(numpy.uint8).fill(0xA5)
        for start in range(0, len(records), 1000):  # the last batch is shorter
            batch = records[start:start + 1000]
            reused = boardmill.decode(batch, out=columns)
            fresh = boardmill.decode(batch.copy())
            self.assertEqual(reused.keys(), fresh.keys())
            for name, column in fresh.items():
                self.assertTrue(numpy.shares_memory(reused[name], columns[name]), name)
                numpy.testing.assert_array_equal(reused[name], column, err_msg=name)
        self.assertLess(fresh["valid"].sum(), len(fresh["valid"]))
        too_small = boardmill.empty_columns(10)
        with self.assertRaisesRegex(ValueError, "room for 10"):
            boardmill.decode(records[:11], out=too_small)
        too_small["bitboards"] = too_small["bitboards"].astype(numpy.int64)
        with self.assertRaisesRegex(ValueError, "bitboards"):
            boardmill.decode(records[:10], out=too_small)

    def test_decode_to_fen_and_encode_agree_with_decode_shards(self):
        fens = run_boardmill("decode-shards", self.out).stdout.splitlines()
        self.assertEqual([boardmill.to_fen(record) for record in self.stored], fens)
        positions = boardmill.decode(self.stored)
        self.assertTrue(positions["valid"].all())
        numpy.testing.assert_array_equal(boardmill.encode(positions), self.stored)
        # Each bitboard holds the squares of its piece: P N B R Q K p n b r q k are codes
        # 1 3 5 7 9 11 2 4 6 8 10 12.
        codes = [1, 3, 5, 7, 9, 11, 2, 4, 6, 8, 10, 12]
        squares = numpy.uint64(1) << numpy.arange(64, dtype=numpy.uint64)
        for board, code in enumerate(codes):
            expected = numpy.where(positions["pieces"] == code, squares, numpy.uint64(0))
            numpy.testing.assert_array_equal(
                numpy.bitwise_or.reduce(expected, axis=1), positions["bitboards"][:, board]
            )

    def test_damaged_records_decode_as_the_pure_python_decoder_does(self):
        # Records with a few bits flipped: many still decode, others fail in every way a record
        # can (king squares, piece codes, fields past the end).
        generator = random.Random(5)
        records = self.stored[:2000].copy()
        for record in records:
            for _ in range(generator.randint(1, 3)):
                bit = generator.randrange(256)
                record[bit // 8] ^= 1 << (bit % 8)
        positions = boardmill.decode(records)
        for record, valid in zip(records, positions["valid"]):
            try:
                fen = boardmill.decode_fen(record)
            except ValueError:
                self.assertEqual(valid, 0)
                with self.assertRaises(ValueError):
                    boardmill.to_fen(record)
                continue
            self.assertEqual(valid, 1)
            self.assertEqual(boardmill.to_fen(record), fen)
        self.assertGreater(positions["valid"].sum(), 0)
        self.assertLess(positions["valid"].sum(), len(records))

    def test_encode_refuses_a_position_a_record_cannot_hold(self):
        positions = boardmill.decode(self.stored[:3])
        positions["pieces"][1] = 0
        with self.assertRaisesRegex(ValueError, "1"):
            boardmill.encode(positions)

    def test_a_damaged_shard_raises_instead_of_yielding_records(self):
        damaged = os.path.join(self.temp, "damaged")
        shutil.copytree(self.out, damaged)
        shard = os.path.join(damaged, boardmill.load_index(damaged)["shards"][2]["file"])
        with open(shard, "r+b") as file:
            file.truncate(os.path.getsize(shard) // 2)
        with boardmill.Dataset(damaged) as dataset:
            with self.assertRaises(boardmill.BoardmillError):
                read_all(dataset)

    def test_an_unloadable_library_is_a_clear_error(self):
        run = subprocess.run(
            [sys.executable, "-c", "import boardmill"],
            env={**os.environ, "BOARDMILL_LIBRARY": os.path.join(self.temp, "missing.so")},
            capture_output=True, text=True,
        )
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("BOARDMILL_LIBRARY=", run.stderr.splitlines()[-1])

    def test_a_missing_directory_is_a_clear_error(self):
        with self.assertRaises(boardmill.BoardmillError):
            boardmill.Dataset(os.path.join(self.temp, "nowhere"))


if __name__ == "__main__":
    take_command_line()
    unittest.main(argv=sys.argv[:1], verbosity=2)
