#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

TEST(ScanTest, EmptyDirectoryListsNothing) {
  TempDir dir;
  ExpectRun(RunBoardmill({"scan", dir.path().string()}), 0, "Found 0 .fen.zst files\n", "");
}

TEST(ScanTest, CountsOnlyRegularFilesEndingInTheExactSuffix) {
  TempDir dir;
  const std::string root = dir.path().string();
  for (const char* name : {"a.fen.zst", ".fen.zst", "a.FEN.ZST", "a.fen.zst.tmp", "a.fen",
                           "afen.zst", "a.fen.zs", "sub/x.fen.zst"}) {
    WriteFile(dir / name, "x");
  }
  // A link to a regular file counts. Entries with the suffix that are not regular files are
  // refused: see hostile_paths_test.cpp.
  fs::create_symlink(dir / "a.fen", dir / "link.fen.zst");

  ExpectRun(RunBoardmill({"scan", root}), 0,
            "Found 3 .fen.zst files\n" + root + "/.fen.zst\n" + root + "/a.fen.zst\n" + root +
                "/link.fen.zst\n",
            "");
}

TEST(ScanTest, SortsByNameBytes) {
  TempDir dir;
  const std::string root = dir.path().string();
  for (const char* name : {"b.fen.zst", "a.fen.zst", "10.fen.zst", "9.fen.zst", "B.fen.zst"}) {
    WriteFile(dir / name, std::string(name[0] == 'b' ? 1000 : 10, 'x'));
  }
  ExpectRun(RunBoardmill({"scan", root}), 0,
            "Found 5 .fen.zst files\n" + root + "/10.fen.zst\n" + root + "/9.fen.zst\n" + root +
                "/B.fen.zst\n" + root + "/a.fen.zst\n" + root + "/b.fen.zst\n",
            "");
}

TEST(ScanTest, JoinsNamesToTheDirectoryAsGiven) {
  TempDir dir;
  WriteFile(dir / "in" / "a.fen.zst", "x");
  const ProgramRun run =
      RunShell("cd '" + dir.path().string() +
               "' && '" BOARDMILL_BINARY "' scan in/ && '" BOARDMILL_BINARY "' scan ./in");
  ExpectRun(run, 0,
            "Found 1 .fen.zst files\nin/a.fen.zst\nFound 1 .fen.zst files\n./in/a.fen.zst\n", "");
}

TEST(ScanTest, RefusesARegularFile) {
  TempDir dir;
  const fs::path file = dir / "a.fen.zst";
  WriteFile(file, "x");
  ExpectRun(RunBoardmill({"scan", file.string()}), 1, "",
            "Input path is not a directory: " + file.string() + "\n");
}

TEST(ScanTest, RefusesAMissingDirectory) {
  TempDir dir;
  const fs::path missing = dir / "nothing-here";
  ExpectRun(RunBoardmill({"scan", missing.string()}), 1, "",
            "Input directory does not exist: " + missing.string() + "\n");
  ExpectRun(RunBoardmill({"scan", ""}), 1, "", "Input directory does not exist: \n");
}

TEST(ScanTest, IgnoresArgumentsAfterTheDirectory) {
  TempDir dir;
  ExpectRun(RunBoardmill({"scan", dir.path().string(), "--max-files", "1"}), 0,
            "Found 0 .fen.zst files\n", "");
}

}  // namespace
}  // namespace boardmill
