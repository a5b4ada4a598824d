#include "pipeline/parallel/file_group_task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/line_encoder.h"
#include "pipeline/parallel/fragment_file.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

// The bytes of a shard's frames in a fragment, decompressed and joined in the fragment's order.
std::string ShardRecords(const fs::path& path, const FragmentIndex& index, std::uint64_t shard,
                         std::size_t& frames) {
  const std::string bytes = ReadFile(path);
  const TempDir scratch;
  std::string records;
  for (const FragmentFrame& frame : index.frames) {
    if (frame.shard != shard) continue;
    ++frames;
    testing::WriteFile(scratch / "frame.zst", bytes.substr(frame.offset, frame.size));
    records += ReadZstdFile(scratch / "frame.zst");
  }
  return records;
}

// Two shards at the smallest budget (four pages, 4,096 records) and some 8,000 positions: the
// task must compress the fullest shard whenever the pages run out, and the frames still hold
// every record of each shard in input order.
TEST(FileGroupTaskTest, ARecordBudgetSmallerThanTheTaskSplitsShardsIntoFramesInInputOrder) {
  const TempDir temp;
  const std::string text = ReadZstdFile(TestDataPath("positions.fen.zst"));
  const std::string half = text.substr(0, text.find('\n', text.size() / 2) + 1);
  const std::vector<fs::path> files = {temp / "in" / "a.fen.zst", temp / "in" / "b.fen.zst"};
  WriteZstdFile(files[0], half + "not a position\n");
  WriteZstdFile(files[1], text.substr(half.size()));
  fs::create_directories(temp / "fragments");

  ConversionOptions options;
  options.output_shard_count = 2;
  const shards::ShardRouter router(2);
  WorkerResources resources(2, 0);
  const FileGroupTask task{{0, 2}, files, temp / "fragments", {1, 512, 4096, 3}};
  const util::Result<std::vector<FileProcessingSummary>> summaries =
      ConvertFileGroup(task, options, router, resources);
  ASSERT_TRUE(summaries) << summaries.error();

  std::string expected[2];
  const LineEncoder encoder(true, chess::FenReading::kStrict, router);
  for (const std::string& source : {half, text.substr(half.size())}) {
    std::size_t start = 0;
    for (std::size_t end; (end = source.find('\n', start)) != std::string::npos; start = end + 1) {
      const util::Result<EncodedLine> encoded = encoder.Encode(source.substr(start, end - start));
      ASSERT_TRUE(encoded);
      expected[encoded->shard_id].append(encoded->record.bytes.begin(),
                                         encoded->record.bytes.end());
    }
  }
  const fs::path fragment = temp / "fragments" / "files-000000-000001.fragment";
  const util::Result<FragmentIndex> index = ReadFragmentIndex(fragment);
  ASSERT_TRUE(index) << index.error();
  std::size_t frames = 0;
  EXPECT_EQ(ShardRecords(fragment, *index, 0, frames), expected[0]);
  EXPECT_EQ(ShardRecords(fragment, *index, 1, frames), expected[1]);
  EXPECT_GT(frames, 2U) << "the budget never ran out";

  ASSERT_EQ(summaries->size(), 2U);
  EXPECT_EQ((*summaries)[0].invalid_positions, 1U);
  std::uint64_t frame_bytes = 0;
  for (const FragmentFrame& frame : index->frames) frame_bytes += frame.size;
  EXPECT_EQ((*summaries)[0].compressed_output_bytes + (*summaries)[1].compressed_output_bytes,
            frame_bytes);
  EXPECT_EQ(ReadLines(temp / "fragments" / "files-000000-000001.rejects").size(), 1U);
  EXPECT_EQ(index->reject_rows, 1U);
}

}  // namespace
}  // namespace boardmill::pipeline
