#include "pipeline/shuffle/dedup_mode.h"

#include <array>
#include <cstddef>

namespace boardmill::shuffle {

namespace {

struct NamedMode {
  DedupMode mode;
  std::string_view name;
};

// In the order of DedupMode, so that a mode is its own place in the table.
constexpr std::array<NamedMode, 3> kDedupNames = {{
    {DedupMode::kNone, "none"},
    {DedupMode::kExact, "exact"},
    {DedupMode::kBoard, "board"},
}};

}  // namespace

std::string_view DedupName(DedupMode mode) {
  return kDedupNames[static_cast<std::size_t>(mode)].name;
}

std::optional<DedupMode> ParseDedupName(std::string_view name) {
  for (const NamedMode& named : kDedupNames) {
    if (named.name == name) return named.mode;
  }
  return std::nullopt;
}

}  // namespace boardmill::shuffle
