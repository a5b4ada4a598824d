#include "app/verify_options.h"

#include <optional>
#include <string_view>

#include "app/option_values.h"

namespace boardmill::app {

bool ParseVerifyOptions(int argc, char** argv, VerifyCommandLine& command_line) {
  for (int i = 3; i < argc; ++i) {
    if (ParseProgressFlag(argv[i], command_line.progress)) continue;
    if (std::string_view(argv[i]) == "--quick") {
      command_line.quick = true;
      continue;
    }
    if (std::string_view(argv[i]) != "--shards" || i + 1 >= argc) return false;
    const std::optional<std::uint64_t> value = ParseCountValue(argv[++i]);
    if (!value) return false;
    command_line.shard_count = *value;
  }
  return true;
}

}  // namespace boardmill::app
