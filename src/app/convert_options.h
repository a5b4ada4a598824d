#pragma once

#include <string>
#include <string_view>

#include "app/progress_option.h"
#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::app {

// What the convert command line says: the settings with their defaults, and the five paths
// still as typed (the settings' own path fields are filled when the run starts).
struct ConvertCommandLine {
  std::string input_directory;
  std::string output_directory;
  std::string scratch_directory;
  std::string manifest_path;
  std::string reject_log_path;
  pipeline::ConversionOptions settings;
  ProgressChoice progress = ProgressChoice::kAuto;
};

// Fills `command_line` from argv; when the arguments are refused, the reason, naming the argument.
util::Result<void> ParseConvertOptions(int argc, char** argv, ConvertCommandLine& command_line);

// The usage lines of the command, every option in the order the parser's table lists them.
std::string ConvertSynopsis(std::string_view command);

// The settings a run receives: the paths converted, the tuning interval at its fixed 1 second.
pipeline::ConversionOptions ToConversionOptions(const ConvertCommandLine& command_line);

}  // namespace boardmill::app
