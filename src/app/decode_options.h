#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "util/result.h"

namespace boardmill::app {

// What the decode-shards command line asks for.
struct DecodeRequest {
  std::filesystem::path target;  // an output directory or one shard file
  std::optional<std::uint64_t> limit;
  bool hex = false;
  bool allow_unfinished = false;  // read the shards of a run that did not finish
};

// Fills `request` from argv; when the arguments are malformed, the reason, naming the argument.
util::Result<void> ParseDecodeOptions(int argc, char** argv, DecodeRequest& request);

// The usage line of the command.
std::string DecodeSynopsis(std::string_view command);

}  // namespace boardmill::app
