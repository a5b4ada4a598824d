#include "app/command_dispatch.h"

#include <array>

#include "app/codec_commands.h"
#include "app/command_grammar.h"
#include "app/convert_command.h"
#include "app/decode_options.h"
#include "app/decode_shards_command.h"
#include "app/sample_command.h"
#include "app/scan_command.h"
#include "app/shuffle_command.h"
#include "app/shuffle_options.h"
#include "app/usage.h"
#include "app/verify_command.h"
#include "app/verify_options.h"
#include "app/version_command.h"

namespace boardmill::app {

namespace {

constexpr Operands kScanOperands{"<directory>", 1};

int RunScanCommand(int argc, char** argv) {
  const util::Result<void> checked = CheckOperands(argc, argv, kScanOperands);
  if (!checked) return RefuseCommandLine(checked.error());
  return RunScan(argv[2]);
}

std::string ScanSynopsis(std::string_view command) { return Synopsis(command, kScanOperands); }

int RunSampleFensCommand(int argc, char** argv) {
  SampleCommandLine command_line;
  const util::Result<void> parsed = ParseSampleOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  return RunSampleCommand(command_line);
}

int RunConvertCommandLine(int argc, char** argv) {
  ConvertCommandLine command_line;
  const util::Result<void> parsed = ParseConvertOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  return RunConvertCommand(command_line);
}

int RunShuffleCommandLine(int argc, char** argv) {
  ShuffleCommandLine command_line;
  const util::Result<void> parsed = ParseShuffleOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  return RunShuffleCommand(command_line);
}

constexpr std::array kCommands = {
    Command{"roundtrip-fen", RunRoundtripFen, FenCommandSynopsis},
    Command{"encode-fen", RunEncodeFen, FenCommandSynopsis},
    Command{"scan", RunScanCommand, ScanSynopsis},
    Command{"sample-fens", RunSampleFensCommand, SampleSynopsis},
    Command{"convert", RunConvertCommandLine, ConvertSynopsis},
    Command{"shuffle", RunShuffleCommandLine, ShuffleSynopsis},
    Command{"verify-shards", RunVerifyShardsCommand, VerifySynopsis},
    Command{"decode-shards", RunDecodeShards, DecodeSynopsis},
    Command{"help", RunHelpCommand, nullptr},
    Command{"--help", RunHelpCommand, nullptr},
    Command{"-h", RunHelpCommand, nullptr},
    Command{"--version", RunVersionCommand, nullptr},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int DispatchCommand(int argc, char** argv) {
  if (argc < 2) return RefuseCommandLine("No command given.");
  const std::string_view word = argv[1];
  for (const Command& command : kCommands) {
    if (command.name == word) return command.run(argc, argv);
  }
  return RefuseCommandLine("Unknown command: " + std::string(word));
}

}  // namespace boardmill::app
