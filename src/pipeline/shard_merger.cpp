#include "pipeline/shard_merger.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "pipeline/first_failure.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyBufferSize = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// What one merge thread did; the threads' tallies are added up after they are joined.
struct MergeTally {
  std::uint64_t output_files = 0;
  std::uint64_t merged_bytes = 0;
  double write_seconds = 0.0;
};

// One merge thread: takes shard ids until none are left or the merge has failed.
class MergeWorker {
 public:
  MergeWorker(const fs::path& output_directory, bool precreate_shards, const ShardRouter& router,
              const std::vector<fs::path>& fragment_directories, std::atomic<std::uint64_t>& next,
              FirstFailure& failure, MergeTally& tally)
      : output_directory_(output_directory),
        precreate_shards_(precreate_shards),
        router_(router),
        fragment_directories_(fragment_directories),
        next_shard_(next),
        failure_(failure),
        tally_(tally) {}

  void Run() {
    std::vector<char> buffer(kCopyBufferSize);
    buffer_ = buffer.data();
    while (!failure_.failed()) {
      const std::uint64_t shard = next_shard_.fetch_add(1);
      if (shard >= router_.shard_count()) return;
      if (!MergeShard(shard)) return;
    }
  }

 private:
  bool MergeShard(std::uint64_t shard) {
    const fs::path output_path = router_.ShardPath(output_directory_, shard);
    File output(std::fopen(output_path.c_str(), "wb"));
    if (!output) return Fail("Failed to open merged shard output: " + output_path.string());
    bool has_data = false;
    for (const fs::path& directory : fragment_directories_) {
      const fs::path fragment = directory / output_path.filename();
      std::error_code error;
      if (!fs::exists(fragment, error)) {
        if (error)
          return Fail("Failed to check shard fragment " + fragment.string() + ": " +
                      error.message());
        continue;
      }
      if (!CopyFragment(fragment, output.get(), output_path, has_data)) return false;
    }
    // Flushing and closing catch a write that fails only when the last buffered bytes reach
    // the disk; a shard that silently lost its tail would otherwise pass as merged.
    if (std::fflush(output.get()) != 0 || std::fclose(output.release()) != 0) {
      return Fail("Failed while writing merged shard: " + output_path.string());
    }
    if (has_data || precreate_shards_) ++tally_.output_files;
    return true;
  }

  bool CopyFragment(const fs::path& fragment, std::FILE* output, const fs::path& output_path,
                    bool& has_data) {
    File input(std::fopen(fragment.c_str(), "rb"));
    if (!input) return Fail("Failed to open shard fragment: " + fragment.string());
    for (;;) {
      const std::size_t read = std::fread(buffer_, 1, kCopyBufferSize, input.get());
      if (read == 0) break;
      util::Stopwatch clock;
      const std::size_t written = std::fwrite(buffer_, 1, read, output);
      tally_.write_seconds += clock.ElapsedSeconds();
      if (written != read)
        return Fail("Failed while writing merged shard: " + output_path.string());
      tally_.merged_bytes += read;
      has_data = true;
      if (read < kCopyBufferSize) break;
    }
    if (std::ferror(input.get())) {
      return Fail("Failed while reading shard fragment: " + fragment.string());
    }
    return true;
  }

  bool Fail(std::string message) {
    failure_.Record(std::move(message));
    return false;
  }

  const fs::path& output_directory_;
  const bool precreate_shards_;
  const ShardRouter& router_;
  const std::vector<fs::path>& fragment_directories_;
  std::atomic<std::uint64_t>& next_shard_;
  FirstFailure& failure_;
  MergeTally& tally_;
  char* buffer_ = nullptr;
};

}  // namespace

util::Result<ShardMergeSummary> ShardMerger::Merge(
    const std::vector<fs::path>& fragment_directories) const {
  std::error_code error;
  fs::create_directories(output_directory_, error);
  if (error) return util::Fail("Failed to create merge output directory: " + error.message());

  const util::Stopwatch clock;
  std::atomic<std::uint64_t> next_shard{0};
  FirstFailure failure;
  std::vector<MergeTally> tallies(merge_threads_);
  std::vector<std::thread> threads;
  threads.reserve(merge_threads_);
  for (MergeTally& tally : tallies) {
    threads.emplace_back([&, &tally = tally] {
      MergeWorker(output_directory_, precreate_shards_, router_, fragment_directories, next_shard,
                  failure, tally)
          .Run();
    });
  }
  for (std::thread& thread : threads) thread.join();
  if (const std::optional<std::string> message = failure.message()) return util::Fail(*message);

  ShardMergeSummary summary;
  for (const MergeTally& tally : tallies) {
    summary.output_files += tally.output_files;
    summary.merged_bytes += tally.merged_bytes;
    summary.write_seconds += tally.write_seconds;
  }
  summary.merge_seconds = clock.ElapsedSeconds();
  return summary;
}

}  // namespace boardmill::pipeline
