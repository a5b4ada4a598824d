#include "app/version_command.h"

#include <cstdio>

// The build sets it from the project version, the one the package carries.
#ifndef BOARDMILL_VERSION
#error "BOARDMILL_VERSION must be defined by the build"
#endif

namespace boardmill::app {

int RunVersionCommand(int /*argc*/, char** /*argv*/) {
  std::fputs("boardmill " BOARDMILL_VERSION "\n", stdout);
  return 0;
}

}  // namespace boardmill::app
