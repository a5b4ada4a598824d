#include "io/overlapped_file_reader.h"

#include <gtest/gtest.h>
#include <liburing.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "util/name_table.h"

namespace boardmill::io {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// Random bytes, so that a chunk delivered at the wrong place or a lost byte cannot go unseen.
std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

std::string Concatenate(const std::vector<AsyncFileReadChunk>& chunks) {
  std::string text;
  for (const AsyncFileReadChunk& chunk : chunks)
    text.append(chunk.bytes.begin(), chunk.bytes.end());
  return text;
}

AsyncFileChunkVisitor CollectInto(std::vector<AsyncFileReadChunk>& chunks) {
  return [&chunks](AsyncFileReadChunk&& chunk) -> util::Result<bool> {
    chunks.push_back(std::move(chunk));
    return true;
  };
}

// Keeps the chunks it is handed and gives `answer` for chunk number `last` (from 1), true for
// those before it.
AsyncFileChunkVisitor CollectUntil(std::vector<AsyncFileReadChunk>& chunks, std::size_t last,
                                   const util::Result<bool>& answer) {
  return [&chunks, last, answer](AsyncFileReadChunk&& chunk) -> util::Result<bool> {
    chunks.push_back(std::move(chunk));
    return chunks.size() == last ? answer : true;
  };
}

bool IoUringUsable() {
  io_uring ring;
  if (io_uring_queue_init(2, &ring, 0) < 0) return false;
  io_uring_queue_exit(&ring);
  return true;
}

// Every backend, named as its tests are.
constexpr util::NameTable<AsyncReadBackend, 3> kBackends = {
    {{AsyncReadBackend::kAutomatic, "Automatic"},
     {AsyncReadBackend::kIoUring, "IoUring"},
     {AsyncReadBackend::kPositionalReads, "PositionalReads"}}};

class OverlappedFileReaderTest
    : public ::testing::TestWithParam<util::NamedValue<AsyncReadBackend>> {
 protected:
  void SetUp() override {
    if (GetParam().value == AsyncReadBackend::kIoUring && !IoUringUsable()) {
      GTEST_SKIP() << "io_uring is not available on this machine";
    }
  }

  AsyncFileReadRequest Request(const fs::path& path, std::uint64_t chunk_size,
                               std::uint64_t max_reads_in_flight) const {
    return AsyncFileReadRequest{path, chunk_size, max_reads_in_flight, GetParam().value};
  }

  fs::path WriteInput(const std::string& content) const {
    const fs::path path = directory_ / "input.bin";
    testing::WriteFile(path, content);
    return path;
  }

  testing::TempDir directory_;
};

TEST_P(OverlappedFileReaderTest, EmptyFileSucceedsWithoutCallingTheVisitor) {
  const fs::path path = WriteInput("");
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> result =
      VisitFileChunksAsync(Request(path, 8, 4), stats, CollectInto(chunks));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_TRUE(*result);
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(stats.bytes, 0U);
  EXPECT_EQ(stats.chunks, 0U);
  EXPECT_EQ(stats.elapsed_seconds, 0.0);
}

TEST_P(OverlappedFileReaderTest, TwentyMebibytesArriveAsThreeChunksInFileOrder) {
  const std::string content = RandomBytes(20 * kMiB);
  const fs::path path = WriteInput(content);
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> result =
      VisitFileChunksAsync(Request(path, 8 * kMiB, 4), stats, CollectInto(chunks));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_TRUE(*result);
  ASSERT_EQ(chunks.size(), 3U);
  const std::uint64_t expected_sizes[] = {8 * kMiB, 8 * kMiB, 4 * kMiB};
  for (std::uint64_t index = 0; index < 3; ++index) {
    EXPECT_EQ(chunks[index].sequence, index);
    EXPECT_EQ(chunks[index].offset, index * 8 * kMiB);
    EXPECT_EQ(chunks[index].bytes.size(), expected_sizes[index]);
  }
  EXPECT_TRUE(Concatenate(chunks) == content);
  EXPECT_EQ(stats.bytes, 20 * kMiB);
  EXPECT_EQ(stats.chunks, 3U);
}

struct ChunkLayoutCase {
  std::size_t file_size;
  std::uint64_t chunk_size;
  std::uint64_t max_reads_in_flight;
};

TEST_P(OverlappedFileReaderTest, ChunksTileTheFileForAnyChunkSizeAndDepth) {
  const ChunkLayoutCase cases[] = {
      {1000, 64, 3},                   // size not a multiple of the chunk
      {1000, 1000, 4},                 // exactly one chunk
      {1000, 1001, 2},                 // chunk larger than the file
      {1000, 999, 1},                  // one byte left for the last chunk, one read at a time
      {50, 0, 4},                      // chunk size 0 reads one byte at a time
      {4096, 7, 0},                    // no depth given: one read at a time
      {5000, 10, 100},                 // more reads asked for than can be in flight
      {3, std::uint64_t{1} << 40, 4},  // a chunk size far beyond the file
  };
  for (const ChunkLayoutCase& layout : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "size " << layout.file_size << ", chunk " << layout.chunk_size << ", depth "
                 << layout.max_reads_in_flight);
    const std::string content = RandomBytes(layout.file_size);
    const fs::path path = WriteInput(content);
    AsyncFileReadStats stats;
    std::vector<AsyncFileReadChunk> chunks;
    const util::Result<bool> result = VisitFileChunksAsync(
        Request(path, layout.chunk_size, layout.max_reads_in_flight), stats, CollectInto(chunks));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_TRUE(*result);
    const std::uint64_t chunk_size = std::max<std::uint64_t>(layout.chunk_size, 1);
    const std::uint64_t expected_chunks = (layout.file_size + chunk_size - 1) / chunk_size;
    ASSERT_EQ(chunks.size(), expected_chunks);
    for (std::uint64_t index = 0; index < chunks.size(); ++index) {
      EXPECT_EQ(chunks[index].sequence, index);
      EXPECT_EQ(chunks[index].offset, index * chunk_size);
      if (index + 1 < chunks.size()) {
        EXPECT_EQ(chunks[index].bytes.size(), chunk_size);
      } else {
        EXPECT_EQ(chunks[index].bytes.size(), layout.file_size - index * chunk_size);
      }
    }
    EXPECT_TRUE(Concatenate(chunks) == content);
    EXPECT_EQ(stats.bytes, layout.file_size);
    EXPECT_EQ(stats.chunks, expected_chunks);
  }
}

TEST_P(OverlappedFileReaderTest, VisitorStoppingOnTheFirstChunkEndsTheRead) {
  const fs::path path = WriteInput(RandomBytes(1000));
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> result =
      VisitFileChunksAsync(Request(path, 100, 4), stats, CollectUntil(chunks, 1, false));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_FALSE(*result);
  ASSERT_EQ(chunks.size(), 1U);
  EXPECT_EQ(chunks[0].sequence, 0U);
  EXPECT_EQ(stats.chunks, 1U);
  EXPECT_EQ(stats.bytes, 100U);
}

TEST_P(OverlappedFileReaderTest, VisitorErrorAbortsTheReadUnchanged) {
  const fs::path path = WriteInput(RandomBytes(1000));
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> result = VisitFileChunksAsync(
      Request(path, 100, 4), stats, CollectUntil(chunks, 2, util::Fail("Chunk rejected.")));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Chunk rejected.");
  EXPECT_EQ(chunks.size(), 2U);
  EXPECT_EQ(stats.chunks, 2U);
}

TEST_P(OverlappedFileReaderTest, RefusesAMissingFileAndAnEmptyVisitor) {
  const fs::path missing = directory_ / "missing.bin";
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> opened =
      VisitFileChunksAsync(Request(missing, 8, 4), stats, CollectInto(chunks));
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error(),
            "Failed to open input file " + missing.string() + ": No such file or directory");

  const fs::path path = WriteInput("data");
  const util::Result<bool> visited = VisitFileChunksAsync(Request(path, 8, 4), stats, {});
  ASSERT_FALSE(visited.ok());
  EXPECT_EQ(visited.error(), "Async file chunk visitor must be callable.");
}

// The file loses its tail after its size was taken: the read of the second chunk comes back
// short, is asked again for the rest and then finds the end of the file.
TEST_P(OverlappedFileReaderTest, FileThatShrinksDuringTheReadFails) {
  const fs::path path = WriteInput(RandomBytes(300));
  AsyncFileReadStats stats;
  int calls = 0;
  const util::Result<bool> result = VisitFileChunksAsync(
      Request(path, 100, 1), stats, [&](AsyncFileReadChunk&&) -> util::Result<bool> {
        ++calls;
        fs::resize_file(path, 150);
        return true;
      });
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(),
            "Failed to complete async read for " + path.string() + ": unexpected end of file");
  EXPECT_EQ(calls, 1);
}

TEST_P(OverlappedFileReaderTest, ReadErrorOfTheSystemIsReported) {
  struct stat status {};
  ASSERT_EQ(stat(directory_.path().c_str(), &status), 0);
  if (status.st_size == 0) GTEST_SKIP() << "directories report no size on this file system";
  AsyncFileReadStats stats;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> result =
      VisitFileChunksAsync(Request(directory_.path(), 64, 4), stats, CollectInto(chunks));
  ASSERT_FALSE(result.ok());
  const std::string prefix =
      "Failed to complete async read for " + directory_.path().string() + ": ";
  EXPECT_EQ(result.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(result.error().size(), prefix.size());
  EXPECT_TRUE(chunks.empty());
}

// One reader serves file after file with the same set-up: reads cancelled when a file was
// stopped or failed must not surface in the next file.
TEST_P(OverlappedFileReaderTest, AReaderGoesOnCleanlyAfterAFileStoppedOrFailedMidway) {
  const std::string first = RandomBytes(1000);
  const std::string second = RandomBytes(777);
  testing::WriteFile(directory_ / "first.bin", first);
  testing::WriteFile(directory_ / "second.bin", second);
  AsyncFileReader reader;
  const auto read_second_whole = [&] {
    AsyncFileReadStats stats;
    std::vector<AsyncFileReadChunk> chunks;
    const util::Result<bool> result =
        reader.Visit(Request(directory_ / "second.bin", 100, 4), stats, CollectInto(chunks));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_TRUE(*result);
    EXPECT_TRUE(Concatenate(chunks) == second);
    EXPECT_EQ(stats.chunks, 8U);
  };

  AsyncFileReadStats stopped;
  std::vector<AsyncFileReadChunk> chunks;
  const util::Result<bool> stop = reader.Visit(Request(directory_ / "first.bin", 100, 4), stopped,
                                               CollectUntil(chunks, 1, false));
  ASSERT_TRUE(stop.ok()) << stop.error();
  EXPECT_FALSE(*stop);
  read_second_whole();

  AsyncFileReadStats failed;
  chunks.clear();
  const util::Result<bool> failure = reader.Visit(Request(directory_ / "first.bin", 100, 4), failed,
                                                  CollectUntil(chunks, 1, util::Fail("Rejected.")));
  EXPECT_FALSE(failure.ok());
  read_second_whole();
}

INSTANTIATE_TEST_SUITE_P(
    Backends, OverlappedFileReaderTest, ::testing::ValuesIn(kBackends),
    [](const ::testing::TestParamInfo<util::NamedValue<AsyncReadBackend>>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace boardmill::io
