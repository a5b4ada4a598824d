#pragma once

namespace boardmill::app {

// --version: "boardmill X.Y.Z", the version the build was made as, on standard output.
int RunVersionCommand(int argc, char** argv);

}  // namespace boardmill::app
