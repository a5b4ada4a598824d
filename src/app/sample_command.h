#pragma once

#include "app/sample_options.h"

namespace boardmill::app {

// Runs the sampler and prints its report (or its error); returns the exit code.
int RunSampleCommand(const SampleCommandLine& command_line);

}  // namespace boardmill::app
