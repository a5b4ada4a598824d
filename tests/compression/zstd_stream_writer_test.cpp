#include "compression/zstd_stream_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compression/zstd_file_decompressor.h"
#include "test_support.h"

namespace boardmill::compression {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string RandomText(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string text(size, '\0');
  for (char& c : text) c = static_cast<char>(generator());
  return text;
}

class ZstdStreamWriterTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const fs::path path_ = dir_ / "shard-000.psfen.zst";
};

TEST_F(ZstdStreamWriterTest, OpenThenFinishLeavesAValidEmptyFrame) {
  ZstdStreamWriter stream(path_, 8);
  const auto opened = stream.Open();
  ASSERT_TRUE(opened.ok()) << opened.error();
  EXPECT_EQ(*opened, 0U);
  EXPECT_TRUE(fs::exists(path_));
  const auto finished = stream.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_GT(*finished, 0U);
  EXPECT_EQ(*finished, fs::file_size(path_));
  EXPECT_FALSE(stream.is_open());
  const auto content = DecompressZstdFile(path_);
  ASSERT_TRUE(content.ok()) << content.error();
  EXPECT_TRUE(content->empty());
}

TEST_F(ZstdStreamWriterTest, WriteOnAStreamNeverOpenedOpensItFirst) {
  ZstdStreamWriter stream(path_, 3);
  const auto written = stream.Write(AsBytes("hello"));
  ASSERT_TRUE(written.ok()) << written.error();
  EXPECT_TRUE(stream.is_open());
  ASSERT_TRUE(stream.Finish().ok());
  EXPECT_EQ(ReadZstdFile(path_), "hello");
}

TEST_F(ZstdStreamWriterTest, FinishOnAStreamNeverOpenedSucceedsWithZeroAndCreatesNoFile) {
  ZstdStreamWriter stream(path_, 8);
  const auto finished = stream.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(*finished, 0U);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ZstdStreamWriterTest, MissingParentDirectoriesAreCreated) {
  const fs::path deep = dir_ / "a" / "b" / "c" / "out.zst";
  ZstdStreamWriter stream(deep, 8);
  ASSERT_TRUE(stream.Open().ok());
  ASSERT_TRUE(stream.Finish().ok());
  EXPECT_TRUE(fs::is_regular_file(deep));
}

TEST_F(ZstdStreamWriterTest, SeveralWritesDecompressToTheirConcatenationInOrder) {
  // The middle span is incompressible and larger than the 1 MiB output buffer, so one write
  // needs several compression steps.
  const std::vector<std::string> spans = {"first|", RandomText(3 << 20, 7), "", "|last"};
  ZstdStreamWriter stream(path_, 1);
  std::string expected;
  for (const std::string& span : spans) {
    const auto written = stream.Write(AsBytes(span));
    ASSERT_TRUE(written.ok()) << written.error();
    EXPECT_EQ(*written, stream.compressed_bytes());
    expected += span;
  }
  const auto finished = stream.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(*finished, fs::file_size(path_));
  EXPECT_EQ(ReadZstdFile(path_), expected);
}

TEST_F(ZstdStreamWriterTest, DestroyingAnOpenStreamEndsItsFrame) {
  {
    ZstdStreamWriter stream(path_, 8);
    ASSERT_TRUE(stream.Write(AsBytes("kept when the stream goes away")).ok());
  }
  const auto content = DecompressZstdFile(path_);
  ASSERT_TRUE(content.ok()) << content.error();
  EXPECT_EQ(std::string(content->begin(), content->end()), "kept when the stream goes away");
}

TEST_F(ZstdStreamWriterTest, OpenFailuresNameTheirCause) {
  WriteFile(dir_ / "file", "x");
  ZstdStreamWriter under_file(dir_ / "file" / "sub" / "out.zst", 8);
  const auto parent = under_file.Open();
  ASSERT_FALSE(parent.ok());
  EXPECT_EQ(parent.error().rfind("Failed to create output directory: ", 0), 0U) << parent.error();

  fs::create_directories(dir_ / "taken");
  ZstdStreamWriter onto_directory(dir_ / "taken", 8);
  const auto file = onto_directory.Open();
  ASSERT_FALSE(file.ok());
  EXPECT_EQ(file.error(), "Failed to open output file: " + (dir_ / "taken").string());
  EXPECT_FALSE(onto_directory.is_open());
}

TEST_F(ZstdStreamWriterTest, OpeningAgainAfterFinishRestartsTheFileAndTheCounters) {
  ZstdStreamWriter stream(path_, 8);
  ASSERT_TRUE(stream.Write(AsBytes(RandomText(1 << 16, 3))).ok());
  ASSERT_TRUE(stream.Finish().ok());
  ASSERT_TRUE(stream.Write(AsBytes("again")).ok());
  const auto finished = stream.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(*finished, fs::file_size(path_));
  EXPECT_EQ(ReadZstdFile(path_), "again");
}

}  // namespace
}  // namespace boardmill::compression
