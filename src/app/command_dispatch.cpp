#include "app/command_dispatch.h"

#include <array>
#include <string_view>

#include "app/codec_commands.h"
#include "app/input_discovery.h"
#include "app/usage.h"

namespace boardmill::app {

namespace {

int RunScanCommand(int argc, char** argv) {
  if (argc < 3) {
    PrintUsage();
    return 1;
  }
  return RunScan(argv[2]);
}

struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
};

constexpr std::array kCommands = {
    Command{"roundtrip-fen", RunRoundtripFen},
    Command{"encode-fen", RunEncodeFen},
    Command{"scan", RunScanCommand},
};

}  // namespace

int DispatchCommand(int argc, char** argv) {
  if (argc >= 2) {
    const std::string_view word = argv[1];
    for (const Command& command : kCommands) {
      if (command.name == word) return command.run(argc, argv);
    }
  }
  PrintUsage();
  return 1;
}

}  // namespace boardmill::app
