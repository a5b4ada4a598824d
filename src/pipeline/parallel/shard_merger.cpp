#include "pipeline/parallel/shard_merger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "pipeline/first_failure.h"
#include "shards/shard_naming.h"
#include "util/background_syncs.h"
#include "util/output_file.h"
#include "util/stopwatch.h"
#include "util/unique_file.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyBufferSize = 1 << 20;

using File = util::UniqueFile;

// Where one of a shard's frames lies.
struct FramePlace {
  std::size_t fragment = 0;
  const FragmentFrame* frame = nullptr;  // its entry in that fragment's index
};

// What one merge thread did; the threads' tallies are added up after they are joined.
struct MergeTally {
  std::uint64_t output_files = 0;
  double write_seconds = 0.0;
};

// Each shard's frames in merge order. A frame naming a shard the run does not have belongs to
// another run's fragment.
util::Result<std::vector<std::vector<FramePlace>>> PlaceFrames(
    const std::vector<FragmentSource>& fragments, std::uint64_t shard_count) {
  std::vector<std::vector<FramePlace>> places(shard_count);
  for (std::size_t fragment = 0; fragment < fragments.size(); ++fragment) {
    for (const FragmentFrame& frame : fragments[fragment].index.frames) {
      if (frame.shard >= shard_count) {
        return util::Fail("Damaged fragment file: " + fragments[fragment].path.string());
      }
      places[frame.shard].push_back({fragment, &frame});
    }
  }
  return places;
}

// One merge thread: takes shard ids until none are left or the merge has failed.
class MergeWorker {
 public:
  MergeWorker(const fs::path& output_directory, bool precreate_shards,
              const shards::ShardRouter& router, const std::vector<FragmentSource>& fragments,
              const std::vector<std::vector<FramePlace>>& places, ShardSubset subset,
              RunProgress* progress, std::atomic<std::uint64_t>& next, FirstFailure& failure,
              MergeTally& tally, std::vector<shards::IndexedShard>& shards,
              util::BackgroundSyncs& syncs)
      : output_directory_(output_directory),
        precreate_shards_(precreate_shards),
        router_(router),
        fragments_(fragments),
        places_(places),
        subset_(subset),
        progress_(progress),
        next_shard_(next),
        failure_(failure),
        tally_(tally),
        shards_(shards),
        syncs_(syncs) {}

  void Run() {
    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    buffer_ = buffer.data();
    while (!failure_.failed()) {
      const std::uint64_t shard = subset_.first + next_shard_.fetch_add(1) * subset_.step;
      if (shard >= router_.shard_count()) return;
      if (!MergeShard(shard)) return;
      if (progress_ != nullptr) progress_->AddShardsMerged(1);
    }
  }

 private:
  bool MergeShard(std::uint64_t shard) {
    const fs::path output_path = shards::ShardPath(output_directory_, shard, router_.shard_count());
    File output = util::CreateOutputFile(output_path);
    if (!output) return Fail("Failed to open merged shard output: " + output_path.string());
    File input;
    std::size_t open_fragment = fragments_.size();
    written_.Reset();
    std::uint64_t records = 0;
    for (const FramePlace& place : places_[shard]) {
      if (place.fragment != open_fragment) {
        open_fragment = place.fragment;
        input.reset(std::fopen(fragments_[open_fragment].path.c_str(), "rb"));
        if (!input) return Fail("Failed to open shard fragment: " + FragmentPath(open_fragment));
      }
      if (!CopyFrame(input.get(), place, output.get(), output_path)) return false;
      records += place.frame->records;
    }
    syncs_.Add(std::move(output), output_path);
    if (!places_[shard].empty() || precreate_shards_) ++tally_.output_files;
    shards_[shard] = shards::DescribeShard(records, written_);
    return true;
  }

  bool CopyFrame(std::FILE* input, const FramePlace& place, std::FILE* output,
                 const fs::path& output_path) {
    if (fseeko(input, static_cast<off_t>(place.frame->offset), SEEK_SET) != 0) {
      return Fail("Failed while reading shard fragment: " + FragmentPath(place.fragment));
    }
    for (std::uint64_t left = place.frame->size; left > 0;) {
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBufferSize));
      if (std::fread(buffer_, 1, wanted, input) != wanted) {
        return Fail("Failed while reading shard fragment: " + FragmentPath(place.fragment));
      }
      const util::Stopwatch clock;
      const std::size_t written = std::fwrite(buffer_, 1, wanted, output);
      tally_.write_seconds += clock.ElapsedSeconds();
      if (written != wanted)
        return Fail("Failed while writing merged shard: " + output_path.string());
      written_.Add({buffer_, wanted});
      left -= wanted;
    }
    return true;
  }

  std::string FragmentPath(std::size_t fragment) const {
    return fragments_[fragment].path.string();
  }

  bool Fail(std::string message) {
    failure_.Record(std::move(message));
    return false;
  }

  const fs::path& output_directory_;
  const bool precreate_shards_;
  const shards::ShardRouter& router_;
  const std::vector<FragmentSource>& fragments_;
  const std::vector<std::vector<FramePlace>>& places_;
  const ShardSubset subset_;
  RunProgress* const progress_;
  std::atomic<std::uint64_t>& next_shard_;
  FirstFailure& failure_;
  MergeTally& tally_;
  std::vector<shards::IndexedShard>& shards_;  // this thread writes only the slots of its shards
  util::BackgroundSyncs& syncs_;
  util::ByteDigest written_;
  std::uint8_t* buffer_ = nullptr;
};

}  // namespace

util::Result<ShardMergeSummary> ShardMerger::Merge(const std::vector<FragmentSource>& fragments,
                                                   ShardSubset subset) const {
  std::error_code error;
  fs::create_directories(output_directory_, error);
  if (error) return util::Fail("Failed to create merge output directory: " + error.message());

  const util::Stopwatch clock;
  util::Result<std::vector<std::vector<FramePlace>>> places =
      PlaceFrames(fragments, router_.shard_count());
  if (!places) return std::move(places).TakeError();
  subset.step = std::max<std::uint64_t>(subset.step, 1);
  if (progress_ != nullptr) {
    const std::uint64_t count = router_.shard_count();
    progress_->StartMerge(subset.first < count ? (count - subset.first - 1) / subset.step + 1 : 0);
  }
  std::atomic<std::uint64_t> next_shard{0};
  FirstFailure failure;
  std::vector<MergeTally> tallies(merge_threads_);
  std::vector<shards::IndexedShard> shards(router_.shard_count());
  // Merged shards sync while the merge threads go on copying.
  util::BackgroundSyncs syncs("Failed while writing merged shard: ");
  std::vector<std::thread> threads;
  threads.reserve(merge_threads_);
  for (MergeTally& tally : tallies) {
    threads.emplace_back([&, &tally = tally] {
      MergeWorker(output_directory_, precreate_shards_, router_, fragments, *places, subset,
                  progress_, next_shard, failure, tally, shards, syncs)
          .Run();
    });
  }
  for (std::thread& thread : threads) thread.join();
  util::Result<void> synced = syncs.Finish();
  if (const std::optional<std::string> message = failure.message()) return util::Fail(*message);
  if (!synced) return std::move(synced).TakeError();

  ShardMergeSummary summary;
  for (const MergeTally& tally : tallies) {
    summary.output_files += tally.output_files;
    summary.write_seconds += tally.write_seconds;
  }
  // Shards another rank merges hold nothing here.
  for (const shards::IndexedShard& shard : shards) summary.merged_bytes += shard.bytes;
  summary.merge_seconds = clock.ElapsedSeconds();
  summary.shards = std::move(shards);
  return summary;
}

}  // namespace boardmill::pipeline
