#pragma once

namespace boardmill::app {

// Runs the command named by argv[1] and returns the process exit code: 0 when the command did
// its work, 1 otherwise (usage shown, or the operation failed).
int DispatchCommand(int argc, char** argv);

}  // namespace boardmill::app
