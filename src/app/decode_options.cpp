#include "app/decode_options.h"

#include <array>

#include "app/command_grammar.h"

namespace boardmill::app {

namespace {

using Rule = OptionRule<DecodeRequest>;

// In usage order.
constexpr std::array kDecodeOptions = {
    Rule{"--limit", ValueKind::kNumber, SetNumber<&DecodeRequest::limit>},
    Rule{"--hex", ValueKind::kNone, SetTo<&DecodeRequest::hex, true>},
    Rule{"--allow-unfinished", ValueKind::kNone, SetTo<&DecodeRequest::allow_unfinished, true>},
};

constexpr CommandGrammar<DecodeRequest> kDecodeGrammar{
    .operands = {"<output_dir | shard_file>", 1},
    .continuation_indent = 0,  // one line
    .options = kDecodeOptions,
};

}  // namespace

util::Result<void> ParseDecodeOptions(int argc, char** argv, DecodeRequest& request) {
  util::Result<void> parsed = ParseCommandLine(argc, argv, kDecodeGrammar, request);
  if (parsed) request.target = argv[2];
  return parsed;
}

std::string DecodeSynopsis(std::string_view command) { return Synopsis(command, kDecodeGrammar); }

}  // namespace boardmill::app
