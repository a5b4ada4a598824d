#pragma once

#include <cstdint>
#include <string>

#include "util/result.h"

namespace boardmill::util {

// Fails with "<what> must be at most <limit>." when `value` exceeds `limit`.
inline Result<void> CheckAtMost(const std::string& what, std::uint64_t value, std::uint64_t limit) {
  if (value <= limit) return {};
  return Fail(what + " must be at most " + std::to_string(limit) + ".");
}

}  // namespace boardmill::util
