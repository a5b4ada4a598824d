#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace boardmill::pipeline {

// The six stages of the staged pipeline, in the order their threads start and their rows are
// reported. The first five are elastic: a gate admits only their active workers.
enum class PipelineStage : std::size_t {
  kReader = 0,
  kDecompress = 1,
  kLineIndex = 2,
  kParse = 3,
  kCompress = 4,
  kWrite = 5,
};

inline constexpr std::size_t kElasticStageCount = 5;
inline constexpr std::size_t kPipelineStageCount = 6;

inline constexpr std::array<PipelineStage, kElasticStageCount> kElasticStages = {
    PipelineStage::kReader, PipelineStage::kDecompress, PipelineStage::kLineIndex,
    PipelineStage::kParse, PipelineStage::kCompress};

inline constexpr std::array<PipelineStage, kPipelineStageCount> kPipelineStages = {
    PipelineStage::kReader, PipelineStage::kDecompress, PipelineStage::kLineIndex,
    PipelineStage::kParse,  PipelineStage::kCompress,   PipelineStage::kWrite};

constexpr std::size_t StageIndex(PipelineStage stage) { return static_cast<std::size_t>(stage); }

// The stages' indices into per-stage arrays, for code that indexes them often.
namespace stage_index {
inline constexpr std::size_t kReader = StageIndex(PipelineStage::kReader);
inline constexpr std::size_t kDecompress = StageIndex(PipelineStage::kDecompress);
inline constexpr std::size_t kLineIndex = StageIndex(PipelineStage::kLineIndex);
inline constexpr std::size_t kParse = StageIndex(PipelineStage::kParse);
inline constexpr std::size_t kCompress = StageIndex(PipelineStage::kCompress);
inline constexpr std::size_t kWrite = StageIndex(PipelineStage::kWrite);
}  // namespace stage_index

// "reader", "decompress", "line_index", "parse", "compress", "write"; "unknown" otherwise.
constexpr std::string_view StageName(PipelineStage stage) {
  constexpr std::array<std::string_view, kPipelineStageCount> kNames = {
      "reader", "decompress", "line_index", "parse", "compress", "write"};
  return StageIndex(stage) < kNames.size() ? kNames[StageIndex(stage)] : "unknown";
}

// Per elastic stage values (pool sizes, active counts), indexed by StageIndex.
using ElasticCounts = std::array<std::uint64_t, kElasticStageCount>;

}  // namespace boardmill::pipeline
