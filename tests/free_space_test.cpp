#include "pipeline/free_space.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

TEST(FreeSpaceTest, ZeroMinimumPassesOnAnyReadableVolume) {
  testing::TempDir dir;
  std::string message = "untouched";
  EXPECT_TRUE(HasEnoughFreeSpace(dir.path(), 0, message));
  EXPECT_EQ(message, "untouched");
}

TEST(FreeSpaceTest, ZeroMinimumStillFailsWhenTheVolumeCannotBeQueried) {
  testing::TempDir dir;
  std::string message;
  EXPECT_FALSE(HasEnoughFreeSpace(dir / "does-not-exist", 0, message));
  EXPECT_EQ(message, "Failed to query free space: No such file or directory");
}

TEST(FreeSpaceTest, NamesAvailableAndRequiredBytesWhenShort) {
  testing::TempDir dir;
  std::string message;
  const std::uint64_t impossible = std::numeric_limits<std::uint64_t>::max();
  EXPECT_FALSE(HasEnoughFreeSpace(dir.path(), impossible, message));
  EXPECT_TRUE(
      std::regex_match(message, std::regex(R"(Available space \d+ is below the minimum required )"
                                           R"(18446744073709551615 bytes\.)")))
      << message;
}

}  // namespace
}  // namespace boardmill::pipeline
