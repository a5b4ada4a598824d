#include "app/option_values.h"

#include <cstdlib>
#include <limits>

namespace boardmill::app {

std::optional<std::uint64_t> ParseCountValue(const char* text) {
  if (*text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

std::optional<std::int32_t> ParseLevelValue(const char* text) {
  if (*text == '\0') return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return std::nullopt;
  constexpr long kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr long kHighest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kLowest ? kLowest : value > kHighest ? kHighest : value);
}

std::uint64_t GibibytesToBytes(std::uint64_t gibibytes) {
  constexpr int kShift = 30;
  if (gibibytes > (std::numeric_limits<std::uint64_t>::max() >> kShift)) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return gibibytes << kShift;
}

std::optional<FlagAndCount> ParseFlagAndCount(int argc, char** argv, int first,
                                              std::string_view flag,
                                              std::string_view count_option) {
  FlagAndCount options;
  for (int i = first; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == flag) {
      options.flag = true;
      continue;
    }
    if (word != count_option || i + 1 >= argc) return std::nullopt;
    options.count = ParseCountValue(argv[++i]);
    if (!options.count) return std::nullopt;
  }
  return options;
}

}  // namespace boardmill::app
