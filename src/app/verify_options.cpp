#include "app/verify_options.h"

#include <array>

#include "app/command_grammar.h"

namespace boardmill::app {

namespace {

using Rule = OptionRule<VerifyCommandLine>;
using ValueKind::kNone;
using ValueKind::kNumber;

// In usage order. --quick makes a form of its own in the usage text.
constexpr std::array kVerifyOptions = {
    Rule{"--quick", kNone, SetTo<&VerifyCommandLine::quick, true>, UsagePlace::kBare, kSecondForm},
    Rule{"--shards", kNumber, SetNumber<&VerifyCommandLine::shard_count>, UsagePlace::kInline,
         kFirstForm | kSecondForm},
    Rule{"--allow-unfinished", kNone, SetTo<&VerifyCommandLine::allow_unfinished, true>,
         UsagePlace::kInline, kFirstForm | kSecondForm},
    kProgressFlag<VerifyCommandLine>,
    kNoProgressFlag<VerifyCommandLine>,
};

constexpr CommandGrammar<VerifyCommandLine> kVerifyGrammar{
    .operands = {"<output_dir>", 1},
    .continuation_indent = 26,
    .options = kVerifyOptions,
};

}  // namespace

util::Result<void> ParseVerifyOptions(int argc, char** argv, VerifyCommandLine& command_line) {
  return ParseCommandLine(argc, argv, kVerifyGrammar, command_line);
}

std::string VerifySynopsis(std::string_view command) { return Synopsis(command, kVerifyGrammar); }

}  // namespace boardmill::app
