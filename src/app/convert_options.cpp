#include "app/convert_options.h"

#include <array>
#include <string_view>

#include "app/option_values.h"

namespace boardmill::app {

namespace {

using pipeline::ConversionOptions;
using pipeline::ExecutionMode;

// Applies an option; `value` is null for flags. False refuses the value.
using ApplyOption = bool (*)(ConvertCommandLine& command_line, const char* value);

struct OptionRule {
  std::string_view name;
  bool takes_value;
  ApplyOption apply;
};

template <std::uint64_t ConversionOptions::*Field>
bool SetCount(ConvertCommandLine& command_line, const char* value) {
  const std::optional<std::uint64_t> count = ParseCountValue(value);
  if (count) command_line.settings.*Field = *count;
  return count.has_value();
}

template <std::string ConvertCommandLine::*Field>
bool SetPath(ConvertCommandLine& command_line, const char* value) {
  command_line.*Field = value;
  return true;
}

template <bool ConversionOptions::*Field, bool kValue>
bool SetFlag(ConvertCommandLine& command_line, const char* /*value*/) {
  command_line.settings.*Field = kValue;
  return true;
}

template <ExecutionMode kMode>
bool SetMode(ConvertCommandLine& command_line, const char* /*value*/) {
  command_line.settings.execution_mode = kMode;
  return true;
}

bool SetLevel(ConvertCommandLine& command_line, const char* value) {
  const std::optional<std::int32_t> level = ParseLevelValue(value);
  if (level) command_line.settings.compression_level = *level;
  return level.has_value();
}

bool SetFreeSpace(ConvertCommandLine& command_line, const char* value) {
  const std::optional<std::uint64_t> gibibytes = ParseCountValue(value);
  if (gibibytes) command_line.settings.min_free_space_bytes = GibibytesToBytes(*gibibytes);
  return gibibytes.has_value();
}

constexpr std::array kOptionRules = {
    OptionRule{"--shards", true, SetCount<&ConversionOptions::output_shard_count>},
    OptionRule{"--compression-level", true, SetLevel},
    OptionRule{"--records-per-flush", true, SetCount<&ConversionOptions::records_per_flush>},
    OptionRule{"--max-files", true, SetCount<&ConversionOptions::max_input_files>},
    OptionRule{"--max-lines-per-file", true, SetCount<&ConversionOptions::max_lines_per_file>},
    OptionRule{"--max-threads", true, SetCount<&ConversionOptions::max_threads>},
    OptionRule{"--reader-workers", true, SetCount<&ConversionOptions::reader_workers>},
    OptionRule{"--decompress-workers", true, SetCount<&ConversionOptions::decompress_workers>},
    OptionRule{"--line-index-workers", true, SetCount<&ConversionOptions::line_index_workers>},
    OptionRule{"--parse-workers", true, SetCount<&ConversionOptions::parse_workers>},
    OptionRule{"--compress-workers", true, SetCount<&ConversionOptions::compress_workers>},
    OptionRule{"--line-batch-size", true, SetCount<&ConversionOptions::line_batch_size>},
    OptionRule{"--parse-batch-size", true, SetCount<&ConversionOptions::parse_batch_size>},
    OptionRule{"--initial-workers", true, SetCount<&ConversionOptions::initial_workers>},
    OptionRule{"--min-workers", true, SetCount<&ConversionOptions::min_workers>},
    OptionRule{"--merge-threads", true, SetCount<&ConversionOptions::merge_threads>},
    OptionRule{"--memory-ceiling-mib", true, SetCount<&ConversionOptions::memory_ceiling_mib>},
    OptionRule{"--min-free-space-gib", true, SetFreeSpace},
    OptionRule{"--scratch-dir", true, SetPath<&ConvertCommandLine::scratch_directory>},
    OptionRule{"--manifest", true, SetPath<&ConvertCommandLine::manifest_path>},
    OptionRule{"--reject-log", true, SetPath<&ConvertCommandLine::reject_log_path>},
    OptionRule{"--verify-output", false, SetFlag<&ConversionOptions::verify_output, true>},
    OptionRule{"--resume", false, SetFlag<&ConversionOptions::resume, true>},
    OptionRule{"--keep-scratch", false, SetFlag<&ConversionOptions::keep_scratch, true>},
    OptionRule{"--no-fast-encoder", false, SetFlag<&ConversionOptions::enable_fast_encoder, false>},
    OptionRule{"--autotune", false, SetFlag<&ConversionOptions::enable_autotune, true>},
    OptionRule{"--no-autotune", false, SetFlag<&ConversionOptions::enable_autotune, false>},
    OptionRule{"--sequential", false, SetMode<ExecutionMode::kSequential>},
    OptionRule{"--parallel", false, SetMode<ExecutionMode::kParallel>},
    OptionRule{"--staged", false, SetMode<ExecutionMode::kStaged>},
};

const OptionRule* FindOptionRule(std::string_view name) {
  for (const OptionRule& rule : kOptionRules) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

}  // namespace

bool ParseConvertOptions(int argc, char** argv, ConvertCommandLine& command_line) {
  if (argc < 4) return false;
  command_line.input_directory = argv[2];
  command_line.output_directory = argv[3];
  for (int i = 4; i < argc; ++i) {
    if (ParseProgressFlag(argv[i], command_line.progress)) continue;
    const OptionRule* rule = FindOptionRule(argv[i]);
    if (rule == nullptr) return false;
    const char* value = nullptr;
    if (rule->takes_value) {
      if (i + 1 >= argc) return false;
      value = argv[++i];
    }
    if (!rule->apply(command_line, value)) return false;
  }
  return true;
}

pipeline::ConversionOptions ToConversionOptions(const ConvertCommandLine& command_line) {
  pipeline::ConversionOptions options = command_line.settings;
  options.input_directory = command_line.input_directory;
  options.output_directory = command_line.output_directory;
  options.scratch_directory = command_line.scratch_directory;
  options.manifest_path = command_line.manifest_path;
  options.reject_log_path = command_line.reject_log_path;
  options.tuning_interval_seconds = 1.0;
  return options;
}

}  // namespace boardmill::app
