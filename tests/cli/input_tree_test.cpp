// --recursive through the binary: the files of a whole tree in the order of their relative
// paths, those paths in the reject log and the manifest, a resume after a kill, and a link that
// would make the tree a loop.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

// Bytewise, "a.fen.zst" comes before "a/..." ('.' < '/'), and "B" before "a".
const std::vector<std::string> kTreeOrder = {"B/x.fen.zst", "a.fen.zst", "a/b/c.fen.zst",
                                             "a/z.fen.zst"};

class InputTreeTest : public ::testing::Test {
 protected:
  InputTreeTest() {
    for (auto name = kTreeOrder.rbegin(); name != kTreeOrder.rend(); ++name) {
      WriteZstdFile(input() / *name, "not a position\n");
    }
    fs::create_directory_symlink("..", input() / "a" / "loop");
  }

  fs::path input() const { return temp_ / "in"; }

  TempDir temp_;
};

TEST_F(InputTreeTest, ScanListsTheTreeByRelativePathWithoutFollowingDirectoryLinks) {
  std::string expected = "Found 4 .fen.zst files\n";
  for (const std::string& name : kTreeOrder) expected += (input() / name).string() + "\n";
  ExpectRun(RunBoardmill({"scan", input().string(), "--recursive"}), 0, expected, "");
  ExpectRun(RunBoardmill({"scan", input().string()}), 0,
            "Found 1 .fen.zst files\n" + (input() / "a.fen.zst").string() + "\n", "");
}

TEST_F(InputTreeTest, RejectLogAndManifestNameFilesByTheirPathInTheTree) {
  const ProgramRun run =
      Convert(input(), temp_ / "out", {"--parallel", "--shards", "2", "--recursive"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> rejects = ReadLines(temp_ / "out" / "rejects.tsv");
  ASSERT_EQ(rejects.size(), kTreeOrder.size() + 1);
  const ManifestRecords manifest = ReadManifest(temp_ / "out" / "run-manifest.tsv");
  ASSERT_EQ(manifest.last_run_files.size(), kTreeOrder.size());
  for (std::size_t index = 0; index < kTreeOrder.size(); ++index) {
    const std::string path = (input() / kTreeOrder[index]).string();
    EXPECT_EQ(rejects[index + 1],
              path + "\t1\tBoard field contains an invalid piece character.\tnot a position");
    EXPECT_EQ(manifest.last_run_files[index].at(3), std::to_string(index));
    EXPECT_EQ(manifest.last_run_files[index].at(4), path);
  }
}

TEST(InputTreeResumeTest, ResumingAKilledRunOverATreeGivesTheUninterruptedResult) {
  const TempDir temp;
  constexpr int kFiles = 12;
  MakeInputs(temp / "flat", kFiles, 1000);
  for (int file = 0; file < kFiles; ++file) {
    const std::string name = NumberedName("input-", 100 + file, ".fen.zst");
    const fs::path moved = temp / "in" / NumberedName("d", file % 3, "") / name;
    fs::create_directories(moved.parent_path());
    fs::rename(temp / "flat" / name, moved);
  }
  const std::vector<std::string> options = {
      "--parallel",  "--max-threads",       "2", "--shards", "8",
      "--recursive", "--records-per-flush", "64"};
  ASSERT_EQ(Convert(temp / "in", temp / "whole", options).exit_code, 0);

  {
    Child child(temp / "in", temp / "out", options);
    ASSERT_TRUE(child.started());
    child.WaitWhileRunning(
        [&] { return CompletedFileCount(temp / "out" / "run-manifest.tsv") >= 2; });
    child.SignalAndWait(SIGKILL);
    ASSERT_TRUE(child.KilledBy(SIGKILL)) << "the run ended before the kill";
  }
  std::vector<std::string> resumed = options;
  resumed.push_back("--resume");
  const ProgramRun run = Convert(temp / "in", temp / "out", resumed);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ShardContents(temp / "out"), ShardContents(temp / "whole"));
  EXPECT_NE(SummaryValues(temp / "out" / "run-summary.txt").at("skipped_input_files"), "0");
}

}  // namespace
}  // namespace boardmill::testing
