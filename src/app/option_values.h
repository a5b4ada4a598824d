#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace boardmill::app {

// A count as strtoull base 10 reads it: non-empty, consumed whole; leading white space is
// skipped and out-of-range values saturate, as the C library does.
std::optional<std::uint64_t> ParseCountValue(const char* text);

// A compression level as strtol base 10 reads it, saturated into the signed 32-bit range so
// that an out-of-range value is refused by the level check instead of wrapping into a valid one.
std::optional<std::int32_t> ParseLevelValue(const char* text);

// The options of a command that knows one flag and one count option, from argv[first] on, in any
// order, each as often as wanted (the last count wins); false for anything else.
struct FlagAndCount {
  bool flag = false;
  std::optional<std::uint64_t> count;
};
std::optional<FlagAndCount> ParseFlagAndCount(int argc, char** argv, int first,
                                              std::string_view flag, std::string_view count_option);

// N gibibytes in bytes, saturating instead of wrapping for absurdly large N.
std::uint64_t GibibytesToBytes(std::uint64_t gibibytes);

}  // namespace boardmill::app
