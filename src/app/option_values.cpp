#include "app/option_values.h"

#include <cstdlib>
#include <limits>

namespace boardmill::app {

namespace {

template <typename Number>
bool StoreIfPresent(const std::optional<Number>& number, Number& field) {
  if (number) field = *number;
  return number.has_value();
}

}  // namespace

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

bool StoreNumber(const char* text, std::uint64_t& field) {
  return StoreIfPresent(ParseCountValue(text), field);
}

bool StoreNumber(const char* text, std::optional<std::uint64_t>& field) {
  const std::optional<std::uint64_t> count = ParseCountValue(text);
  if (count) field = count;
  return count.has_value();
}

bool StoreNumber(const char* text, std::int32_t& field) {
  return StoreIfPresent(ParseLevelValue(text), field);
}

std::uint64_t GibibytesToBytes(std::uint64_t gibibytes) {
  constexpr int kShift = 30;
  if (gibibytes > (std::numeric_limits<std::uint64_t>::max() >> kShift)) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return gibibytes << kShift;
}

}  // namespace boardmill::app
