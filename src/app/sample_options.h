#pragma once

#include <string>
#include <string_view>

#include "app/settings_command_line.h"
#include "io/fen_dataset_sampler.h"
#include "util/result.h"

namespace boardmill::app {

using SampleCommandLine = SettingsCommandLine<io::FenDatasetSamplerSettings>;

// Fills `command_line` from argv; when the arguments are refused, or no positive
// --max-lines-per-file was given, the reason, naming the argument.
util::Result<void> ParseSampleOptions(int argc, char** argv, SampleCommandLine& command_line);

// The usage lines of the command, every option in the order the parser's table lists them.
std::string SampleSynopsis(std::string_view command);

}  // namespace boardmill::app
