#include "compression/block_compressor.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

namespace boardmill::compression {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One block's frame on its own.
util::Result<Bytes> CompressBlock(std::span<const std::uint8_t> raw, int compression_level) {
  Bytes frame;
  util::Result<std::uint64_t> appended = AppendCompressedBlock(raw, compression_level, frame);
  if (!appended) return std::move(appended).TakeError();
  return frame;
}

// Record-like blocks: 32-byte records drawn from a small set, so they compress but not to
// nothing.
Bytes RecordBlock(std::size_t records, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes palette(64 * 32);
  for (std::uint8_t& byte : palette) byte = static_cast<std::uint8_t>(generator());
  Bytes block;
  block.reserve(records * 32);
  for (std::size_t record = 0; record < records; ++record) {
    const std::size_t pick = generator() % 64;
    block.insert(block.end(), palette.begin() + static_cast<std::ptrdiff_t>(pick * 32),
                 palette.begin() + static_cast<std::ptrdiff_t>(pick * 32 + 32));
  }
  return block;
}

// Decodes a stream of one or more frames; fails the test on any decoding error.
Bytes DecompressStream(const Bytes& stream) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  Bytes text;
  Bytes buffer(1 << 16);
  ZSTD_inBuffer input{stream.data(), stream.size(), 0};
  std::size_t status = 0;
  do {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    status = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(status)) break;
    text.insert(text.end(), buffer.begin(),
                buffer.begin() + static_cast<std::ptrdiff_t>(output.pos));
  } while (input.pos < input.size || status != 0);
  ZSTD_freeDCtx(context);
  EXPECT_FALSE(ZSTD_isError(status)) << ZSTD_getErrorName(status);
  return text;
}

// The frame must be exactly one complete frame, with nothing before or after it.
void ExpectSingleFrame(const Bytes& frame) {
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(ZSTD_findFrameCompressedSize(frame.data(), frame.size()), frame.size());
}

TEST(BlockCompressorTest, EmptyInputGivesAMinimalFrameThatDecodesToNothing) {
  const util::Result<Bytes> frame = CompressBlock({}, 3);
  ASSERT_TRUE(frame.ok()) << frame.error();
  ExpectSingleFrame(*frame);
  EXPECT_EQ(ZSTD_getFrameContentSize(frame->data(), frame->size()), 0U);
  EXPECT_TRUE(DecompressStream(*frame).empty());
}

TEST(BlockCompressorTest, ConsecutiveFramesDecodeToTheConcatenatedBlocks) {
  const Bytes first = RecordBlock(20000, 1);
  const Bytes second = RecordBlock(5000, 2);
  const util::Result<Bytes> first_frame = CompressBlock(first, 3);
  const util::Result<Bytes> second_frame = CompressBlock(second, 3);
  ASSERT_TRUE(first_frame.ok()) << first_frame.error();
  ASSERT_TRUE(second_frame.ok()) << second_frame.error();
  ExpectSingleFrame(*first_frame);
  ExpectSingleFrame(*second_frame);
  EXPECT_LT(first_frame->size(), first.size());

  Bytes stream = *first_frame;
  stream.insert(stream.end(), second_frame->begin(), second_frame->end());
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_TRUE(DecompressStream(stream) == expected);
}

// A smaller block after a larger one: the buffer the thread compresses into still holds the
// larger frame, and only the new frame's bytes may reach the output, after what it held.
TEST(BlockCompressorTest, AppendedFramesFollowWhatTheOutputHeldAndNothingElse) {
  const Bytes large = RecordBlock(20000, 4);
  const Bytes small = RecordBlock(300, 5);
  const Bytes prefix = {1, 2, 3};
  Bytes output = prefix;
  const util::Result<std::uint64_t> large_size = AppendCompressedBlock(large, 3, output);
  const util::Result<std::uint64_t> small_size = AppendCompressedBlock(small, 3, output);
  ASSERT_TRUE(large_size.ok()) << large_size.error();
  ASSERT_TRUE(small_size.ok()) << small_size.error();
  ASSERT_EQ(output.size(), prefix.size() + *large_size + *small_size);
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), output.begin()));
  const Bytes frames(output.begin() + static_cast<std::ptrdiff_t>(prefix.size()), output.end());
  EXPECT_EQ(ZSTD_findFrameCompressedSize(frames.data(), frames.size()), *large_size);
  Bytes expected = large;
  expected.insert(expected.end(), small.begin(), small.end());
  EXPECT_TRUE(DecompressStream(frames) == expected);
}

// The level reaches the library: the frame equals a one-shot compression at the same level,
// for the default (0), a fast negative level and a strong one.
TEST(BlockCompressorTest, FrameMatchesTheLibraryAtTheRequestedLevel) {
  const Bytes block = RecordBlock(10000, 3);
  for (const int level : {0, -5, 1, 19}) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    const util::Result<Bytes> frame = CompressBlock(block, level);
    ASSERT_TRUE(frame.ok()) << frame.error();
    Bytes reference(ZSTD_compressBound(block.size()));
    reference.resize(
        ZSTD_compress(reference.data(), reference.size(), block.data(), block.size(), level));
    EXPECT_TRUE(*frame == reference);
  }
}

// Threads compress at the same time, each with its own context, and get the same bytes as a
// single thread; their contexts are freed when they exit (a leak would show under the
// address sanitizer).
TEST(BlockCompressorTest, ManyThreadsProduceTheSameFramesAsOneThread) {
  constexpr int kThreads = 8;
  constexpr int kBlocksPerThread = 6;
  std::vector<Bytes> blocks;
  std::vector<Bytes> expected;
  for (int index = 0; index < kThreads * kBlocksPerThread; ++index) {
    blocks.push_back(RecordBlock(2000 + 500 * static_cast<std::size_t>(index), index + 10));
    const util::Result<Bytes> alone = CompressBlock(blocks.back(), index % 2 == 0 ? 3 : 7);
    ASSERT_TRUE(alone.ok()) << alone.error();
    expected.push_back(*alone);
  }
  std::vector<Bytes> produced(blocks.size());
  std::vector<std::string> errors(blocks.size());
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (int round = 0; round < kBlocksPerThread; ++round) {
        const int index = round * kThreads + thread;
        util::Result<Bytes> frame = CompressBlock(blocks[index], index % 2 == 0 ? 3 : 7);
        if (frame) {
          produced[index] = std::move(*frame);
        } else {
          errors[index] = frame.error();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t index = 0; index < blocks.size(); ++index) {
    SCOPED_TRACE(::testing::Message() << "block " << index);
    EXPECT_EQ(errors[index], "");
    EXPECT_TRUE(produced[index] == expected[index]);
  }
}

}  // namespace
}  // namespace boardmill::compression
