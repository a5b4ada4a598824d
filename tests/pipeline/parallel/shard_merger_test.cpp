#include "pipeline/parallel/shard_merger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "compression/zstd_frame_compressor.h"
#include "pipeline/parallel/fragment_file.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

// A fragment of one task: each (shard, text) pair becomes one frame, in the order given.
FragmentSource WriteFragment(const fs::path& path, std::uint64_t first_file,
                             const std::vector<std::pair<std::uint64_t, std::string>>& frames) {
  compression::ZstdFrameCompressor compressor;
  FragmentFileWriter writer;
  EXPECT_TRUE(writer.Open(path).ok());
  for (const auto& [shard, text] : frames) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    EXPECT_TRUE(writer.AppendFrame(shard, 1, {&bytes, 1}, 3, compressor).ok());
  }
  FileProcessingSummary file;
  file.input_path = "input.fen.zst";
  EXPECT_TRUE(writer.Commit(first_file, {&file, 1}, 0, "").ok());
  util::Result<FragmentIndex> index = ReadFragmentIndex(path);
  EXPECT_TRUE(index.ok()) << index.error();
  return {path, index ? *index : FragmentIndex{}};
}

// The merger copies frames unchanged, so each shard decompresses to its texts in fragment order
// and, within a fragment, in the order the frames were written.
TEST(ShardMergerTest, AppendsEachShardsFramesInFragmentOrderThenWriteOrder) {
  const TempDir temp;
  const shards::ShardRouter router(4);
  const fs::path output = temp.path() / "out";
  const std::vector<FragmentSource> fragments = {
      WriteFragment(temp / "a.fragment", 0, {{2, "c0"}, {0, "a0"}, {2, "c0'"}}),
      WriteFragment(temp / "b.fragment", 1, {}),
      WriteFragment(temp / "c.fragment", 2, {{0, "a2"}, {2, "c2"}}),
  };

  const ShardMerger merger(output, /*precreate_shards=*/false, /*merge_threads=*/2, router);
  const util::Result<ShardMergeSummary> merged = merger.Merge(fragments);

  ASSERT_TRUE(merged) << merged.error();
  EXPECT_EQ(ReadZstdFile(shards::ShardPath(output, 0, router.shard_count())), "a0a2");
  EXPECT_EQ(ReadFile(shards::ShardPath(output, 1, router.shard_count())), "");
  EXPECT_EQ(ReadZstdFile(shards::ShardPath(output, 2, router.shard_count())), "c0c0'c2");
  EXPECT_EQ(ReadFile(shards::ShardPath(output, 3, router.shard_count())), "");
  EXPECT_EQ(merged->output_files, 2U);
  std::uint64_t frame_bytes = 0;
  for (const FragmentSource& fragment : fragments) {
    for (const FragmentFrame& frame : fragment.index.frames) frame_bytes += frame.size;
  }
  EXPECT_EQ(merged->merged_bytes, frame_bytes);
}

TEST(ShardMergerTest, AFrameOfAShardTheRunDoesNotHaveFailsTheMerge) {
  const TempDir temp;
  const FragmentSource fragment = WriteFragment(temp / "a.fragment", 0, {{5, "x"}});
  const ShardMerger merger(temp / "out", /*precreate_shards=*/true, 1, shards::ShardRouter(4));
  const util::Result<ShardMergeSummary> merged = merger.Merge({fragment});
  ASSERT_FALSE(merged);
  EXPECT_EQ(merged.error(), "Damaged fragment file: " + (temp / "a.fragment").string());
}

}  // namespace
}  // namespace boardmill::pipeline
