#include "app/sample_options.h"

#include <optional>
#include <string_view>

#include "app/option_values.h"

namespace boardmill::app {

namespace {

bool ApplyCount(const char* value, std::uint64_t& field) {
  const std::optional<std::uint64_t> count = ParseCountValue(value);
  if (count) field = *count;
  return count.has_value();
}

bool ApplyOption(std::string_view name, const char* value, SampleCommandLine& command_line) {
  if (name == "--max-files") return ApplyCount(value, command_line.max_input_files);
  if (name == "--max-lines-per-file") return ApplyCount(value, command_line.max_lines_per_file);
  if (name == "--line-batch-size") return ApplyCount(value, command_line.line_batch_size);
  if (name == "--compression-level") {
    const std::optional<std::int32_t> level = ParseLevelValue(value);
    if (level) command_line.compression_level = *level;
    return level.has_value();
  }
  if (name == "--manifest") {
    command_line.manifest_path = value;
    return true;
  }
  return false;
}

}  // namespace

bool ParseSampleOptions(int argc, char** argv, SampleCommandLine& command_line) {
  if (argc < 5) return false;
  command_line.input_directory = argv[2];
  command_line.output_directory = argv[3];
  // Every sample option but the progress flags takes a value.
  for (int i = 4; i < argc; ++i) {
    if (ParseProgressFlag(argv[i], command_line.progress)) continue;
    if (i + 1 >= argc || !ApplyOption(argv[i], argv[i + 1], command_line)) return false;
    ++i;
  }
  return command_line.max_lines_per_file > 0;
}

}  // namespace boardmill::app
