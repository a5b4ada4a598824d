#include "app/shuffle_options.h"

#include <array>
#include <optional>

#include "app/command_grammar.h"

namespace boardmill::app {

namespace {

using shuffle::ShuffleOptions;
using Rule = OptionRule<ShuffleCommandLine>;
using ValueKind::kNone;
using ValueKind::kNumber;
using ValueKind::kPath;
using ValueKind::kWord;

bool SetDedup(ShuffleCommandLine& command_line, const char* value) {
  const std::optional<shuffle::DedupMode> mode = shuffle::ParseDedupName(value);
  if (!mode) return false;
  command_line.settings.dedup = *mode;
  return true;
}

constexpr UsagePlace kNewLine = UsagePlace::kNewLine;

// In usage order; an entry on kNewLine starts a line of the usage text.
constexpr std::array kShuffleOptions = {
    Rule{"--shards", kNumber, SetSettingNumber<&ShuffleOptions::shard_count>},
    Rule{"--seed", kNumber, SetSettingNumber<&ShuffleOptions::seed>},
    Rule{"--dedup", kWord, SetDedup, UsagePlace::kInline, kFirstForm, "none|exact|board"},
    Rule{"--compression-level", kNumber, SetSettingNumber<&ShuffleOptions::compression_level>},
    Rule{"--max-threads", kNumber, SetSettingNumber<&ShuffleOptions::max_threads>, kNewLine},
    Rule{"--memory-ceiling-mib", kNumber, SetSettingNumber<&ShuffleOptions::memory_ceiling_mib>},
    Rule{"--scratch-dir", kPath, SetSettingText<&ShuffleOptions::scratch_directory>},
    Rule{"--min-free-space-gib", kNumber, SetFreeSpace, kNewLine},
    Rule{"--resume", kNone, SetSettingTo<&ShuffleOptions::resume, true>},
    Rule{"--keep-scratch", kNone, SetSettingTo<&ShuffleOptions::keep_scratch, true>},
    Rule{"--allow-unfinished", kNone, SetSettingTo<&ShuffleOptions::allow_unfinished, true>},
    kProgressFlag<ShuffleCommandLine>,
    kNoProgressFlag<ShuffleCommandLine>,
};

constexpr CommandGrammar<ShuffleCommandLine> kShuffleGrammar{
    .operands = {"<input_dir>... <output_dir>", 2},
    .continuation_indent = 21,
    .options = kShuffleOptions,
};

// The directories come first, as many as are given before the first option word.
int CountOperands(int argc, char** argv) {
  int count = 0;
  while (2 + count < argc && !std::string_view(argv[2 + count]).starts_with("--")) ++count;
  return count;
}

}  // namespace

util::Result<void> ParseShuffleOptions(int argc, char** argv, ShuffleCommandLine& command_line) {
  CommandGrammar<ShuffleCommandLine> grammar = kShuffleGrammar;
  grammar.operands.count = std::max(CountOperands(argc, argv), kShuffleGrammar.operands.count);
  util::Result<void> parsed = ParseCommandLine(argc, argv, grammar, command_line);
  if (!parsed) return parsed;
  const int output = 2 + grammar.operands.count - 1;
  command_line.settings.input_directories.assign(argv + 2, argv + output);
  command_line.settings.output_directory = argv[output];
  return {};
}

std::string ShuffleSynopsis(std::string_view command) { return Synopsis(command, kShuffleGrammar); }

}  // namespace boardmill::app
