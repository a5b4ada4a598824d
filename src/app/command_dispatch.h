#pragma once

#include <span>
#include <string>
#include <string_view>

namespace boardmill::app {

// A command word, the work it runs and the usage lines it shows (none for the words that ask
// for help or the version).
struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
  std::string (*synopsis)(std::string_view name);
};

// Every command, in the order of the usage text.
std::span<const Command> Commands();

// Runs the command named by argv[1] and returns the process exit code: 0 when the command did
// its work, 1 otherwise (usage shown, or the operation failed).
int DispatchCommand(int argc, char** argv);

}  // namespace boardmill::app
