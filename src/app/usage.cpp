#include "app/usage.h"

#include <cstdio>

#include "app/command_dispatch.h"

namespace boardmill::app {

void PrintUsage() {
  std::string text = "Boardmill\nUsage:\n";
  for (const Command& command : Commands()) {
    if (command.synopsis != nullptr) text += command.synopsis(command.name);
  }
  std::fputs(text.c_str(), stdout);
}

int RefuseCommandLine(const std::string& reason) {
  PrintUsage();
  // The usage first, so that the reason is the last thing a terminal shows.
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", reason.c_str());
  return 1;
}

int RunHelpCommand(int /*argc*/, char** /*argv*/) {
  PrintUsage();
  return 0;
}

}  // namespace boardmill::app
