#include "run/free_space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "test_support.h"

namespace boardmill::run {
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
  const std::string prefix = "Available space ";
  const std::string suffix = " is below the minimum required 18446744073709551615 bytes.";
  ASSERT_TRUE(message.starts_with(prefix)) << message;
  ASSERT_TRUE(message.ends_with(suffix)) << message;
  ASSERT_GT(message.size(), prefix.size() + suffix.size()) << message;
  const std::string available =
      message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
  EXPECT_TRUE(std::all_of(available.begin(), available.end(), [](char c) {
    return c >= '0' && c <= '9';
  })) << message;
}

}  // namespace
}  // namespace boardmill::run
