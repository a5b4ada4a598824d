#pragma once

#include "app/shuffle_options.h"

namespace boardmill::app {

// Runs the shuffle and prints its report (or its error); returns the exit code.
int RunShuffleCommand(const ShuffleCommandLine& command_line);

}  // namespace boardmill::app
