#include "pipeline/parallel/rank_coordinator.h"

#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/group_exchange_messages.h"
#include "pipeline/parallel/group_worker_pool.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/run_phase_messages.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

RankCoordinator::RankCoordinator(const ConversionOptions& options, const io::MpiJob& job)
    : rank_(options, job),
      run_(options, rank_.paths, rank_.ceiling_mib),
      finisher_(options, rank_.paths, rank_.ceiling_mib, run_) {}

util::Result<ConversionSummary> RankCoordinator::Run() {
  StartMessage start{run_.PrepareDirectories(), {}, {}};
  if (start.outcome) {
    util::Result<SharedDirectoryMarks> marked = MarkSharedDirectories(SharedDirectories());
    if (marked) start.marks = std::move(*marked);
    if (!marked) start.outcome = std::move(marked).TakeError();
  }
  start.files = run_.files();
  std::vector<std::uint8_t> start_bytes = start.Encode();
  rank_.job.Broadcast(start_bytes, 0);
  if (!start.outcome) return std::move(start.outcome).TakeError();

  // Nothing an earlier run left is touched before every rank is known to share the directories.
  util::Result<void> ready = CollectReadyRanks();
  RemoveMarks(start.marks);
  if (ready) ready = run_.PrepareRun(other_ranks_.requested_worker_cap);
  std::vector<std::uint8_t> go = GoMessage{ready}.Encode();
  rank_.job.Broadcast(go, 0);
  if (!ready) return finisher_.CloseRejectLogAndFail(ready.error());

  GroupDispenser dispenser(run_.new_groups());
  run_.records().StopOnFailure(dispenser);
  GroupWorkerPool pool(rank_.options, rank_.router, run_.workers(), rank_.paths, run_.files());
  pool.Run(dispenser, run_.records(), !run_.new_groups().empty(),
           [this, &dispenser] { CoordinateRanks(dispenser); });

  ConvertedMessage converted{{}, run_.AllGroups()};
  util::Result<std::vector<FragmentSource>> fragments =
      run_.records().failed()
          ? util::Result<std::vector<FragmentSource>>(finisher_.FailAfterWorkers())
          : FragmentsInFileOrder(rank_.paths.fragments_root, converted.groups);
  if (!fragments) converted.outcome = util::Fail(fragments.error());
  std::vector<std::uint8_t> announced = converted.Encode();
  rank_.job.Broadcast(announced, 0);
  if (!fragments) return finisher_.CloseRejectLogAndFail(fragments.error());

  const util::Stopwatch merge_clock;
  util::Result<ShardMergeSummary> merged =
      MergeFragments(rank_.options, run_.workers().caps.effective_max_workers, *fragments,
                     ShardSubset::OfRank(0, rank_.job.size()));
  merged = CollectMergedRanks(std::move(merged));
  if (merged) merged->merge_seconds = merge_clock.ElapsedSeconds();
  return finisher_.Finish(*fragments, std::move(merged), pool.knobs(), other_ranks_);
}

// The output directory, and the scratch directory when it lies outside it.
std::vector<std::filesystem::path> RankCoordinator::SharedDirectories() const {
  std::vector<std::filesystem::path> directories = {rank_.options.output_directory};
  if (rank_.paths.scratch.lexically_relative(rank_.options.output_directory)
          .string()
          .starts_with("..") ||
      rank_.paths.scratch.is_absolute() != rank_.options.output_directory.is_absolute()) {
    directories.push_back(rank_.paths.scratch);
  }
  return directories;
}

// Every other rank says whether it sees the shared directories and what caps it runs with.
util::Result<void> RankCoordinator::CollectReadyRanks() {
  util::Result<void> outcome;
  for (int ranks = rank_.job.size() - 1; ranks > 0; --ranks) {
    int source = 0;
    const util::Result<ReadyMessage> ready =
        ReadyMessage::Decode(rank_.job.Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source));
    if (!ready) {
      if (outcome) outcome = util::Fail(ready.error());
      continue;
    }
    other_ranks_.requested_worker_cap += ready->caps.requested_worker_cap;
    other_ranks_.effective_max_workers += ready->caps.effective_max_workers;
    other_ranks_.stdio_worker_cap += ready->caps.stdio_worker_cap;
    other_ranks_.memory_worker_cap += ready->caps.memory_worker_cap;
  }
  return outcome;
}

void RankCoordinator::CoordinateRanks(GroupDispenser& dispenser) {
  for (int running = rank_.job.size() - 1; running > 0;) {
    int source = 0;
    const std::vector<std::uint8_t> message =
        rank_.job.Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source);
    if (ServeRank(source, message, dispenser)) --running;
  }
}

// Groups to those who ask, their completed groups into the manifest and the summaries, their
// tuning decisions and their failures; true when the rank's workers have ended.
bool RankCoordinator::ServeRank(int source, const std::vector<std::uint8_t>& message,
                                GroupDispenser& dispenser) {
  RunRecords& records = run_.records();
  switch (KindOf(message)) {
    case RankMessageKind::kRequest:
      rank_.job.Send(source, kToRankTag, NextAssignment(dispenser));
      return false;
    case RankMessageKind::kCompleted: {
      const util::Result<CompletedMessage> completed = CompletedMessage::Decode(message);
      if (completed) RecordRemoteGroup(completed->group);
      if (!completed) records.Failed(completed.error());
      return false;
    }
    case RankMessageKind::kTuning: {
      const util::Result<TuningMessage> tuning = TuningMessage::Decode(message);
      if (tuning) records.Tuned(tuning->decision);
      if (!tuning) records.Failed(tuning.error());
      return false;
    }
    case RankMessageKind::kFailed: {
      const util::Result<FailedMessage> failed = FailedMessage::Decode(message);
      records.Failed(failed ? failed->message : failed.error());
      return false;
    }
    case RankMessageKind::kFinished: {
      const util::Result<FinishedMessage> finished = FinishedMessage::Decode(message);
      if (finished) other_ranks_.final_active_workers += finished->active_workers;
      if (!finished) records.Failed(finished.error());
      return true;
    }
    default:
      records.Failed("Rank " + std::to_string(source) +
                     " of the MPI job sent a message out of turn.");
      return false;
  }
}

std::vector<std::uint8_t> RankCoordinator::NextAssignment(GroupDispenser& dispenser) {
  AssignMessage assignment;
  if (!run_.records().failed()) assignment.group = dispenser.Next();
  if (assignment.group) assignment.backlog = dispenser.Backlog();
  return assignment.Encode();
}

// Another rank's group is complete: its fragment, on the shared scratch directory, holds the
// files' summaries.
void RankCoordinator::RecordRemoteGroup(const FileGroup& group) {
  util::Result<FragmentIndex> index =
      ReadFragmentIndex(FragmentPath(rank_.paths.fragments_root, group));
  if (!index) return run_.records().Failed(index.error());
  for (FileProcessingSummary& file : index->files) {
    file.input_path = run_.files()[file.file_index];
    if (rank_.options.progress != nullptr) {
      rank_.options.progress->AddInputBytesRead(file.compressed_input_bytes);
      rank_.options.progress->AddLines(file.encoded_positions, file.invalid_positions);
      rank_.options.progress->AddFilesDone(1);
    }
  }
  run_.records().Completed(group, index->files);
}

// Every other rank's merge tallies, and what each of its shards holds, added to this rank's.
util::Result<ShardMergeSummary> RankCoordinator::CollectMergedRanks(
    util::Result<ShardMergeSummary> merged) {
  for (int ranks = rank_.job.size() - 1; ranks > 0; --ranks) {
    int source = 0;
    const std::vector<std::uint8_t> message =
        rank_.job.Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source);
    if (!merged) continue;
    const ShardSubset theirs = ShardSubset::OfRank(source, rank_.job.size());
    util::Result<MergedMessage> tally =
        MergedMessage::Decode(message, theirs.CountOf(merged->shards.size()));
    if (!tally) {
      merged = std::move(tally).TakeError();
      continue;
    }
    merged->output_files += tally->output_files;
    merged->merged_bytes += tally->merged_bytes;
    merged->write_seconds += tally->write_seconds;
    std::uint64_t id = theirs.first;
    for (const shards::IndexedShard& shard : tally->shards) {
      merged->shards[id] = shard;
      id += theirs.step;
    }
  }
  return merged;
}

}  // namespace boardmill::pipeline
