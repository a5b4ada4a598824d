#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace boardmill::shuffle {

// Which records a shuffle keeps: all of them, the first of each distinct record, or the first
// of each position whatever its move counters.
enum class DedupMode { kNone, kExact, kBoard };

// The word the command line, the summary and the index use for `mode`.
std::string_view DedupName(DedupMode mode);
// The mode `name` names; empty for any other word.
std::optional<DedupMode> ParseDedupName(std::string_view name);

}  // namespace boardmill::shuffle
