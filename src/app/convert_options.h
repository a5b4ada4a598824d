#pragma once

#include <string>
#include <string_view>

#include "app/settings_command_line.h"
#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::app {

using ConvertCommandLine = SettingsCommandLine<pipeline::ConversionOptions>;

// Fills `command_line` from argv; when the arguments are refused, the reason, naming the argument.
util::Result<void> ParseConvertOptions(int argc, char** argv, ConvertCommandLine& command_line);

// The usage lines of the command, every option in the order the parser's table lists them.
std::string ConvertSynopsis(std::string_view command);

// The settings a run receives: the tuning interval at its fixed 1 second.
pipeline::ConversionOptions ToConversionOptions(const ConvertCommandLine& command_line);

}  // namespace boardmill::app
