#pragma once

#include <cstdint>

#include "pipeline/staged/staged_pipeline.h"

namespace boardmill::pipeline {

// The bodies of the staged pipeline's threads. Each runs until its input is closed and drained
// or the run stops, then runs its stage's exit step and ends in state "finished".

// File queue -> decompress input queue (file index mod decompress pool size).
void RunReaderThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Own input queue -> line-index input queue (file index mod line-index pool size).
void RunDecompressThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Own input queue -> parse queue; records each file's batch count in the ledger.
void RunLineIndexThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Parse queue -> run slots and ledger.
void RunParseThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Compress queue -> block slots.
void RunCompressThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Ledger and run slot of `shard` -> compress queue -> block slot -> the shard file.
void RunShardWriterThread(StagedPipeline& pipeline, std::uint64_t shard);

}  // namespace boardmill::pipeline
