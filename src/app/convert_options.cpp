#include "app/convert_options.h"

#include <array>

#include "app/command_grammar.h"

namespace boardmill::app {

namespace {

using pipeline::ConversionOptions;
using pipeline::ExecutionMode;
using Rule = OptionRule<ConvertCommandLine>;
using ValueKind::kNone;
using ValueKind::kNumber;
using ValueKind::kPath;

constexpr UsagePlace kNewLine = UsagePlace::kNewLine;

// In usage order; an entry on kNewLine starts a line of the usage text.
constexpr std::array kConvertOptions = {
    Rule{"--shards", kNumber, SetSettingNumber<&ConversionOptions::output_shard_count>},
    Rule{"--compression-level", kNumber, SetSettingNumber<&ConversionOptions::compression_level>},
    Rule{"--records-per-flush", kNumber, SetSettingNumber<&ConversionOptions::records_per_flush>},
    Rule{"--max-files", kNumber, SetSettingNumber<&ConversionOptions::max_input_files>},
    Rule{"--max-lines-per-file", kNumber, SetSettingNumber<&ConversionOptions::max_lines_per_file>},
    Rule{"--max-threads", kNumber, SetSettingNumber<&ConversionOptions::max_threads>, kNewLine},
    Rule{"--reader-workers", kNumber, SetSettingNumber<&ConversionOptions::reader_workers>},
    Rule{"--decompress-workers", kNumber, SetSettingNumber<&ConversionOptions::decompress_workers>},
    Rule{"--line-index-workers", kNumber, SetSettingNumber<&ConversionOptions::line_index_workers>},
    Rule{"--parse-workers", kNumber, SetSettingNumber<&ConversionOptions::parse_workers>},
    Rule{"--compress-workers", kNumber, SetSettingNumber<&ConversionOptions::compress_workers>,
         kNewLine},
    Rule{"--line-batch-size", kNumber, SetSettingNumber<&ConversionOptions::line_batch_size>},
    Rule{"--parse-batch-size", kNumber, SetSettingNumber<&ConversionOptions::parse_batch_size>},
    Rule{"--initial-workers", kNumber, SetSettingNumber<&ConversionOptions::initial_workers>},
    Rule{"--min-workers", kNumber, SetSettingNumber<&ConversionOptions::min_workers>, kNewLine},
    Rule{"--merge-threads", kNumber, SetSettingNumber<&ConversionOptions::merge_threads>},
    Rule{"--memory-ceiling-mib", kNumber, SetSettingNumber<&ConversionOptions::memory_ceiling_mib>},
    Rule{"--scratch-dir", kPath, SetSettingText<&ConversionOptions::scratch_directory>, kNewLine},
    Rule{"--manifest", kPath, SetSettingText<&ConversionOptions::manifest_path>},
    Rule{"--reject-log", kPath, SetSettingText<&ConversionOptions::reject_log_path>},
    Rule{"--min-free-space-gib", kNumber, SetFreeSpace, kNewLine},
    Rule{"--verify-output", kNone, SetSettingTo<&ConversionOptions::verify_output, true>},
    Rule{"--resume", kNone, SetSettingTo<&ConversionOptions::resume, true>},
    Rule{"--keep-scratch", kNone, SetSettingTo<&ConversionOptions::keep_scratch, true>},
    Rule{"--no-fast-encoder", kNone, SetSettingTo<&ConversionOptions::enable_fast_encoder, false>,
         kNewLine},
    Rule{"--autotune", kNone, SetSettingTo<&ConversionOptions::enable_autotune, true>},
    Rule{"--no-autotune", kNone, SetSettingTo<&ConversionOptions::enable_autotune, false>},
    Rule{"--sequential", kNone,
         SetSettingTo<&ConversionOptions::execution_mode, ExecutionMode::kSequential>},
    Rule{"--parallel", kNone,
         SetSettingTo<&ConversionOptions::execution_mode, ExecutionMode::kParallel>},
    Rule{"--staged", kNone,
         SetSettingTo<&ConversionOptions::execution_mode, ExecutionMode::kStaged>},
    Rule{"--lenient-fen", kNone,
         SetSettingTo<&ConversionOptions::fen_reading, chess::FenReading::kLenient>},
    Rule{"--recursive", kNone, SetSettingTo<&ConversionOptions::recursive_input, true>},
    kProgressFlag<ConvertCommandLine>,
    kNoProgressFlag<ConvertCommandLine>,
};

constexpr CommandGrammar<ConvertCommandLine> kConvertGrammar{
    .operands = {"<input_dir> <output_dir>", 2},
    .continuation_indent = 21,
    .options = kConvertOptions,
};

}  // namespace

util::Result<void> ParseConvertOptions(int argc, char** argv, ConvertCommandLine& command_line) {
  util::Result<void> parsed = ParseCommandLine(argc, argv, kConvertGrammar, command_line);
  if (!parsed) return parsed;
  command_line.settings.input_directory = argv[2];
  command_line.settings.output_directory = argv[3];
  return {};
}

std::string ConvertSynopsis(std::string_view command) { return Synopsis(command, kConvertGrammar); }

pipeline::ConversionOptions ToConversionOptions(const ConvertCommandLine& command_line) {
  pipeline::ConversionOptions options = command_line.settings;
  options.tuning_interval_seconds = 1.0;
  return options;
}

}  // namespace boardmill::app
