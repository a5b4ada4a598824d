#include "compression/zstd_frame_compressor.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace boardmill::compression {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Decompress(const std::vector<std::uint8_t>& frame) {
  const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  EXPECT_NE(size, ZSTD_CONTENTSIZE_UNKNOWN) << "the frame does not state its size";
  EXPECT_NE(size, ZSTD_CONTENTSIZE_ERROR);
  std::string text(size, '\0');
  const std::size_t written = ZSTD_decompress(text.data(), text.size(), frame.data(), frame.size());
  EXPECT_FALSE(ZSTD_isError(written));
  return text;
}

// One context serves frame after frame at different levels; each frame holds its pieces in
// order, states its size, and is complete on its own; an empty frame is a valid frame too.
TEST(ZstdFrameCompressorTest, CompressesPiecesAsOneSizedFrameFrameAfterFrame) {
  ZstdFrameCompressor compressor;
  const std::string first(3 << 20, 'a');
  const std::string second = "second piece";
  for (const int level : {8, -5, 1}) {
    std::vector<std::uint8_t> frame;
    const std::span<const std::uint8_t> pieces[] = {Bytes(first), Bytes(second)};
    const util::Result<std::uint64_t> size =
        compressor.CompressFrame(level, pieces, [&](std::span<const std::uint8_t> bytes) {
          frame.insert(frame.end(), bytes.begin(), bytes.end());
          return util::Result<void>();
        });
    ASSERT_TRUE(size) << size.error();
    EXPECT_EQ(*size, frame.size());
    EXPECT_EQ(Decompress(frame), first + second) << "level " << level;
  }
  std::vector<std::uint8_t> empty;
  ASSERT_TRUE(compressor.CompressFrame(3, {}, [&](std::span<const std::uint8_t> bytes) {
    empty.insert(empty.end(), bytes.begin(), bytes.end());
    return util::Result<void>();
  }));
  EXPECT_EQ(Decompress(empty), "");
}

TEST(ZstdFrameCompressorTest, ASinkErrorEndsTheFrameWithThatError) {
  ZstdFrameCompressor compressor;
  const std::string text(1000, 'x');
  const std::span<const std::uint8_t> piece = Bytes(text);
  const util::Result<std::uint64_t> size = compressor.CompressFrame(
      3, {&piece, 1},
      [](std::span<const std::uint8_t>) -> util::Result<void> { return util::Fail("disk full"); });
  ASSERT_FALSE(size);
  EXPECT_EQ(size.error(), "disk full");
}

}  // namespace
}  // namespace boardmill::compression
