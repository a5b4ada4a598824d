#pragma once

#include <cstdint>
#include <string>

#include "app/progress_option.h"

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
};

// Fills `command_line` from argv; false (and no message) when the arguments are refused or no
// positive --max-lines-per-file was given.
bool ParseSampleOptions(int argc, char** argv, SampleCommandLine& command_line);

}  // namespace boardmill::app
