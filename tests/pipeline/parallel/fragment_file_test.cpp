#include "pipeline/parallel/fragment_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

FileProcessingSummary FileSummary(const std::string& name, std::uint64_t lines, double seconds) {
  FileProcessingSummary file;
  file.input_path = fs::path("/data") / name;
  file.visited_lines = lines;
  file.encoded_positions = lines - 1;
  file.invalid_positions = 1;
  file.compressed_output_bytes = 77;
  file.encode_seconds = seconds;
  file.records_per_flush = 4096;
  file.compression_level = -3;
  return file;
}

fs::path WriteTwoFileFragment(const TempDir& temp) {
  compression::ZstdFrameCompressor compressor;
  FragmentFileWriter writer;
  const fs::path path = temp / "f.fragment";
  EXPECT_TRUE(writer.Open(path).ok());
  const std::string text(5000, 'r');
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size());
  EXPECT_TRUE(writer.AppendFrame(3, 156, {&bytes, 1}, 8, compressor).ok());
  EXPECT_TRUE(writer.AppendFrame(0, 1, {}, 8, compressor).ok());
  EXPECT_FALSE(fs::exists(path)) << "visible before it is complete";
  const std::vector<FileProcessingSummary> files = {FileSummary("a.fen.zst", 10, 0.25),
                                                    FileSummary("b\tc.fen.zst", 3, 1e-9)};
  EXPECT_TRUE(writer.Commit(40, files, 4, "/data").ok());
  return path;
}

TEST(FragmentFileTest, IndexReadsBackFramesAndFileSummaries) {
  const TempDir temp;
  const fs::path path = WriteTwoFileFragment(temp);
  EXPECT_FALSE(fs::exists(temp / "f.fragment.partial"));
  const util::Result<FragmentIndex> index = ReadFragmentIndex(path);
  ASSERT_TRUE(index) << index.error();
  EXPECT_EQ(index->first_file, 40U);
  EXPECT_EQ(index->reject_rows, 4U);
  ASSERT_EQ(index->frames.size(), 2U);
  EXPECT_EQ(index->frames[0].shard, 3U);
  EXPECT_EQ(index->frames[0].offset, 0U);
  EXPECT_EQ(index->frames[0].records, 156U);
  EXPECT_EQ(index->frames[1].offset, index->frames[0].size);
  ASSERT_EQ(index->files.size(), 2U);
  EXPECT_EQ(index->files[1].file_index, 41U);
  EXPECT_EQ(index->files[1].input_path, "b\tc.fen.zst");
  EXPECT_EQ(index->files[1].visited_lines, 3U);
  EXPECT_EQ(index->files[0].encoded_positions, 9U);
  EXPECT_EQ(index->files[0].encode_seconds, 0.25);
  EXPECT_EQ(index->files[1].encode_seconds, 1e-9);
  EXPECT_EQ(index->files[0].compression_level, -3);
  EXPECT_EQ(index->files[0].records_per_flush, 4096U);
}

// Every total, each with a value of its own (a fraction for most seconds), so that a field the
// entry skips, swaps or reads with the wrong type shows.
TEST(FragmentFileTest, FileEntryRoundTripsEveryTotal) {
  const TempDir temp;
  FileProcessingSummary file;
  file.input_path = "a.fen.zst";
  std::uint64_t next = 1;
  for (const TotalsField& field : kTotalsFields) {
    UseField(field, file, [&next](auto& value) {
      value = static_cast<std::remove_cvref_t<decltype(value)>>(3 * next++) / 2;
    });
  }
  FragmentFileWriter writer;
  const fs::path path = temp / "f.fragment";
  ASSERT_TRUE(writer.Open(path).ok());
  ASSERT_TRUE(writer.Commit(0, {&file, 1}, 0, "").ok());

  const util::Result<FragmentIndex> index = ReadFragmentIndex(path);
  ASSERT_TRUE(index.ok()) << index.error();
  ASSERT_EQ(index->files.size(), 1U);
  for (const TotalsField& field : kTotalsFields) {
    UseField(field, file, [&](const auto& written) {
      UseField(field, index->files[0],
               [&](const auto& read) { EXPECT_EQ(read, written) << field.key; });
    });
  }
}

TEST(FragmentFileTest, CutOrOverwrittenFragmentsAreReportedDamaged) {
  const TempDir temp;
  const std::string whole = ReadFile(WriteTwoFileFragment(temp));
  const fs::path path = temp / "damaged.fragment";
  const std::string expected = "Damaged fragment file: " + path.string();
  for (const std::size_t cut : {std::size_t{0}, std::size_t{10}, whole.size() - 1}) {
    WriteFile(path, whole.substr(0, cut));
    const util::Result<FragmentIndex> index = ReadFragmentIndex(path);
    ASSERT_FALSE(index) << "cut at " << cut;
    EXPECT_EQ(index.error(), expected);
  }
  std::string other_count = whole;
  other_count[whole.size() - 8 - 48 + 24] ^= 1;  // the footer's frame count
  WriteFile(path, other_count);
  EXPECT_FALSE(ReadFragmentIndex(path));
  std::string bad_name_length = whole;
  bad_name_length[whole.size() - 8 - 48 - 11 - 8] = 0x7f;  // the last file name's length
  WriteFile(path, bad_name_length);
  EXPECT_FALSE(ReadFragmentIndex(path));
}

}  // namespace
}  // namespace boardmill::pipeline
