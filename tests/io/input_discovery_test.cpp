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

// A tree that tells bytewise order from the path type's element-wise order: "a-b/z" comes before
// "a/b" bytewise ('-' is 0x2d, '/' 0x2f), after it name by name.
void WriteTree(const TempDir& dir) {
  for (const char* name : {"top.fen.zst", "a/b.fen.zst", "a-b/z.fen.zst", "a/deep/er/c.fen.zst",
                           "a/d.epd.zst", "e.epd.zst", "a/skip.txt", "a/deep/no.fen"}) {
    WriteFile(dir / name, "x");
  }
}

std::vector<fs::path> Joined(const fs::path& directory, const std::vector<const char*>& names) {
  std::vector<fs::path> paths;
  for (const char* name : names) paths.push_back(directory / name);
  return paths;
}

TEST(ListFenFilesTest, ListsTheTopDirectoryUnlessAskedForMore) {
  TempDir dir;
  WriteTree(dir);
  const util::Result<std::vector<fs::path>> files = io::ListFenFiles(dir.path(), 0);
  ASSERT_TRUE(files.ok()) << files.error();
  EXPECT_EQ(*files, Joined(dir.path(), {"top.fen.zst"}));

  const util::Result<std::vector<fs::path>> with_epd =
      io::ListFenFiles(dir.path(), 0, {.recursive = false, .include_epd = true});
  ASSERT_TRUE(with_epd.ok()) << with_epd.error();
  EXPECT_EQ(*with_epd, Joined(dir.path(), {"e.epd.zst", "top.fen.zst"}));
}

TEST(ListFenFilesTest, RecursiveListingSortsBytewiseByRelativePath) {
  TempDir dir;
  WriteTree(dir);
  const util::Result<std::vector<fs::path>> fen_only =
      io::ListFenFiles(dir.path(), 0, {.recursive = true, .include_epd = false});
  ASSERT_TRUE(fen_only.ok()) << fen_only.error();
  EXPECT_EQ(*fen_only, Joined(dir.path(), {"a-b/z.fen.zst", "a/b.fen.zst", "a/deep/er/c.fen.zst",
                                           "top.fen.zst"}));

  const util::Result<std::vector<fs::path>> with_epd =
      io::ListFenFiles(dir.path(), 3, {.recursive = true, .include_epd = true});
  ASSERT_TRUE(with_epd.ok()) << with_epd.error();
  EXPECT_EQ(*with_epd, Joined(dir.path(), {"a-b/z.fen.zst", "a/b.fen.zst", "a/d.epd.zst"}));

  // The directory as the caller wrote it, trailing separator included, heads every path.
  const fs::path with_separator = dir.path() / "a" / "";
  const util::Result<std::vector<fs::path>> below_a =
      io::ListFenFiles(with_separator, 0, {.recursive = true, .include_epd = false});
  ASSERT_TRUE(below_a.ok()) << below_a.error();
  EXPECT_EQ(*below_a, Joined(with_separator, {"b.fen.zst", "deep/er/c.fen.zst"}));
}

TEST(ListFenFilesTest, RecursiveListingEntersNoLinkedDirectory) {
  TempDir dir;
  WriteFile(dir / "data/a.fen.zst", "x");
  WriteFile(dir / "elsewhere/b.fen.zst", "x");
  fs::create_directory_symlink(dir / "data", dir / "data/loop");
  fs::create_directory_symlink(dir / "elsewhere", dir / "data/other");
  fs::create_symlink(dir / "elsewhere/b.fen.zst", dir / "data/linked.fen.zst");

  const util::Result<std::vector<fs::path>> files =
      io::ListFenFiles(dir / "data", 0, {.recursive = true, .include_epd = false});
  ASSERT_TRUE(files.ok()) << files.error();
  EXPECT_EQ(*files, Joined(dir / "data", {"a.fen.zst", "linked.fen.zst"}));
}

TEST(ListFenFilesTest, RecursiveListingReportsABadDirectoryAsTheFlatOneDoes) {
  TempDir dir;
  WriteFile(dir / "file.fen.zst", "x");
  for (const bool recursive : {false, true}) {
    const io::InputDiscovery discovery{.recursive = recursive, .include_epd = true};
    const util::Result<std::vector<fs::path>> missing =
        io::ListFenFiles(dir / "missing", 0, discovery);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "Input directory does not exist: " + (dir / "missing").string());
    const util::Result<std::vector<fs::path>> file =
        io::ListFenFiles(dir / "file.fen.zst", 0, discovery);
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error(), "Input path is not a directory: " + (dir / "file.fen.zst").string());
  }
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
