#include "pipeline/parallel/rank_context.h"

#include "run/memory_ceiling.h"

namespace boardmill::pipeline {

RankContext::RankContext(const ConversionOptions& options, const io::MpiJob& job)
    : options(options),
      job(job),
      paths(ResolveRunPaths(options)),
      router(options.output_shard_count),
      ceiling_mib(run::ResolveMemoryCeilingMib(options.memory_ceiling_mib)) {}

}  // namespace boardmill::pipeline
