#include "util/usable_cpus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace boardmill::util {
namespace {

using boardmill::testing::TempDir;
using boardmill::testing::WriteFile;

struct QuotaCase {
  const char* name;
  std::vector<std::pair<const char*, const char*>> files;  // file name, content
  std::uint64_t cpus;
};

std::uint64_t QuotaOf(const QuotaCase& quota, CgroupVersion version) {
  TempDir group;
  for (const auto& [name, content] : quota.files) WriteFile(group / name, content);
  return CgroupCpuQuota({group.path(), version});
}

TEST(CgroupCpuQuotaTest, V2CpuMaxGivesQuotaOverPeriodRoundedUp) {
  const std::vector<QuotaCase> cases = {
      {"no quota", {{"cpu.max", "max 100000\n"}}, 0},
      {"two CPUs", {{"cpu.max", "200000 100000\n"}}, 2},
      {"one and a half", {{"cpu.max", "150000 100000\n"}}, 2},
      {"a tenth", {{"cpu.max", "10000 100000\n"}}, 1},
      {"no file", {}, 0},
      {"no period", {{"cpu.max", "200000\n"}}, 0},
      {"zero period", {{"cpu.max", "200000 0\n"}}, 0},
      {"not a number", {{"cpu.max", "2e5 100000\n"}}, 0},
  };
  for (const QuotaCase& quota : cases) {
    SCOPED_TRACE(quota.name);
    EXPECT_EQ(QuotaOf(quota, CgroupVersion::kV2), quota.cpus);
  }
}

TEST(CgroupCpuQuotaTest, V1QuotaAndPeriodFilesGiveQuotaOverPeriodRoundedUp) {
  const std::vector<QuotaCase> cases = {
      {"no quota", {{"cpu.cfs_quota_us", "-1\n"}, {"cpu.cfs_period_us", "100000\n"}}, 0},
      {"three CPUs", {{"cpu.cfs_quota_us", "300000\n"}, {"cpu.cfs_period_us", "100000\n"}}, 3},
      {"two and a bit", {{"cpu.cfs_quota_us", "250000\n"}, {"cpu.cfs_period_us", "100000\n"}}, 3},
      {"short period", {{"cpu.cfs_quota_us", "150000\n"}, {"cpu.cfs_period_us", "50000\n"}}, 3},
      {"no period file", {{"cpu.cfs_quota_us", "300000\n"}}, 0},
  };
  for (const QuotaCase& quota : cases) {
    SCOPED_TRACE(quota.name);
    EXPECT_EQ(QuotaOf(quota, CgroupVersion::kV1), quota.cpus);
  }
}

}  // namespace
}  // namespace boardmill::util
