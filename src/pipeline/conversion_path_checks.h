#pragma once

#include <filesystem>
#include <span>

#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Refuses a --reject-log, --manifest or --scratch-dir that would overwrite an input file, write
// inside the input directory, collide with a file the run writes in the output directory, or
// with each other. Every mode calls it once the input files are listed and before it changes
// anything on disk.
util::Result<void> CheckConversionPaths(const ConversionOptions& options,
                                        std::span<const std::filesystem::path> input_files);

}  // namespace boardmill::pipeline
