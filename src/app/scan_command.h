#pragma once

#include <string>
#include <string_view>

namespace boardmill::app {

// The scan command: prints the listing of the input files of argv[2], found as its options
// (--recursive, --lenient-fen) say; returns the exit code.
int RunScanCommand(int argc, char** argv);

// The usage line of the command.
std::string ScanSynopsis(std::string_view command);

}  // namespace boardmill::app
