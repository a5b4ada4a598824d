#include "pipeline/staged/staged_pipeline_threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "io/input_discovery.h"
#include "pipeline/sequential/sequential_runner.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

using namespace stage_index;

std::string FileText(int file, int lines) {
  static const char* kFens[] = {
      "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 ",
      "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 ",
      "1n2k1n1/8/8/8/8/8/8/4K3 w - - 3 ",
      "7k/8/8/8/8/8/8/K7 b - - 9 ",
  };
  std::string text;
  for (int line = 0; line < lines; ++line) {
    text += kFens[(line + file) % 4] + std::to_string(1 + line % 700) + "\n";
  }
  return text;
}

// A staged pipeline built by hand, so that a test can choose pools and active counts the
// command line cannot give, run it on a thread and give up (failing the run) if it hangs.
class HandBuiltPipeline {
 public:
  HandBuiltPipeline(const fs::path& root, int files, int lines_per_file, const StagePlan& plan)
      : rejects_(root / "out/rejects.tsv") {
    for (int file = 0; file < files; ++file) {
      WriteZstdFile(root / "in" / NumberedName("f", file, ".fen.zst"),
                    FileText(file, lines_per_file));
    }
    options_.input_directory = root / "in";
    options_.output_directory = root / "out";
    options_.output_shard_count = 4;
    options_.compression_level = 1;
    options_.line_batch_size = 64;
    options_.parse_batch_size = 64;
    fs::create_directories(options_.output_directory);
    EXPECT_TRUE(rejects_.Open().ok());
    util::Result<std::vector<fs::path>> listed =
        io::ListInputFiles(options_.input_directory, io::kInputSuffix);
    EXPECT_TRUE(listed.ok());
    const util::Result<StagedMemoryPlan> memory = PlanStagedMemory(
        {options_.output_shard_count, options_.parse_batch_size, 1, plan.pool_sizes}, 1 << 20);
    EXPECT_TRUE(memory.ok());
    pipeline_ =
        std::make_unique<StagedPipeline>(options_, std::move(*listed), plan, *memory, rejects_);
  }

  // True when the run ended within `limit`; otherwise fails the run to release the threads.
  bool RunWithin(std::chrono::seconds limit) {
    std::future<void> run =
        std::async(std::launch::async, [this] { RunStagedPipelineThreads(*pipeline_); });
    if (run.wait_for(limit) == std::future_status::ready) return true;
    pipeline_->ReportFailure("The pipeline did not finish in time.");
    run.wait();
    return false;
  }

  StagedPipeline& pipeline() { return *pipeline_; }
  const ConversionOptions& options() const { return options_; }

  // The shards the sequential mode writes for the same input.
  void ExpectSequentialShards(const fs::path& sequential_output) {
    ConversionOptions sequential = options_;
    sequential.output_directory = sequential_output;
    ASSERT_TRUE(RunSequential(sequential).ok());
    for (std::uint64_t shard = 0; shard < options_.output_shard_count; ++shard) {
      EXPECT_EQ(
          ReadZstdFile(
              shards::ShardPath(options_.output_directory, shard, options_.output_shard_count)),
          ReadZstdFile(shards::ShardPath(sequential_output, shard, options_.output_shard_count)))
          << "shard " << shard;
    }
  }

 private:
  ConversionOptions options_;
  RejectLogger rejects_;
  std::unique_ptr<StagedPipeline> pipeline_;
};

StagePlan ThrottledPlan() {
  StagePlan plan;
  plan.thread_budget = 2;
  plan.pool_sizes = {2, 2, 2, 2, 2};
  plan.initial_active = {1, 1, 1, 1, 1};
  return plan;
}

TEST(StagedPipelineThreads, ThrottledDecompressAndLineIndexThreadsStillDrainTheirOwnFiles) {
  // Files with odd indices belong to decompress and line-index thread 1, which the gates never
  // admit: only the drain rule lets them through, or the writers would wait for those files
  // for ever.
  TempDir dir;
  HandBuiltPipeline built(dir.path(), 7, 300, ThrottledPlan());
  ASSERT_TRUE(built.RunWithin(std::chrono::seconds(60))) << "the run did not finish";
  StagedPipeline& pipeline = built.pipeline();
  EXPECT_FALSE(pipeline.failure.message().has_value()) << *pipeline.failure.message();
  built.ExpectSequentialShards(dir / "sequential");

  EXPECT_EQ(pipeline.ActiveCounts(), (ElasticCounts{1, 1, 1, 1, 1}));
  EXPECT_EQ(pipeline.worker_stats[kDecompress][1].Snapshot().items_in, 3U);
  EXPECT_GT(pipeline.worker_stats[kLineIndex][1].Snapshot().items_out, 0U);
  // Threads of the shared queues are held back for real while the queue has work. (Compress
  // threads are let through once parsing has ended, which is when every block of this run is
  // compressed.)
  EXPECT_EQ(pipeline.worker_stats[kReader][1].Snapshot().items_in, 0U);
  EXPECT_EQ(pipeline.worker_stats[kParse][1].Snapshot().items_in, 0U);
  EXPECT_GT(pipeline.worker_stats[kParse][1].Snapshot().idle_seconds, 0.0);
  for (const auto& stage : pipeline.worker_stats) {
    for (const WorkerStats& worker : stage) EXPECT_EQ(worker.State(), WorkerState::kFinished);
  }
}

TEST(StagedPipelineThreads, AFailureReportedMidRunStopsAndReleasesEveryThread) {
  TempDir dir;
  StagePlan plan = ThrottledPlan();
  plan.pool_sizes = {2, 3, 2, 2, 2};
  plan.initial_active = {2, 3, 2, 2, 2};
  HandBuiltPipeline built(dir.path(), 10, 4000, plan);
  StagedPipeline& pipeline = built.pipeline();
  std::future<bool> run =
      std::async(std::launch::async, [&] { return built.RunWithin(std::chrono::seconds(60)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pipeline.ReportFailure("first failure");
  pipeline.ReportFailure("second failure");
  ASSERT_TRUE(run.get()) << "the threads did not stop";
  EXPECT_EQ(pipeline.failure.message(), "first failure");
  for (const auto& stage : pipeline.worker_stats) {
    for (const WorkerStats& worker : stage) EXPECT_EQ(worker.State(), WorkerState::kFinished);
  }
}

}  // namespace
}  // namespace boardmill::pipeline
