#pragma once

#include <string>

namespace boardmill::app {

// The scan command: prints the listing of the input files; returns the exit code.
int RunScan(const std::string& directory);

}  // namespace boardmill::app
