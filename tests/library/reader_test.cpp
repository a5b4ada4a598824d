// Datasets and readers of the C library over the sample conversion: stored order, the rank and
// worker splits, the shuffle, and shards that are damaged or not files at all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "boardmill/boardmill.h"
#include "sample_conversion.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRecordSize = 32;

boardmill_dataset* OpenDataset(const fs::path& directory, int verify) {
  boardmill_dataset* dataset = nullptr;
  EXPECT_EQ(boardmill_dataset_open(directory.c_str(), verify, &dataset), 0)
      << boardmill_last_error();
  return dataset;
}

// Everything one reader returns, read in batches of an odd size; the error message instead when
// a call fails.
struct ReadOutcome {
  std::string records;
  std::string error;
};

ReadOutcome ReadAll(const boardmill_dataset* dataset, const boardmill_reader_options& options) {
  boardmill_reader* reader = nullptr;
  if (boardmill_reader_open(dataset, &options, &reader) != 0) return {"", boardmill_last_error()};
  ReadOutcome outcome;
  std::string batch(333 * kRecordSize, '\0');
  for (;;) {
    const std::int64_t read =
        boardmill_reader_next(reader, reinterpret_cast<std::uint8_t*>(batch.data()), 333);
    if (read < 0) {
      outcome.error = boardmill_last_error();
      break;
    }
    if (read == 0) break;
    outcome.records.append(batch.data(), static_cast<std::size_t>(read) * kRecordSize);
  }
  boardmill_reader_close(reader);
  return outcome;
}

std::vector<std::string> Cut(const std::string& records) {
  std::vector<std::string> cut;
  for (std::size_t offset = 0; offset < records.size(); offset += kRecordSize) {
    cut.push_back(records.substr(offset, kRecordSize));
  }
  return cut;
}

std::vector<std::string> Sorted(std::vector<std::string> records) {
  std::sort(records.begin(), records.end());
  return records;
}

class LibraryReader : public ::testing::Test {
 protected:
  void SetUp() override { dataset_ = OpenDataset(sample_.directory(), 1); }
  void TearDown() override { boardmill_dataset_close(dataset_); }

  const SampleConversion& sample_ = SampleConversion::Get();
  boardmill_dataset* dataset_ = nullptr;
};

TEST_F(LibraryReader, OneReaderWithoutShuffleReturnsEveryRecordInStoredOrder) {
  ASSERT_NE(dataset_, nullptr);
  const std::string all = sample_.AllRecords();
  EXPECT_EQ(boardmill_dataset_shards(dataset_), SampleConversion::kShards);
  EXPECT_EQ(boardmill_dataset_records(dataset_), all.size() / kRecordSize);
  const ReadOutcome read = ReadAll(dataset_, {0, 1, 0, 1, 0, 0, 0});
  EXPECT_EQ(read.error, "");
  EXPECT_TRUE(read.records == all);
}

TEST_F(LibraryReader, RankAndWorkerSplitsPartitionEveryRecordOncePerEpoch) {
  ASSERT_NE(dataset_, nullptr);
  const std::vector<std::string> all = Sorted(Cut(sample_.AllRecords()));
  struct Split {
    std::uint32_t world, workers;
    std::uint64_t shuffle_buffer;
  };
  for (const Split split : {Split{2, 3, 0}, Split{3, 2, 100}, Split{1, 4, 1}, Split{8, 1, 0}}) {
    std::vector<std::string> union_of_readers;
    for (std::uint32_t rank = 0; rank < split.world; ++rank) {
      for (std::uint32_t worker = 0; worker < split.workers; ++worker) {
        const ReadOutcome read = ReadAll(
            dataset_, {rank, split.world, worker, split.workers, split.shuffle_buffer, 5, 2});
        ASSERT_EQ(read.error, "");
        // Each reader reads whole shards: its records are exactly those of the shards it owns.
        std::string owned;
        std::uint32_t rank_shard = 0;
        for (std::uint64_t id = rank; id < SampleConversion::kShards; id += split.world) {
          if (rank_shard++ % split.workers == worker) owned += sample_.shard_records()[id];
        }
        EXPECT_EQ(Sorted(Cut(read.records)), Sorted(Cut(owned)))
            << "rank " << rank << " worker " << worker;
        const std::vector<std::string> records = Cut(read.records);
        union_of_readers.insert(union_of_readers.end(), records.begin(), records.end());
      }
    }
    EXPECT_EQ(Sorted(union_of_readers), all) << split.world << " x " << split.workers;
  }
}

TEST_F(LibraryReader, ShuffleIsAFunctionOfSeedAndEpoch) {
  ASSERT_NE(dataset_, nullptr);
  const boardmill_reader_options options{0, 1, 0, 1, 500, 7, 1};
  const ReadOutcome first = ReadAll(dataset_, options);
  ASSERT_EQ(first.error, "");
  EXPECT_TRUE(ReadAll(dataset_, options).records == first.records);
  EXPECT_EQ(Sorted(Cut(first.records)), Sorted(Cut(sample_.AllRecords())));
  EXPECT_FALSE(first.records == sample_.AllRecords());

  boardmill_reader_options next_epoch = options;
  next_epoch.epoch = 2;
  const ReadOutcome second = ReadAll(dataset_, next_epoch);
  EXPECT_FALSE(second.records == first.records);
  EXPECT_EQ(Sorted(Cut(second.records)), Sorted(Cut(first.records)));

  boardmill_reader_options other_seed = options;
  other_seed.seed = 8;
  EXPECT_FALSE(ReadAll(dataset_, other_seed).records == first.records);
}

TEST_F(LibraryReader, RefusesSplitsWithoutReaders) {
  ASSERT_NE(dataset_, nullptr);
  boardmill_reader* reader = nullptr;
  const boardmill_reader_options no_world{0, 0, 0, 1, 0, 0, 0};
  EXPECT_LT(boardmill_reader_open(dataset_, &no_world, &reader), 0);
  EXPECT_STREQ(boardmill_last_error(), "Reader rank 0 is not below world 0.");
  const boardmill_reader_options worker_past_end{0, 1, 2, 2, 0, 0, 0};
  EXPECT_LT(boardmill_reader_open(dataset_, &worker_past_end, &reader), 0);
  EXPECT_STREQ(boardmill_last_error(), "Reader worker 2 is not below workers 2.");
  EXPECT_EQ(reader, nullptr);
}

// A copy of the sample conversion with one shard changed by `damage`.
class DamagedShard : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(SampleConversion::Get().directory(), directory());
    shard_ = directory() / SampleConversion::Get().Shard(3).filename();
  }

  fs::path directory() const { return temp_.path() / "copy"; }

  // What reading the whole dataset ends with, with and without verification.
  std::string ReadError(int verify) {
    boardmill_dataset* dataset = OpenDataset(directory(), verify);
    if (dataset == nullptr) return "not opened";
    const ReadOutcome read = ReadAll(dataset, {0, 1, 0, 1, 0, 0, 0});
    boardmill_dataset_close(dataset);
    return read.error;
  }

  TempDir temp_;
  fs::path shard_;
};

// Shard 3's damage shows only once every record of the shards before it was handed out, and
// the reader stays failed after it.
TEST_F(DamagedShard, EveryRecordBeforeTheDamagedShardComesFirstThenTheErrorStays) {
  const std::string stored = ReadFile(shard_);
  WriteFile(shard_, stored.substr(0, stored.size() / 2));
  boardmill_dataset* dataset = OpenDataset(directory(), 0);
  ASSERT_NE(dataset, nullptr);
  const boardmill_reader_options options{0, 1, 0, 1, 0, 0, 0};
  boardmill_reader* reader = nullptr;
  ASSERT_EQ(boardmill_reader_open(dataset, &options, &reader), 0) << boardmill_last_error();
  std::string before;
  for (int shard = 0; shard < 3; ++shard) before += SampleConversion::Get().shard_records()[shard];
  std::string returned(before.size() + kRecordSize, '\0');
  std::size_t filled = 0;
  std::int64_t read = 0;
  while ((read = boardmill_reader_next(
              reader, reinterpret_cast<std::uint8_t*>(returned.data()) + filled * kRecordSize, 1)) >
         0) {
    ASSERT_LT(++filled * kRecordSize, returned.size());
  }
  EXPECT_LT(read, 0);
  EXPECT_TRUE(returned.substr(0, filled * kRecordSize) == before);
  const std::string error = boardmill_last_error();
  EXPECT_EQ(error.rfind("Failed to read shard " + shard_.string(), 0), 0) << error;
  EXPECT_LT(boardmill_reader_next(reader, reinterpret_cast<std::uint8_t*>(returned.data()), 1), 0);
  EXPECT_EQ(boardmill_last_error(), error);
  boardmill_reader_close(reader);
  boardmill_dataset_close(dataset);
}

TEST_F(DamagedShard, ChangedBytesFailVerification) {
  std::string stored = ReadFile(shard_);
  stored[stored.size() / 2] ^= 0x10;
  WriteFile(shard_, stored);
  EXPECT_EQ(ReadError(1), "Shard file hash differs from the shard index: " + shard_.string());
}

TEST_F(DamagedShard, CutShardFailsEvenUnverified) {
  const std::string stored = ReadFile(shard_);
  WriteFile(shard_, stored.substr(0, stored.size() - 7));
  EXPECT_EQ(ReadError(0), "Failed to read shard " + shard_.string() +
                              ": Zstd decompression ended before the frame was fully decoded.");
}

TEST_F(DamagedShard, WholeFrameOfOtherRecordsFailsOnTheIndexCount) {
  WriteZstdFile(shard_, std::string(5 * kRecordSize, 'x'));
  EXPECT_EQ(ReadError(0), "Shard record count differs from the shard index: " + shard_.string());
}

TEST_F(DamagedShard, FifoInAShardsPlaceIsRefusedWithoutBlocking) {
  fs::remove(shard_);
  ASSERT_EQ(::mkfifo(shard_.c_str(), 0600), 0);
  EXPECT_EQ(ReadError(0), "Shard is not a regular file: " + shard_.string());
}

}  // namespace
}  // namespace boardmill::testing
