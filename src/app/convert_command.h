#pragma once

#include "app/convert_options.h"
#include "pipeline/conversion_summary.h"

namespace boardmill::app {

// Runs the conversion and prints its report (or its error); returns the exit code.
int RunConvertCommand(const ConvertCommandLine& command_line);

// The conversion report, one "label: value" line per counter.
void PrintConversionReport(const pipeline::ConversionSummary& summary);

}  // namespace boardmill::app
