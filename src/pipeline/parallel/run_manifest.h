#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/parallel/input_stamp.h"
#include "pipeline/parallel/tuning_decision.h"
#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::pipeline {

// The journal of parallel runs, run-manifest.tsv: a start record, one record per converted file
// as soon as it is done, one per tuning decision and, on success, a finish record. It documents
// what a run did and lets --resume skip the files an earlier run completed. Workers and the
// autotuner append from their own threads; every call holds the manifest's mutex for its whole
// duration, so records never interleave. Records are buffered, not flushed one by one.
class RunManifest {
 public:
  explicit RunManifest(std::filesystem::path path);
  RunManifest(const RunManifest&) = delete;
  RunManifest& operator=(const RunManifest&) = delete;

  // A fresh run truncates the file and writes the header; a resumed run appends to it (creating
  // it if missing) without a header. Either way the run start record follows.
  util::Result<void> Open(const ConversionOptions& options, bool resume);
  util::Result<void> AppendFileRecord(const FileProcessingSummary& summary);
  // The records of one task's files, flushed together once all are written.
  util::Result<void> AppendFileRecords(std::span<const FileProcessingSummary> summaries);
  util::Result<void> AppendTuningDecision(const TuningDecision& decision);
  // Writes the finish record, flushes and closes the file.
  util::Result<void> WriteFinish(const ConversionSummary& summary, std::string_view status);

 private:
  // Hands text to the stream; false when it failed.
  bool Put(std::string_view text);
  // Sends what is buffered to the file; false when any write so far failed.
  bool Flush();
  util::Result<void> WriteRecord(const std::string& record, std::string_view failure_prefix);

  const std::filesystem::path path_;
  std::mutex mutex_;
  util::UniqueFile stream_;
  bool is_open_ = false;
};

// The completed-file records of a manifest: file index -> the recorded input path, as written,
// i.e. with tabs and line breaks turned into spaces.
// A later record for the same index wins. A missing manifest gives an empty map; a record whose
// index is not a decimal number or does not fit 64 bits fails the load.
util::Result<std::map<std::uint64_t, std::string>> LoadCompletedFiles(
    const std::filesystem::path& path);

// Whether the last run the manifest records finished: its last run record is a finish record.
bool LastRecordedRunFinished(const std::filesystem::path& path);

// The stamps the completed-file records hold, by file index, a later record winning. A record
// without a readable stamp (one written before records held stamps) leaves its file out: its
// stamp is unknown.
util::Result<std::map<std::uint64_t, InputStamp>> LoadCompletedFileStamps(
    const std::filesystem::path& path);

// The indices of LoadCompletedFiles.
util::Result<std::set<std::uint64_t>> LoadCompletedFileIndices(const std::filesystem::path& path);

// The wall-clock time now, in UTC, to the second: 2021-03-01T17:05:09Z.
std::string FormatUtcTimestamp();

}  // namespace boardmill::pipeline
