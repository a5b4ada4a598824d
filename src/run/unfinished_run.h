#pragma once

#include <filesystem>

#include "util/result.h"

namespace boardmill::run {

// The names a parallel run gives its journal and scratch directory inside the output directory
// when no other place is given.
inline constexpr char kDefaultManifestFileName[] = "run-manifest.tsv";
inline constexpr char kDefaultScratchDirectoryName[] = "_scratch";

// Refuses, with one line naming `directory` and what gave it away, a directory that shows it was
// written by a run that did not finish: no run-summary.txt, while a boardmill.lock, a _scratch
// directory or a run-manifest.tsv whose last run record is a start is there. Its shards may be
// cut short or missing records, yet read without fault. A directory of bare shards, with none of
// these marks, passes, as does every finished run.
util::Result<void> RefuseUnfinishedRun(const std::filesystem::path& directory);

}  // namespace boardmill::run
