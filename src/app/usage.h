#pragma once

#include <string>

namespace boardmill::app {

// Writes the usage text to standard output: the usage lines of every command, in the order of
// the command table.
void PrintUsage();

// A command line not understood: the usage on standard output, then `reason` (naming the
// argument at fault) as one line on standard error. Returns the exit code, 1.
int RefuseCommandLine(const std::string& reason);

// help, --help, -h: the usage text as an answer rather than a refusal, so exit code 0.
int RunHelpCommand(int argc, char** argv);

}  // namespace boardmill::app
