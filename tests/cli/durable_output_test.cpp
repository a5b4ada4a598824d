// What a finished run promises after a power cut: every file run-summary.txt vouches for reached
// the disk before the summary did. The order of the sync and rename calls is read from a system
// call trace of the real binary (skipped where strace is missing or may not trace); a sync that
// fails is injected through BOARDMILL_TEST_FAIL_SYNC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<ModeCase> kModes = EveryModeWithShards("16");

// One completed system call of the trace: its thread, its name and the paths it names (the
// descriptor's path for a sync or write; source and target for a rename).
struct TracedCall {
  std::string thread;
  std::string name;
  std::vector<std::string> paths;
  std::string text;
};

// The leading run of `line` whose characters satisfy `accept`, cut from it.
template <typename Accept>
std::string TakeWhile(std::string_view& line, Accept accept) {
  std::size_t length = 0;
  while (length < line.size() && accept(line[length])) ++length;
  std::string taken(line.substr(0, length));
  line.remove_prefix(length);
  return taken;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordCharacter(char c) { return IsDigit(c) || c == '_' || std::isalpha(c) != 0; }

// The strings in double quotes of a call's arguments (strace escapes quotes inside them).
std::vector<std::string> QuotedStrings(std::string_view text) {
  std::vector<std::string> quoted;
  for (std::size_t open = text.find('"'); open != std::string_view::npos;) {
    const std::size_t close = text.find('"', open + 1);
    if (close == std::string_view::npos) break;
    quoted.emplace_back(text.substr(open + 1, close - open - 1));
    open = text.find('"', close + 1);
  }
  return quoted;
}

// The path strace -y shows for a descriptor argument that opens the text: "3</a/b>".
std::optional<std::string> DescriptorPath(std::string_view text) {
  if (TakeWhile(text, IsDigit).empty() || !text.starts_with('<')) return std::nullopt;
  const std::size_t close = text.find('>');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(text.substr(1, close - 1));
}

// The calls of an `strace -f -y` log that succeeded, in the order they completed. A call that
// another thread interrupted is joined with its "resumed" half and placed where it ended.
std::vector<TracedCall> ReadTrace(const fs::path& log) {
  constexpr std::string_view kUnfinished = "<unfinished ...>";
  constexpr std::string_view kResumedStart = "<... ";
  constexpr std::string_view kResumedEnd = " resumed>";
  std::map<std::string, std::string> unfinished;
  std::vector<TracedCall> calls;
  for (const std::string& whole : ReadLines(log)) {
    std::string_view line = whole;
    const std::string thread = TakeWhile(line, IsDigit);
    if (thread.empty() || TakeWhile(line, [](char c) { return c == ' '; }).empty()) continue;
    std::string name;
    std::string text;
    if (line.starts_with(kResumedStart)) {
      line.remove_prefix(kResumedStart.size());
      name = TakeWhile(line, IsWordCharacter);
      if (!line.starts_with(kResumedEnd)) continue;
      text = unfinished[thread] + std::string(line.substr(kResumedEnd.size()));
    } else {
      name = TakeWhile(line, IsWordCharacter);
      if (name.empty() || !line.starts_with('(')) continue;
      text = line.substr(1);
      if (text.ends_with(kUnfinished)) {
        unfinished[thread] = text.substr(0, text.size() - kUnfinished.size());
        continue;
      }
    }
    const std::size_t result = text.rfind(" = ");
    if (result == std::string::npos || text.compare(result, 4, " = -") == 0) continue;
    TracedCall call{thread, name, {}, text};
    if (name.starts_with("rename")) {
      call.paths = QuotedStrings(text);
    } else if (std::optional<std::string> path = DescriptorPath(text)) {
      call.paths.push_back(*path);
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

bool IsSync(const TracedCall& call) { return call.name == "fsync" || call.name == "fdatasync"; }

// The position of the first call after `from` that matches, or nullopt.
template <typename Matches>
std::optional<std::size_t> Find(const std::vector<TracedCall>& calls, std::size_t from,
                                Matches matches) {
  for (std::size_t index = from; index < calls.size(); ++index) {
    if (matches(calls[index])) return index;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindSync(const std::vector<TracedCall>& calls, const fs::path& path,
                                    std::size_t from = 0) {
  return Find(calls, from, [&](const TracedCall& call) {
    return IsSync(call) && call.paths == std::vector<std::string>{path.string()};
  });
}

std::optional<std::size_t> FindRename(const std::vector<TracedCall>& calls, const fs::path& from,
                                      const fs::path& to) {
  return Find(calls, 0, [&](const TracedCall& call) {
    return call.name.starts_with("rename") && call.paths.size() == 2 &&
           fs::path(call.paths[0]) == from && fs::path(call.paths[1]) == to;
  });
}

class DurableOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ProgramRun probe = RunShell("strace -f -o /dev/null true");
    if (probe.exit_code != 0) {
      GTEST_SKIP() << "strace is missing or may not trace here: " << probe.err;
    }
    root_ = fs::canonical(temp_.path());
    MakeInputs(root_ / "in", 6, 200);
  }

  // Converts under strace and returns the trace of the sync, rename and write calls.
  std::vector<TracedCall> TracedConvert(const fs::path& output,
                                        const std::vector<std::string>& options) {
    const fs::path log = root_ / (output.filename().string() + ".trace");
    // LeakSanitizer cannot run under ptrace; an AddressSanitizer build's leak check would fail
    // the traced run at its exit.
    std::string command = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" ";
    command.append("strace -f -y -s 256 -o ")
        .append(QuoteForShell(log.string()))
        .append(" -e trace=fsync,fdatasync,rename,renameat,renameat2,write ")
        .append(QuoteForShell(BOARDMILL_BINARY));
    for (const std::string& argument : ConvertArguments(root_ / "in", output, options)) {
      command += ' ' + QuoteForShell(argument);
    }
    const ProgramRun run = RunShell(command);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return ReadTrace(log);
  }

  TempDir temp_;
  fs::path root_;
};

TEST_F(DurableOutputTest, RunSummaryAppearsOnlyAfterEveryOutputIsOnDiskInEveryMode) {
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const fs::path output = root_ / mode.name;
    const std::vector<TracedCall> calls = TracedConvert(output, mode.options);
    const fs::path summary = output / "run-summary.txt";
    const fs::path summary_side = output / "run-summary.txt.partial";
    const std::optional<std::size_t> summary_renamed = FindRename(calls, summary_side, summary);
    ASSERT_TRUE(summary_renamed.has_value()) << "no rename of " << summary_side;

    std::vector<fs::path> vouched_for = {summary_side, output / "shard-index.json.partial"};
    // The sequential mode only counts the lines it rejects.
    if (mode.name != "sequential") vouched_for.push_back(output / "rejects.tsv");
    for (const auto& [name, content] : ShardContents(output)) vouched_for.push_back(output / name);
    ASSERT_GT(vouched_for.size(), 8u);
    if (mode.name == "staged") {
      for (const char* name :
           {"stage-stats.tsv", "worker-stats.tsv", "queue-stats.tsv", "controller-stats.tsv"}) {
        vouched_for.push_back(output / name);
      }
    }
    for (const fs::path& file : vouched_for) {
      const std::optional<std::size_t> synced = FindSync(calls, file);
      EXPECT_TRUE(synced.has_value() && *synced < *summary_renamed)
          << file << " is not synced before the summary appears";
    }
    EXPECT_TRUE(FindRename(calls, output / "shard-index.json.partial", output / "shard-index.json")
                    .value_or(calls.size()) < *summary_renamed);
    EXPECT_TRUE(FindSync(calls, output, *summary_renamed + 1).has_value())
        << "the output directory is not synced after the summary's rename";
  }
}

// A fragment is what lets a resumed run skip a group's files, so it, its reject part and their
// names are on disk before the manifest records those files, and the records follow them.
TEST_F(DurableOutputTest, FragmentIsOnDiskBeforeTheManifestCountsItsFiles) {
  const fs::path output = root_ / "parallel";
  const std::vector<TracedCall> calls =
      TracedConvert(output, {"--parallel", "--max-threads", "2", "--shards", "16"});
  const fs::path fragments = output / "_scratch" / "fragments";
  const fs::path manifest = output / "run-manifest.tsv";
  int fragments_seen = 0;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const TracedCall& rename = calls[index];
    if (!rename.name.starts_with("rename") || rename.paths.size() != 2 ||
        !rename.paths[1].ends_with(".fragment")) {
      continue;
    }
    ++fragments_seen;
    SCOPED_TRACE(rename.paths[1]);
    const fs::path fragment = rename.paths[1];
    ASSERT_EQ(fragment.parent_path(), fragments);
    const std::optional<std::size_t> fragment_synced = FindSync(calls, rename.paths[0]);
    EXPECT_TRUE(fragment_synced.value_or(calls.size()) < index);
    const fs::path reject_part = fs::path(fragment).replace_extension(".rejects");
    const std::optional<std::size_t> part_renamed =
        FindRename(calls, reject_part.string() + ".partial", reject_part);
    ASSERT_TRUE(part_renamed.has_value());
    EXPECT_LT(FindSync(calls, reject_part.string() + ".partial").value_or(calls.size()),
              *part_renamed);
    // The directory sync, the record and its sync follow on the worker's thread, in that order.
    const auto on_thread = [&](auto matches) {
      return [&, matches](const TracedCall& call) {
        return call.thread == rename.thread && matches(call);
      };
    };
    const std::optional<std::size_t> directory_synced =
        Find(calls, index + 1, on_thread([&](const TracedCall& call) {
               return IsSync(call) && call.paths == std::vector<std::string>{fragments.string()};
             }));
    ASSERT_TRUE(directory_synced.has_value());
    const auto writes_manifest = [&](const TracedCall& call) {
      return call.name == "write" && call.paths == std::vector<std::string>{manifest.string()};
    };
    EXPECT_FALSE(Find(calls, index + 1, on_thread(writes_manifest)).value_or(calls.size()) <
                 *directory_synced);
    const std::optional<std::size_t> recorded =
        Find(calls, *directory_synced, on_thread(writes_manifest));
    ASSERT_TRUE(recorded.has_value());
    EXPECT_NE(calls[*recorded].text.find("input-1"), std::string::npos) << calls[*recorded].text;
    EXPECT_TRUE(Find(calls, *recorded, on_thread([&](const TracedCall& call) {
                       return call.name == "fdatasync" &&
                              call.paths == std::vector<std::string>{manifest.string()};
                     }))
                    .has_value());
  }
  EXPECT_GE(fragments_seen, 1);
}

// A sync that fails ends the run with one line naming the file and no summary, and what it left
// is completed by a fresh run, or for the parallel mode by a resumed one.
class FailedSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeInputs(temp_ / "in", 6, 200);
    const ProgramRun whole = Convert(temp_ / "in", temp_ / "whole", kModes[0].options);
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    expected_ = ShardContents(temp_ / "whole");
  }

  ProgramRun ConvertFailingSync(const fs::path& output, const std::vector<std::string>& options,
                                const std::string& failing) {
    std::string command = "BOARDMILL_TEST_FAIL_SYNC=" + QuoteForShell(failing) + " " +
                          QuoteForShell(BOARDMILL_BINARY);
    for (const std::string& argument : ConvertArguments(temp_ / "in", output, options)) {
      command += ' ' + QuoteForShell(argument);
    }
    return RunShell(command);
  }

  void ExpectOneLineAndNoSummary(const ProgramRun& run, const fs::path& output,
                                 const std::string& err_start) {
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with(err_start)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(output / "run-summary.txt"));
  }

  void ExpectCompletedBy(const fs::path& output, const std::vector<std::string>& options) {
    const ProgramRun rerun = Convert(temp_ / "in", output, options);
    ASSERT_EQ(rerun.exit_code, 0) << rerun.err;
    EXPECT_TRUE(fs::exists(output / "run-summary.txt"));
    EXPECT_EQ(ShardContents(output), expected_);
  }

  TempDir temp_;
  std::map<std::string, std::string> expected_;
};

TEST_F(FailedSyncTest, AShardThatCannotReachTheDiskFailsEveryModeAndARerunCompletes) {
  const std::string shard = "shard-007.psfen.zst";
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const fs::path output = temp_ / mode.name;
    const ProgramRun run = ConvertFailingSync(output, mode.options, shard);
    ExpectOneLineAndNoSummary(
        run, output,
        "Failed to sync " + (output / shard).string() + " to disk: Input/output error");
    std::vector<std::string> rerun = mode.options;
    if (mode.name == "parallel") rerun.push_back("--resume");
    ExpectCompletedBy(output, rerun);
  }
}

TEST_F(FailedSyncTest, EveryFileOfAParallelRunIsSyncedAndAFailureResumes) {
  const ModeCase& parallel = kModes[1];
  // The last case fails the sync of the output directory of that case, the eighth.
  int index = 0;
  for (const std::string failing :
       {".fragment.partial", ".rejects.partial", "/fragments", "run-manifest.tsv", "rejects.tsv",
        "shard-index.json.partial", "run-summary.txt.partial", "/parallel-7"}) {
    SCOPED_TRACE(failing);
    const fs::path output = temp_ / ("parallel-" + std::to_string(index++));
    const ProgramRun run = ConvertFailingSync(output, parallel.options, failing);
    ExpectOneLineAndNoSummary(run, output, "Failed ");
    std::vector<std::string> resumed = parallel.options;
    resumed.push_back("--resume");
    ExpectCompletedBy(output, resumed);
  }
}

TEST_F(FailedSyncTest, AStatisticsFileOfAStagedRunThatCannotReachTheDiskFailsTheRun) {
  const fs::path output = temp_ / "staged";
  const ProgramRun run = ConvertFailingSync(output, kModes[2].options, "queue-stats.tsv");
  ExpectOneLineAndNoSummary(run, output, "Failed to sync " + (output / "queue-stats.tsv").string());
}

TEST_F(FailedSyncTest, ASampleThatCannotReachTheDiskFailsSampleFens) {
  for (const std::string failing : {"input-103.fen.zst", "sample-manifest.tsv"}) {
    SCOPED_TRACE(failing);
    const fs::path output = temp_ / "sample";
    const ProgramRun run = RunShell("BOARDMILL_TEST_FAIL_SYNC=" + QuoteForShell(failing) + " " +
                                    QuoteForShell(BOARDMILL_BINARY) + " sample-fens " +
                                    QuoteForShell((temp_ / "in").string()) + " " +
                                    QuoteForShell(output.string()) + " --max-lines-per-file 50");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err,
              "Failed to sync " + (output / failing).string() + " to disk: Input/output error\n");
  }
}

}  // namespace
}  // namespace boardmill::testing
