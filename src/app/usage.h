#pragma once

namespace boardmill::app {

// Writes the usage text to standard output.
void PrintUsage();

}  // namespace boardmill::app
