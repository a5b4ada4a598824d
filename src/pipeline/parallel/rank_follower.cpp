#include "pipeline/parallel/rank_follower.h"

#include "pipeline/option_limits.h"
#include "pipeline/parallel/group_worker_pool.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/rank_message.h"
#include "pipeline/parallel/remote_group_source.h"
#include "pipeline/parallel/run_finisher.h"
#include "pipeline/parallel/run_phase_messages.h"
#include "run/memory_ceiling.h"

namespace boardmill::pipeline {

RankFollower::RankFollower(const ConversionOptions& options, const io::MpiJob& job)
    : options_(options),
      job_(job),
      paths_(ResolveRunPaths(options)),
      router_(options.output_shard_count),
      ceiling_mib_(run::ResolveMemoryCeilingMib(options.memory_ceiling_mib)) {}

util::Result<ConversionSummary> RankFollower::Run() {
  std::vector<std::uint8_t> start_bytes;
  job_.Broadcast(start_bytes, 0);
  util::Result<StartMessage> start = StartMessage::Decode(start_bytes);
  if (!start) return std::move(start).TakeError();
  files_ = std::move(start->files);
  util::Result<void> going = ReportReady(start->marks);
  if (!going) return std::move(going).TakeError();

  ConvertGroups();
  std::vector<std::uint8_t> announced;
  job_.Broadcast(announced, 0);
  util::Result<ConvertedMessage> converted = ConvertedMessage::Decode(announced);
  if (!converted) return std::move(converted).TakeError();
  util::Result<void> merged = MergeOwnShards(converted->groups);
  if (!merged) return std::move(merged).TakeError();
  return ConversionSummary{};
}

util::Result<void> RankFollower::ReportReady(const SharedDirectoryMarks& marks) {
  util::Result<void> ready = CheckSharedDirectories(marks, job_.rank());
  if (ready) ready = CheckOptionLimits(options_);
  if (ready) ready = CheckWorkerFits(options_, ceiling_mib_);
  if (ready) workers_ = PlanWorkers(options_, files_.size(), ceiling_mib_);
  job_.Send(0, kToCoordinatorTag, ReadyMessage{ready, CapsOf(workers_)}.Encode());
  std::vector<std::uint8_t> go;
  job_.Broadcast(go, 0);
  util::Result<GoMessage> going = GoMessage::Decode(go);
  if (!going) return std::move(going).TakeError();
  return {};
}

void RankFollower::ConvertGroups() {
  RemoteGroupSource remote(files_.size());
  GroupWorkerPool pool(options_, router_, workers_, paths_, files_);
  pool.Run(remote, remote, true,
           [this, &remote, &pool] { remote.Serve(job_, pool.worker_count()); });
  remote.Finish(job_, pool.knobs().active_workers);
}

util::Result<void> RankFollower::MergeOwnShards(const std::vector<FileGroup>& groups) {
  util::Result<std::vector<FragmentSource>> fragments =
      FragmentsInFileOrder(paths_.fragments_root, groups);
  util::Result<ShardMergeSummary> merged =
      fragments
          ? MergeFragments(options_, workers_.caps.effective_max_workers, *fragments, OwnShards())
          : util::Result<ShardMergeSummary>(util::Fail(fragments.error()));
  MergedMessage report;
  if (merged) {
    report.output_files = merged->output_files;
    report.merged_bytes = merged->merged_bytes;
    report.write_seconds = merged->write_seconds;
    // Rank 0 writes the shard index, so it needs what this rank's shards hold and hash to.
    const ShardSubset own = OwnShards();
    for (std::uint64_t id = own.first; id < merged->shards.size(); id += own.step) {
      report.shards.push_back(merged->shards[id]);
    }
  } else {
    report.outcome = util::Fail(merged.error());
  }
  job_.Send(0, kToCoordinatorTag, report.Encode());
  if (!merged) return std::move(merged).TakeError();
  return {};
}

ShardSubset RankFollower::OwnShards() const {
  return ShardSubset::OfRank(job_.rank(), job_.size());
}

}  // namespace boardmill::pipeline
