#include "run/memory_ceiling.h"

#include <algorithm>

#include "util/memory_limit.h"

namespace boardmill::run {

namespace {

constexpr std::uint64_t kUnknownLimitCeilingMib = 1024;
constexpr std::uint64_t kLargestCeilingMib = std::uint64_t{1} << 40;

std::uint64_t RoundUpToMib(std::uint64_t bytes) {
  return bytes / kMebibyte + (bytes % kMebibyte != 0);
}

}  // namespace

std::uint64_t DefaultMemoryCeilingMib(std::uint64_t process_limit_bytes) {
  if (process_limit_bytes == 0) return kUnknownLimitCeilingMib;
  return std::max<std::uint64_t>(process_limit_bytes / 2 / kMebibyte, 1);
}

std::uint64_t ResolveMemoryCeilingMib(std::uint64_t requested_mib) {
  if (requested_mib != 0) return requested_mib;
  return DefaultMemoryCeilingMib(util::ProcessMemoryLimitBytes());
}

std::uint64_t MemoryCeilingBytes(std::uint64_t ceiling_mib) {
  return std::min(ceiling_mib, kLargestCeilingMib) * kMebibyte;
}

util::Result<void> CheckMemoryNeed(std::uint64_t ceiling_mib, std::uint64_t needed_bytes,
                                   const std::string& what) {
  if (needed_bytes <= MemoryCeilingBytes(ceiling_mib)) return {};
  return util::Fail("Memory ceiling of " + std::to_string(ceiling_mib) + " MiB is too small: " +
                    what + " needs about " + std::to_string(RoundUpToMib(needed_bytes)) + " MiB.");
}

}  // namespace boardmill::run
