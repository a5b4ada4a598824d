#pragma once

// A small tmpfs for the tests of runs that fill their disk: mounted by the test (so only as
// root), nearly filled by a filler file, unmounted when the object goes away.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "test_support.h"

namespace boardmill::testing {

class SmallDisk {
 public:
  explicit SmallDisk(std::filesystem::path path) : path_(std::move(path)) {}
  ~SmallDisk() {
    if (mounted_) {
      EXPECT_EQ(umount2(path_.c_str(), MNT_DETACH), 0) << std::strerror(errno);
    }
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // Mounts a 2 MiB tmpfs; why it could not, or empty.
  std::string Mount() {
    if (geteuid() != 0) return "full-disk tests need root to mount a small tmpfs";
    std::filesystem::create_directories(path_);
    if (mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=2m") != 0) {
      return std::string("full-disk tests skipped: cannot mount a tmpfs: ") + std::strerror(errno);
    }
    mounted_ = true;
    return "";
  }

  void LeaveFree(std::uint64_t bytes) {
    struct statvfs space {};
    ASSERT_EQ(statvfs(path_.c_str(), &space), 0);
    const std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    ASSERT_GT(available, bytes);
    WriteFile(path_ / "filler", std::string(available - bytes, 'x'));
  }

  // Makes room the way an operator would: a bigger file system under the same path.
  void Grow() {
    ASSERT_EQ(mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, "size=64m"), 0)
        << std::strerror(errno);
  }

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
};

}  // namespace boardmill::testing
