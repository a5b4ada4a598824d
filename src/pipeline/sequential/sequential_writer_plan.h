#pragma once

#include <cstdint>
#include <string_view>

#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// How the sequential mode writes its shards. Streams keep one compression stream open per shard,
// which makes one frame per shard file; frames keep the shards' records in one bounded buffer and
// compress a shard's records as a frame of known size whenever the buffer fills, one context at a
// time, so that the memory no longer grows with the shard count.
enum class SequentialWriter : std::uint8_t { kStreams = 0, kFrames = 1 };

// "streams" or "frames".
constexpr std::string_view SequentialWriterName(SequentialWriter writer) {
  return writer == SequentialWriter::kFrames ? "frames" : "streams";
}

struct SequentialWriterPlan {
  SequentialWriter writer = SequentialWriter::kStreams;
  std::uint64_t record_budget_bytes = 0;  // frames: what the records waiting for a frame may hold
};

// What the shard streams need: one per shard that can receive records (at most 256), each with its
// context, output buffer and a flush of records, and the line reader.
std::uint64_t StreamWriterMemoryBytes(const ConversionOptions& options);
// What the framed writer needs with a record budget of `budget_bytes`: the line reader, one
// context for frames of up to the budget, its output buffer, the budget and the shard files' C
// stream buffers.
std::uint64_t FrameWriterMemoryBytes(const ConversionOptions& options, std::uint64_t budget_bytes);

// Streams when they fit under the ceiling, which keeps one frame per shard file; otherwise frames
// with the largest record budget that fits; a refusal when not even the smallest budget does.
util::Result<SequentialWriterPlan> PlanSequentialWriter(const ConversionOptions& options,
                                                        std::uint64_t ceiling_mib);

}  // namespace boardmill::pipeline
