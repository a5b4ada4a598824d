#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/progress_option.h"
#include "io/input_discovery.h"
#include "util/result.h"

namespace boardmill::app {

// What the sample-fens command line says, paths still as typed.
struct SampleCommandLine {
  std::string input_directory;
  std::string output_directory;
  std::string manifest_path;
  std::uint64_t max_input_files = 0;
  std::uint64_t max_lines_per_file = 0;
  std::uint64_t line_batch_size = 4096;
  std::int32_t compression_level = 8;
  ProgressChoice progress = ProgressChoice::kAuto;
  io::InputDiscovery discovery;  // --recursive, --lenient-fen
};

// Fills `command_line` from argv; when the arguments are refused, or no positive
// --max-lines-per-file was given, the reason, naming the argument.
util::Result<void> ParseSampleOptions(int argc, char** argv, SampleCommandLine& command_line);

// The usage lines of the command, every option in the order the parser's table lists them.
std::string SampleSynopsis(std::string_view command);

}  // namespace boardmill::app
