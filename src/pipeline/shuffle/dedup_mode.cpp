#include "pipeline/shuffle/dedup_mode.h"

#include "util/name_table.h"

namespace boardmill::shuffle {

namespace {

// In the order of DedupMode, so that a mode is its own place in the table.
constexpr util::NameTable<DedupMode, 3> kDedupNames = {{
    {DedupMode::kNone, "none"},
    {DedupMode::kExact, "exact"},
    {DedupMode::kBoard, "board"},
}};
static_assert(util::EachValueIsItsPlace(kDedupNames));

}  // namespace

std::string_view DedupName(DedupMode mode) { return util::NameOf(kDedupNames, mode); }

std::optional<DedupMode> ParseDedupName(std::string_view name) {
  return util::ValueNamed(kDedupNames, name);
}

}  // namespace boardmill::shuffle
