#include "app/command_dispatch.h"

#include <array>
#include <string_view>

#include "app/codec_commands.h"
#include "app/convert_command.h"
#include "app/decode_shards_command.h"
#include "app/sample_command.h"
#include "app/scan_command.h"
#include "app/usage.h"
#include "app/verify_command.h"
#include "app/version_command.h"

namespace boardmill::app {

namespace {

int RunScanCommand(int argc, char** argv) {
  if (argc < 3) {
    PrintUsage();
    return 1;
  }
  return RunScan(argv[2]);
}

int RunSampleFensCommand(int argc, char** argv) {
  SampleCommandLine command_line;
  if (!ParseSampleOptions(argc, argv, command_line)) {
    PrintUsage();
    return 1;
  }
  return RunSampleCommand(command_line);
}

int RunConvertCommandLine(int argc, char** argv) {
  ConvertCommandLine command_line;
  if (!ParseConvertOptions(argc, argv, command_line)) {
    PrintUsage();
    return 1;
  }
  return RunConvertCommand(command_line);
}

struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
};

constexpr std::array kCommands = {
    Command{"roundtrip-fen", RunRoundtripFen}, Command{"encode-fen", RunEncodeFen},
    Command{"scan", RunScanCommand},           Command{"sample-fens", RunSampleFensCommand},
    Command{"convert", RunConvertCommandLine}, Command{"verify-shards", RunVerifyShardsCommand},
    Command{"decode-shards", RunDecodeShards}, Command{"help", RunHelpCommand},
    Command{"--help", RunHelpCommand},         Command{"-h", RunHelpCommand},
    Command{"--version", RunVersionCommand},
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
