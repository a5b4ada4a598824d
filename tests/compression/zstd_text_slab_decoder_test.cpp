#include "compression/zstd_text_slab_decoder.h"

#include <gtest/gtest.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace boardmill::compression {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes CompressFrame(const std::string& text, int level = 3) {
  Bytes frame(ZSTD_compressBound(text.size()));
  const std::size_t size =
      ZSTD_compress(frame.data(), frame.size(), text.data(), text.size(), level);
  EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
  frame.resize(size);
  return frame;
}

// Lines of random letters and digits: compressible like real text, yet never repetitive enough
// to hide a slab that lands in the wrong place.
std::string RandomText(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  const std::string alphabet = "pnbrqkPNBRQK12345678/ w-";
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    text.push_back(generator() % 60 == 0 ? '\n' : alphabet[generator() % alphabet.size()]);
  }
  return text;
}

// Every slab a decoder handed out, with the totals its calls reported.
struct Collected {
  std::vector<ZstdTextSlab> slabs;
  ZstdSlabDecodeStats totals;

  TextSlabVisitor Visitor() {
    return [this](ZstdTextSlab&& slab) -> util::Result<bool> {
      slabs.push_back(std::move(slab));
      return true;
    };
  }
  void Add(const ZstdSlabDecodeStats& stats) {
    totals.slabs += stats.slabs;
    totals.bytes += stats.bytes;
  }
  std::string Text() const {
    std::string text;
    for (const ZstdTextSlab& slab : slabs) text += *slab.text;
    return text;
  }
};

// Feeds `compressed` in chunks of `chunk_size` bytes, then finishes the decoder.
util::Result<void> DecodeInChunks(ZstdTextSlabDecoder& decoder, const Bytes& compressed,
                                  std::size_t chunk_size, Collected& collected) {
  for (std::size_t offset = 0; offset < compressed.size(); offset += chunk_size) {
    const std::size_t length = std::min(chunk_size, compressed.size() - offset);
    util::Result<ZstdSlabDecodeStats> fed =
        decoder.Feed(std::span(compressed).subspan(offset, length), collected.Visitor());
    if (!fed) return std::move(fed).TakeError();
    collected.Add(*fed);
  }
  util::Result<ZstdSlabDecodeStats> finished = decoder.Finish(collected.Visitor());
  if (!finished) return std::move(finished).TakeError();
  collected.Add(*finished);
  return {};
}

// A decoder left in the middle of a frame, or after an error, decodes the next file from its
// start once reset, numbering its slabs from 0 at the new slab size.
TEST(ZstdTextSlabDecoderTest, AResetDecoderStartsAfreshWhateverTheLastFileLeft) {
  const std::string text = RandomText(50000, 7);
  const Bytes frame = CompressFrame(text);
  ZstdTextSlabDecoder decoder(1000, {});
  Collected stopped;
  ASSERT_TRUE(decoder.Feed(std::span(frame).first(frame.size() / 2), stopped.Visitor()).ok());
  // Whether the library notices the garbage at once or only later does not matter here.
  const Bytes garbage(64, 0xAB);
  static_cast<void>(decoder.Feed(garbage, stopped.Visitor()));

  for (const std::uint64_t slab_size : {std::uint64_t{4096}, std::uint64_t{1} << 20}) {
    decoder.Reset(slab_size);
    Collected collected;
    const util::Result<void> decoded = DecodeInChunks(decoder, frame, 777, collected);
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    EXPECT_TRUE(collected.Text() == text);
    ASSERT_FALSE(collected.slabs.empty());
    EXPECT_EQ(collected.slabs.front().sequence, 0U);
    EXPECT_LE(collected.slabs.front().text->size(), slab_size);
  }
  EXPECT_EQ(DeclaredContentSize(frame), text.size());
  EXPECT_EQ(DeclaredContentSize(garbage), 0U);
}

TEST(ZstdTextSlabDecoderTest, EmptyChunkDoesNotStartTheDecoder) {
  ZstdTextSlabDecoder decoder(64, {});
  Collected collected;
  const util::Result<ZstdSlabDecodeStats> fed = decoder.Feed({}, collected.Visitor());
  ASSERT_TRUE(fed.ok()) << fed.error();
  EXPECT_EQ(fed->slabs, 0U);
  EXPECT_EQ(fed->bytes, 0U);
  // A started decoder without a finished frame would report a truncated file here.
  const util::Result<ZstdSlabDecodeStats> finished = decoder.Finish(collected.Visitor());
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->slabs, 0U);
  EXPECT_TRUE(collected.slabs.empty());
}

TEST(ZstdTextSlabDecoderTest, FrameEndingExactlyAtTheChunkEndLeavesNothingForFinish) {
  const std::string text = RandomText(5000, 1);
  const Bytes frame = CompressFrame(text);
  ZstdTextSlabDecoder decoder(1 << 16, {});
  Collected collected;
  const util::Result<ZstdSlabDecodeStats> fed = decoder.Feed(frame, collected.Visitor());
  ASSERT_TRUE(fed.ok()) << fed.error();
  EXPECT_EQ(fed->bytes, text.size());
  const util::Result<ZstdSlabDecodeStats> finished = decoder.Finish(collected.Visitor());
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->slabs, 0U);
  EXPECT_EQ(finished->bytes, 0U);
  EXPECT_EQ(collected.Text(), text);
}

TEST(ZstdTextSlabDecoderTest, FileCutInsideAFrameFailsAtFinish) {
  const Bytes frame = CompressFrame(RandomText(5000, 2));
  // Inside the frame header, in the middle of the blocks, one byte short of the end.
  for (const std::size_t kept : {std::size_t{3}, frame.size() / 2, frame.size() - 1}) {
    for (const std::size_t chunk_size : {std::size_t{100}, frame.size()}) {
      SCOPED_TRACE(::testing::Message() << "kept " << kept << ", chunk " << chunk_size);
      const Bytes truncated(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(kept));
      ZstdTextSlabDecoder decoder(1 << 16, {});
      Collected collected;
      const util::Result<void> decoded = DecodeInChunks(decoder, truncated, chunk_size, collected);
      ASSERT_FALSE(decoded.ok());
      EXPECT_EQ(decoded.error(), "Zstd decompression ended before the frame was fully decoded.");
    }
  }
}

struct SlabCase {
  std::size_t text_size;
  std::uint64_t slab_size;
  std::size_t chunk_size;
};

TEST(ZstdTextSlabDecoderTest, SlabsHoldOneToSlabSizeBytesAndReassembleTheText) {
  const SlabCase cases[] = {
      {2000, 1, 7},                // one byte per slab, tiny chunks
      {5000, 0, 64},               // slab size 0 behaves as 1
      {300000, 4096, 1000},        // every chunk expands to several slabs
      {300000, 65536, 100000},     // large chunks
      {300000, 1 << 20, 1 << 20},  // the whole file in one chunk and one slab
  };
  for (const SlabCase& slab_case : cases) {
    SCOPED_TRACE(::testing::Message() << "text " << slab_case.text_size << ", slab "
                                      << slab_case.slab_size << ", chunk " << slab_case.chunk_size);
    const std::string text = RandomText(slab_case.text_size, 3);
    ZstdTextSlabDecoder decoder(slab_case.slab_size, {});
    Collected collected;
    const util::Result<void> decoded =
        DecodeInChunks(decoder, CompressFrame(text), slab_case.chunk_size, collected);
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    const std::uint64_t capacity = std::max<std::uint64_t>(slab_case.slab_size, 1);
    for (std::size_t index = 0; index < collected.slabs.size(); ++index) {
      const ZstdTextSlab& slab = collected.slabs[index];
      ASSERT_NE(slab.text, nullptr);
      EXPECT_GE(slab.text->size(), 1U);
      EXPECT_LE(slab.text->size(), capacity);
      EXPECT_EQ(slab.sequence, index);
    }
    EXPECT_TRUE(collected.Text() == text);
    EXPECT_EQ(collected.totals.slabs, collected.slabs.size());
    EXPECT_EQ(collected.totals.bytes, text.size());
  }
}

TEST(ZstdTextSlabDecoderTest, DecodesEveryFrameOfAMultiFrameFile) {
  const std::string first = RandomText(20000, 4);
  const std::string second = RandomText(30000, 5);
  const std::string third = RandomText(100, 6);
  Bytes file = CompressFrame(first);
  const std::size_t first_frame_end = file.size();
  for (const std::string* part : {&second, &third}) {
    const Bytes frame = CompressFrame(*part, 1);
    file.insert(file.end(), frame.begin(), frame.end());
  }
  // Frames ending mid-chunk, one chunk for the whole file, and a chunk cut at a frame end.
  for (const std::size_t chunk_size : {std::size_t{777}, file.size(), first_frame_end}) {
    SCOPED_TRACE(::testing::Message() << "chunk " << chunk_size);
    ZstdTextSlabDecoder decoder(8192, {});
    Collected collected;
    const util::Result<void> decoded = DecodeInChunks(decoder, file, chunk_size, collected);
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    EXPECT_TRUE(collected.Text() == first + second + third);
  }
}

TEST(ZstdTextSlabDecoderTest, VisitorStoppingEndsTheCallAtOnce) {
  const Bytes frame = CompressFrame(RandomText(50000, 7));
  ZstdTextSlabDecoder decoder(1000, {});
  int calls = 0;
  const util::Result<ZstdSlabDecodeStats> fed =
      decoder.Feed(frame, [&calls](ZstdTextSlab&&) -> util::Result<bool> {
        ++calls;
        return false;
      });
  ASSERT_TRUE(fed.ok()) << fed.error();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(fed->slabs, 1U);
  EXPECT_EQ(fed->bytes, 1000U);
}

TEST(ZstdTextSlabDecoderTest, VisitorErrorIsReturnedUnchanged) {
  const Bytes frame = CompressFrame(RandomText(5000, 8));
  ZstdTextSlabDecoder decoder(1000, {});
  const util::Result<ZstdSlabDecodeStats> fed = decoder.Feed(
      frame, [](ZstdTextSlab&&) -> util::Result<bool> { return util::Fail("Slab refused."); });
  ASSERT_FALSE(fed.ok());
  EXPECT_EQ(fed.error(), "Slab refused.");
}

TEST(ZstdTextSlabDecoderTest, ReportsCorruptInputAndUnusableCallbacks) {
  Collected collected;
  ZstdTextSlabDecoder decoder(1000, {});
  const Bytes garbage = {'n', 'o', 't', ' ', 'z', 's', 't', 'd'};
  const util::Result<ZstdSlabDecodeStats> corrupt = decoder.Feed(garbage, collected.Visitor());
  ASSERT_FALSE(corrupt.ok());
  EXPECT_EQ(corrupt.error(), std::string("Zstd decompression failed: ") +
                                 ZSTD_getErrorString(ZSTD_error_prefix_unknown));

  const Bytes frame = CompressFrame("a line\n");
  ZstdTextSlabDecoder fresh(1000, {});
  const util::Result<ZstdSlabDecodeStats> fed = fresh.Feed(frame, {});
  ASSERT_FALSE(fed.ok());
  EXPECT_EQ(fed.error(), "Text slab visitor must be callable.");
  const util::Result<ZstdSlabDecodeStats> finished = fresh.Finish({});
  ASSERT_FALSE(finished.ok());
  EXPECT_EQ(finished.error(), "Text slab visitor must be callable.");

  ZstdTextSlabDecoder without_buffers(1000, [](std::uint64_t) { return nullptr; });
  const util::Result<ZstdSlabDecodeStats> unbuffered =
      without_buffers.Feed(frame, collected.Visitor());
  ASSERT_FALSE(unbuffered.ok());
  EXPECT_EQ(unbuffered.error(), "Text slab factory returned a null buffer.");
}

TEST(ZstdTextSlabDecoderTest, SlabsAreTheFactoryBuffersSizedToTheSlabSize) {
  const std::string text = RandomText(40000, 9);
  std::vector<std::uint64_t> requested_sizes;
  std::set<const std::string*> handed_out;
  ZstdTextSlabDecoder decoder(4096, [&](std::uint64_t size) {
    requested_sizes.push_back(size);
    auto buffer = std::make_shared<std::string>("stale bytes from an earlier slab");
    handed_out.insert(buffer.get());
    return buffer;
  });
  Collected collected;
  const util::Result<void> decoded = DecodeInChunks(decoder, CompressFrame(text), 3000, collected);
  ASSERT_TRUE(decoded.ok()) << decoded.error();
  EXPECT_TRUE(collected.Text() == text);
  ASSERT_FALSE(requested_sizes.empty());
  EXPECT_TRUE(std::all_of(requested_sizes.begin(), requested_sizes.end(),
                          [](std::uint64_t size) { return size == 4096; }));
  for (const ZstdTextSlab& slab : collected.slabs) EXPECT_EQ(handed_out.count(slab.text.get()), 1U);
}

}  // namespace
}  // namespace boardmill::compression
