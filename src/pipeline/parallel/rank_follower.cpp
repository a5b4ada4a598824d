#include "pipeline/parallel/rank_follower.h"

#include "pipeline/option_limits.h"
#include "pipeline/parallel/group_worker_pool.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/rank_message.h"
#include "pipeline/parallel/remote_group_source.h"
#include "pipeline/parallel/run_finisher.h"
#include "pipeline/parallel/run_phase_messages.h"

namespace boardmill::pipeline {

RankFollower::RankFollower(const ConversionOptions& options, const io::MpiJob& job)
    : rank_(options, job) {}

util::Result<ConversionSummary> RankFollower::Run() {
  std::vector<std::uint8_t> start_bytes;
  rank_.job.Broadcast(start_bytes, 0);
  util::Result<StartMessage> start = StartMessage::Decode(start_bytes);
  if (!start) return std::move(start).TakeError();
  files_ = std::move(start->files);
  util::Result<void> going = ReportReady(start->marks);
  if (!going) return std::move(going).TakeError();

  ConvertGroups();
  std::vector<std::uint8_t> announced;
  rank_.job.Broadcast(announced, 0);
  util::Result<ConvertedMessage> converted = ConvertedMessage::Decode(announced);
  if (!converted) return std::move(converted).TakeError();
  util::Result<void> merged = MergeOwnShards(converted->groups);
  if (!merged) return std::move(merged).TakeError();
  return ConversionSummary{};
}

util::Result<void> RankFollower::ReportReady(const SharedDirectoryMarks& marks) {
  util::Result<void> ready = CheckSharedDirectories(marks, rank_.job.rank());
  if (ready) ready = CheckOptionLimits(rank_.options);
  if (ready) ready = CheckWorkerFits(rank_.options, rank_.ceiling_mib);
  if (ready) workers_ = PlanWorkers(rank_.options, files_.size(), rank_.ceiling_mib);
  rank_.job.Send(0, kToCoordinatorTag, ReadyMessage{ready, CapsOf(workers_)}.Encode());
  std::vector<std::uint8_t> go;
  rank_.job.Broadcast(go, 0);
  util::Result<GoMessage> going = GoMessage::Decode(go);
  if (!going) return std::move(going).TakeError();
  return {};
}

void RankFollower::ConvertGroups() {
  RemoteGroupSource remote(files_.size());
  GroupWorkerPool pool(rank_.options, rank_.router, workers_, rank_.paths, files_);
  pool.Run(remote, remote, true,
           [this, &remote, &pool] { remote.Serve(rank_.job, pool.worker_count()); });
  remote.Finish(rank_.job, pool.knobs().active_workers);
}

util::Result<void> RankFollower::MergeOwnShards(const std::vector<FileGroup>& groups) {
  util::Result<std::vector<FragmentSource>> fragments =
      FragmentsInFileOrder(rank_.paths.fragments_root, groups);
  util::Result<ShardMergeSummary> merged =
      fragments ? MergeFragments(rank_.options, workers_.caps.effective_max_workers, *fragments,
                                 OwnShards())
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
  rank_.job.Send(0, kToCoordinatorTag, report.Encode());
  if (!merged) return std::move(merged).TakeError();
  return {};
}

ShardSubset RankFollower::OwnShards() const {
  return ShardSubset::OfRank(rank_.job.rank(), rank_.job.size());
}

}  // namespace boardmill::pipeline
