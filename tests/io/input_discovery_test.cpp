#include "io/input_discovery.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

TEST(ListInputFilesTest, TakesTheSuffixAsAParameter) {
  TempDir dir;
  WriteFile(dir / "a.txt", "x");
  WriteFile(dir / "b.fen.zst", "x");
  const util::Result<std::vector<fs::path>> files = io::ListInputFiles(dir.path(), ".txt");
  ASSERT_TRUE(files.ok()) << files.error();
  EXPECT_EQ(*files, std::vector<fs::path>{dir / "a.txt"});
}

TEST(KeepFirstFilesTest, KeepsTheFirstEntriesAndZeroMeansAll) {
  const std::vector<fs::path> all = {"a", "b", "c"};
  for (const auto& [limit, kept] :
       std::vector<std::pair<std::uint64_t, std::size_t>>{{0, 3}, {1, 1}, {2, 2}, {3, 3}, {4, 3}}) {
    std::vector<fs::path> files = all;
    io::KeepFirstFiles(files, limit);
    EXPECT_EQ(files, std::vector<fs::path>(all.begin(), all.begin() + kept)) << limit;
  }
}

}  // namespace
}  // namespace boardmill
