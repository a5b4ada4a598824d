#include "util/number_format.h"

#include <cstdio>

namespace boardmill::util {

std::string FormatFixed(double value, int decimals) {
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string FormatGeneral(double value) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, "%g", value);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace boardmill::util
