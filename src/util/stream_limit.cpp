#include "util/stream_limit.h"

#include <sys/resource.h>

#include <algorithm>

namespace boardmill::util {

void RaiseStreamLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = std::min<rlim_t>(kWantedStreamLimit, limit.rlim_max);
  if (limit.rlim_cur >= wanted) return;  // Never lower a limit that is already generous.
  limit.rlim_cur = wanted;
  setrlimit(RLIMIT_NOFILE, &limit);  // Best effort: a refusal keeps the current limit.
}

std::uint64_t CurrentStreamLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return limit.rlim_cur;
}

}  // namespace boardmill::util
