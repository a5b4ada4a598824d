#include "util/background_syncs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "util/output_file.h"

namespace boardmill::util {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const fs::directory_entry& entry :
       fs::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// A writer ends files far faster than a disk syncs them. The files that wait must not pile up:
// with a low open-file limit the writer's next file would fail to open.
TEST(BackgroundSyncsTest, HoldsNoMoreOpenFilesThanItHasThreadsAndWritesThemAll) {
  const TempDir temp;
  const std::vector<char> bytes(std::size_t{256} << 10, 'x');
  constexpr int kFiles = 64;
  const std::size_t before = OpenDescriptors();
  BackgroundSyncs syncs("Failed while writing: ");
  for (int index = 0; index < kFiles; ++index) {
    const fs::path path = temp / ("file-" + std::to_string(index));
    UniqueFile file = CreateOutputFile(path);
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
    syncs.Add(std::move(file), path);
    EXPECT_LE(OpenDescriptors(), before + BackgroundSyncs::kThreads) << "after file " << index;
  }
  ASSERT_TRUE(syncs.Finish().ok());
  EXPECT_EQ(OpenDescriptors(), before);
  for (int index = 0; index < kFiles; ++index) {
    EXPECT_EQ(fs::file_size(temp / ("file-" + std::to_string(index))), bytes.size());
  }
}

}  // namespace
}  // namespace boardmill::util
