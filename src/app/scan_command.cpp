#include "app/scan_command.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/command_grammar.h"
#include "app/usage.h"
#include "io/input_discovery.h"

namespace boardmill::app {

namespace {

namespace fs = std::filesystem;

struct ScanCommandLine {
  io::InputDiscovery discovery;
};

template <auto kDiscoveryField>
bool SetDiscovery(ScanCommandLine& command_line, const char* /*value*/) {
  command_line.discovery.*kDiscoveryField = true;
  return true;
}

// --lenient-fen lists the .epd.zst files that a lenient conversion would read.
constexpr std::array kScanOptions = {
    OptionRule<ScanCommandLine>{"--recursive", ValueKind::kNone,
                                SetDiscovery<&io::InputDiscovery::recursive>},
    OptionRule<ScanCommandLine>{"--lenient-fen", ValueKind::kNone,
                                SetDiscovery<&io::InputDiscovery::include_epd>},
};

constexpr CommandGrammar<ScanCommandLine> kScanGrammar{
    .operands = {"<directory>", 1},
    .continuation_indent = 16,
    .options = kScanOptions,
};

int PrintListing(const fs::path& directory, const io::InputDiscovery& discovery) {
  const util::Result<std::vector<fs::path>> files = io::ListFenFiles(directory, 0, discovery);
  if (!files) {
    std::fprintf(stderr, "%s\n", files.error().c_str());
    return 1;
  }
  const char* kinds = discovery.include_epd ? ".fen.zst and .epd.zst" : ".fen.zst";
  std::printf("Found %zu %s files\n", files->size(), kinds);
  for (const fs::path& file : *files) std::printf("%s\n", file.string().c_str());
  return 0;
}

}  // namespace

int RunScanCommand(int argc, char** argv) {
  const util::Result<void> checked = CheckOperands(argc, argv, kScanGrammar.operands);
  if (!checked) return RefuseCommandLine(checked.error());
  // Other words after the directory are ignored, as they always were.
  ScanCommandLine command_line;
  for (int i = 3; i < argc; ++i) {
    const auto* rule = FindOption<ScanCommandLine>(kScanGrammar.options, argv[i]);
    if (rule != nullptr) rule->apply(command_line, nullptr);
  }
  return PrintListing(argv[2], command_line.discovery);
}

std::string ScanSynopsis(std::string_view command) { return Synopsis(command, kScanGrammar); }

}  // namespace boardmill::app
