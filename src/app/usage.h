#pragma once

namespace boardmill::app {

// Writes the usage text to standard output.
void PrintUsage();

// help, --help, -h: the usage text as an answer rather than a refusal, so exit code 0.
int RunHelpCommand(int argc, char** argv);

}  // namespace boardmill::app
