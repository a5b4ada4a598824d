#include "app/human_units.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace boardmill::app {

namespace {

// What snprintf wrote into `buffer`, which is cut short when the text did not fit.
template <std::size_t kSize>
std::string Written(const char (&buffer)[kSize], int length) {
  return std::string(buffer,
                     length > 0 ? std::min(static_cast<std::size_t>(length), kSize - 1) : 0);
}

std::string Printed(const char* format, double value, const char* unit) {
  char buffer[64];
  return Written(buffer, std::snprintf(buffer, sizeof buffer, format, value, unit));
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  constexpr std::array<const char*, 6> kUnits = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // Move up a unit where one decimal would round to 1024.0 and show a value that is not there.
  while (value >= 1023.95 && unit + 1 < kUnits.size()) {
    value /= 1024;
    ++unit;
  }
  return Printed("%.1f %s", value, kUnits[unit]);
}

std::string FormatQuantity(double value) {
  constexpr std::array<const char*, 5> kUnits = {"k", "M", "G", "T", "P"};
  if (!(value >= 0)) value = 0;
  if (value < 9999.5) return Printed("%.0f%s", value, "");
  value /= 1000;
  std::size_t unit = 0;
  while (value >= 999.5 && unit + 1 < kUnits.size()) {
    value /= 1000;
    ++unit;
  }
  const char* format = value < 9.995 ? "%.2f%s" : value < 99.95 ? "%.1f%s" : "%.0f%s";
  return Printed(format, value, kUnits[unit]);
}

std::string FormatDuration(double seconds) {
  // Capped at a century so that the conversion below stays defined whatever an estimate says.
  constexpr double kLongest = 100.0 * 365 * 24 * 3600;
  const double shown = seconds >= 0 ? std::min(seconds, kLongest) : 0;
  const auto whole = static_cast<std::uint64_t>(std::floor(shown));
  const std::uint64_t hours = whole / 3600;
  const std::uint64_t minutes = whole / 60 % 60;
  const std::uint64_t rest = whole % 60;
  char buffer[64];
  const int length = hours > 0 ? std::snprintf(buffer, sizeof buffer, "%llu:%02llu:%02llu",
                                               static_cast<unsigned long long>(hours),
                                               static_cast<unsigned long long>(minutes),
                                               static_cast<unsigned long long>(rest))
                               : std::snprintf(buffer, sizeof buffer, "%llu:%02llu",
                                               static_cast<unsigned long long>(minutes),
                                               static_cast<unsigned long long>(rest));
  return Written(buffer, length);
}

}  // namespace boardmill::app
