#pragma once

#include <string>
#include <string_view>

#include "app/settings_command_line.h"
#include "pipeline/shuffle/shuffle_options.h"
#include "util/result.h"

namespace boardmill::app {

using ShuffleCommandLine = SettingsCommandLine<shuffle::ShuffleOptions>;

// Fills `command_line` from argv: one or more input directories and the output directory, then
// the options; when the arguments are refused, the reason, naming the argument.
util::Result<void> ParseShuffleOptions(int argc, char** argv, ShuffleCommandLine& command_line);

// The usage lines of the command, every option in the order the parser's table lists them.
std::string ShuffleSynopsis(std::string_view command);

}  // namespace boardmill::app
