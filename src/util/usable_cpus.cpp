#include "util/usable_cpus.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

// A whole number written out in full; anything else (a sign, "max", trailing text) is none.
std::optional<std::uint64_t> ParseCount(const std::string& word) {
  std::uint64_t value = 0;
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (word.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// The first `count` white-space separated words of `file`; fewer when it has fewer or is
// unreadable.
std::vector<std::string> ReadWords(const fs::path& file, std::size_t count) {
  std::ifstream stream(file);
  std::vector<std::string> words;
  std::string word;
  while (words.size() < count && stream >> word) words.push_back(word);
  return words;
}

// quota / period CPUs, rounded up; 0 for a missing or meaningless pair.
std::uint64_t QuotaCpus(const std::string& quota_word, const std::string& period_word) {
  const std::optional<std::uint64_t> quota = ParseCount(quota_word);
  const std::optional<std::uint64_t> period = ParseCount(period_word);
  if (!quota || !period || *quota == 0 || *period == 0) return 0;
  return *quota / *period + (*quota % *period != 0 ? 1 : 0);
}

std::uint64_t AffinityCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return static_cast<std::uint64_t>(CPU_COUNT(&set));
  }
  // A mask too large for cpu_set_t: a machine of more than 1024 CPUs, where the hardware count
  // is the better guess.
  return std::thread::hardware_concurrency();
}

}  // namespace

std::uint64_t CgroupCpuQuota(const CgroupDirectory& directory) {
  if (directory.version == CgroupVersion::kV2) {
    const std::vector<std::string> words = ReadWords(directory.path / "cpu.max", 2);
    return words.size() == 2 ? QuotaCpus(words[0], words[1]) : 0;
  }
  const std::vector<std::string> quota = ReadWords(directory.path / "cpu.cfs_quota_us", 1);
  const std::vector<std::string> period = ReadWords(directory.path / "cpu.cfs_period_us", 1);
  return quota.size() == 1 && period.size() == 1 ? QuotaCpus(quota[0], period[0]) : 0;
}

std::uint64_t UsableCpuCount() {
  std::uint64_t cpus = AffinityCpuCount();
  for (const CgroupDirectory& group : ProcessCgroupDirectories("cpu")) {
    const std::uint64_t quota = CgroupCpuQuota(group);
    if (quota != 0) cpus = cpus == 0 ? quota : std::min(cpus, quota);
  }
  return std::max<std::uint64_t>(cpus, 1);
}

}  // namespace boardmill::util
