#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "util/number_format.h"

namespace boardmill::app {

// Console report lines: a label ending in ": ", the value, a newline. Counts in decimal, doubles
// with six significant digits, paths as text.
inline void PrintLine(const char* label, std::uint64_t value) {
  std::printf("%s%llu\n", label, static_cast<unsigned long long>(value));
}
inline void PrintLine(const char* label, std::int32_t value) {
  std::printf("%s%d\n", label, value);
}
inline void PrintLine(const char* label, double value) {
  std::printf("%s%s\n", label, util::FormatGeneral(value).c_str());
}
inline void PrintLine(const char* label, const std::filesystem::path& path) {
  std::printf("%s%s\n", label, path.string().c_str());
}

inline int PrintErrorLine(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

}  // namespace boardmill::app
