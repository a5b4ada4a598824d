#include "pipeline/parallel/shard_merger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "pipeline/first_failure.h"
#include "pipeline/shard_presence_mask.h"
#include "util/stopwatch.h"
#include "util/unique_file.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyBufferSize = 1 << 20;

using File = util::UniqueFile;

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
              const std::vector<fs::path>& fragment_directories,
              const std::vector<ShardPresenceMask>& fragments_present,
              std::atomic<std::uint64_t>& next, FirstFailure& failure, MergeTally& tally)
      : output_directory_(output_directory),
        precreate_shards_(precreate_shards),
        router_(router),
        fragment_directories_(fragment_directories),
        fragments_present_(fragments_present),
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
    for (std::size_t file = 0; file < fragment_directories_.size(); ++file) {
      if (!fragments_present_[file].Contains(shard)) continue;
      const fs::path fragment = fragment_directories_[file] / output_path.filename();
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
  const std::vector<ShardPresenceMask>& fragments_present_;
  std::atomic<std::uint64_t>& next_shard_;
  FirstFailure& failure_;
  MergeTally& tally_;
  char* buffer_ = nullptr;
};

// Which shard file names a fragment directory may hold. Only the routed shards below
// kRoutingKeyCount ever receive records, so only they can have fragments.
std::unordered_map<std::string, std::uint64_t> FragmentNames(const ShardRouter& router) {
  std::unordered_map<std::string, std::uint64_t> names;
  const std::uint64_t routed = std::min(router.shard_count(), kRoutingKeyCount);
  for (std::uint64_t shard = 0; shard < routed; ++shard) {
    names.emplace(router.ShardPath({}, shard).filename().string(), shard);
  }
  return names;
}

// Lists each fragment directory once, noting the shards it holds a fragment of, so that the
// merge does not probe every file's directory for every shard: with thousands of input files
// that would be millions of look-ups. A missing directory holds no fragments.
util::Result<std::vector<ShardPresenceMask>> ListFragments(
    const std::vector<fs::path>& fragment_directories, const ShardRouter& router) {
  const std::unordered_map<std::string, std::uint64_t> names = FragmentNames(router);
  std::vector<ShardPresenceMask> present(fragment_directories.size());
  for (std::size_t file = 0; file < fragment_directories.size(); ++file) {
    std::error_code error;
    fs::directory_iterator entry(fragment_directories[file], error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
      const auto name = names.find(entry->path().filename().string());
      if (name != names.end()) present[file].Set(name->second);
    }
    if (error && error != std::errc::no_such_file_or_directory) {
      return util::Fail("Failed to check shard fragments in " +
                        fragment_directories[file].string() + ": " + error.message());
    }
  }
  return present;
}

}  // namespace

util::Result<ShardMergeSummary> ShardMerger::Merge(
    const std::vector<fs::path>& fragment_directories) const {
  std::error_code error;
  fs::create_directories(output_directory_, error);
  if (error) return util::Fail("Failed to create merge output directory: " + error.message());

  const util::Stopwatch clock;
  util::Result<std::vector<ShardPresenceMask>> present =
      ListFragments(fragment_directories, router_);
  if (!present) return std::move(present).TakeError();
  std::atomic<std::uint64_t> next_shard{0};
  FirstFailure failure;
  std::vector<MergeTally> tallies(merge_threads_);
  std::vector<std::thread> threads;
  threads.reserve(merge_threads_);
  for (MergeTally& tally : tallies) {
    threads.emplace_back([&, &tally = tally] {
      MergeWorker(output_directory_, precreate_shards_, router_, fragment_directories, *present,
                  next_shard, failure, tally)
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
