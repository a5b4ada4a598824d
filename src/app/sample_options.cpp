#include "app/sample_options.h"

#include <array>

#include "app/command_grammar.h"

namespace boardmill::app {

namespace {

using io::FenDatasetSamplerSettings;
using Rule = OptionRule<SampleCommandLine>;
using ValueKind::kNone;
using ValueKind::kNumber;
using ValueKind::kPath;

// A flag that widens the input discovery. --lenient-fen lists .epd.zst files too, as it does
// for convert; the sample copies lines without reading them.
template <auto kDiscoveryField>
bool SetDiscovery(SampleCommandLine& command_line, const char* /*value*/) {
  command_line.settings.discovery.*kDiscoveryField = true;
  return true;
}

// In usage order. The line cap is bare in the usage: a sample without one would copy whole files.
constexpr std::array kSampleOptions = {
    Rule{"--max-lines-per-file", kNumber,
         SetSettingNumber<&FenDatasetSamplerSettings::max_lines_per_file>, UsagePlace::kBare},
    Rule{"--max-files", kNumber, SetSettingNumber<&FenDatasetSamplerSettings::max_input_files>},
    Rule{"--compression-level", kNumber,
         SetSettingNumber<&FenDatasetSamplerSettings::compression_level>, UsagePlace::kNewLine},
    Rule{"--line-batch-size", kNumber,
         SetSettingNumber<&FenDatasetSamplerSettings::line_batch_size>},
    Rule{"--manifest", kPath, SetSettingText<&FenDatasetSamplerSettings::manifest_path>},
    Rule{"--recursive", kNone, SetDiscovery<&io::InputDiscovery::recursive>},
    Rule{"--lenient-fen", kNone, SetDiscovery<&io::InputDiscovery::include_epd>},
    kProgressFlag<SampleCommandLine>,
    kNoProgressFlag<SampleCommandLine>,
};

constexpr CommandGrammar<SampleCommandLine> kSampleGrammar{
    .operands = {"<input_dir> <output_dir>", 2},
    .continuation_indent = 23,
    .options = kSampleOptions,
};

}  // namespace

util::Result<void> ParseSampleOptions(int argc, char** argv, SampleCommandLine& command_line) {
  util::Result<void> parsed = ParseCommandLine(argc, argv, kSampleGrammar, command_line);
  if (!parsed) return parsed;
  // Checked once every option is read, since the last --max-lines-per-file is the one that counts.
  if (command_line.settings.max_lines_per_file == 0) {
    return util::Fail("sample-fens needs --max-lines-per-file N, with N at least 1.");
  }
  command_line.settings.input_directory = argv[2];
  command_line.settings.output_directory = argv[3];
  return {};
}

std::string SampleSynopsis(std::string_view command) { return Synopsis(command, kSampleGrammar); }

}  // namespace boardmill::app
