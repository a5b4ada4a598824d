// `boardmill shuffle` through the built programs: what the output holds under each --dedup,
// checked against the input records read back here; how evenly it fills the shards and how little
// of the input order survives, on positions of real games; the same output however the run is
// divided (threads, memory ceiling, MPI ranks, a kill and --resume) and another order for another
// seed; one line and exit 1 for every bad input.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chess/fen_format.h"
#include "chess/packed_sfen.h"
#include "chess/packed_sfen_codec.h"
#include "child_process.h"
#include "conversion_run_support.h"
#include "mpi_launch.h"
#include "small_disk.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

// Records as their 32 bytes each.
using Records = std::vector<std::string>;
using Shards = std::map<std::string, std::string>;

std::vector<std::string> ShuffleArguments(const std::vector<fs::path>& inputs,
                                          const fs::path& output,
                                          const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {"shuffle"};
  for (const fs::path& input : inputs) arguments.push_back(input.string());
  arguments.insert(arguments.end(), {output.string(), "--min-free-space-gib", "0"});
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

ProgramRun Shuffle(const std::vector<fs::path>& inputs, const fs::path& output,
                   const std::vector<std::string>& extra) {
  return RunBoardmill(ShuffleArguments(inputs, output, extra));
}

// Shard after shard in id order, each in stored order.
Records StoredRecords(const Shards& shards) {
  Records records;
  for (const auto& [name, content] : shards) {
    for (std::size_t at = 0; at < content.size(); at += chess::kPackedSfenSize) {
      records.push_back(content.substr(at, chess::kPackedSfenSize));
    }
  }
  return records;
}

// The order a shuffle reads its inputs in: directory after directory.
Records InputOrder(const std::vector<fs::path>& directories) {
  Records records;
  for (const fs::path& directory : directories) {
    const Records more = StoredRecords(ShardContents(directory));
    records.insert(records.end(), more.begin(), more.end());
  }
  return records;
}

// The shards whose decompressed bytes differ between the two outputs, by name; empty when the
// outputs are the same. (Printing shards of binary records would flood the log.)
std::string DifferingShards(const Shards& a, const Shards& b) {
  std::string names;
  for (const auto& [name, content] : a) {
    const auto match = b.find(name);
    if (match == b.end() || match->second != content) names += name + ' ';
  }
  for (const auto& [name, content] : b) {
    if (!a.contains(name)) names += name + ' ';
  }
  return names;
}

void ExpectSameMultiset(Records actual, Records expected) {
  std::sort(actual.begin(), actual.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(actual == expected) << actual.size() << " records where " << expected.size()
                                  << " were expected, or other records";
}

std::string WholeRecord(const std::string& record) { return record; }

// Board, side to move, castling and en passant: the record's FEN without its two clocks.
std::string PositionOf(const std::string& record) {
  chess::PackedSfen packed;
  std::memcpy(packed.bytes.data(), record.data(), chess::kPackedSfenSize);
  const util::Result<chess::Position> position = chess::DecodePackedSfen(packed);
  if (!position.ok()) {
    ADD_FAILURE() << position.error();
    return "";
  }
  const std::string fen = chess::FormatFen(*position);
  return fen.substr(0, fen.rfind(' ', fen.rfind(' ') - 1));
}

// The first record of each key, in input order.
Records FirstOfEach(const Records& input, std::string (*key)(const std::string&)) {
  std::set<std::string> seen;
  Records kept;
  for (const std::string& record : input) {
    if (seen.insert(key(record)).second) kept.push_back(record);
  }
  return kept;
}

// With at least 1,000 records a shard, none holds more than 1.05 x the mean + 64.
void ExpectBalanced(const Shards& shards) {
  std::uint64_t records = 0;
  for (const auto& [name, content] : shards) records += content.size() / chess::kPackedSfenSize;
  const double mean = static_cast<double>(records) / static_cast<double>(shards.size());
  ASSERT_GE(mean, 1000.0) << "too few records to judge the balance";
  for (const auto& [name, content] : shards) {
    const std::uint64_t held = content.size() / chess::kPackedSfenSize;
    EXPECT_LE(static_cast<double>(held), 1.05 * mean + 64)
        << name << " of " << shards.size() << " shards, mean " << mean;
  }
}

// Exit 1, one line on standard error, no summary, and the output's index as it was before.
void ExpectRefused(const ProgramRun& run, const fs::path& output, const std::string& index_before) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_TRUE(run.err.ends_with("\n")) << run.err;
  EXPECT_FALSE(fs::exists(output / "run-summary.txt"));
  EXPECT_EQ(ReadFile(output / "shard-index.json"), index_before);
  std::cout << "[ REFUSED  ] " << run.err;
}

// `fen` with other clocks: the same position.
std::string WithClocks(const std::string& fen, const std::string& clocks) {
  const std::vector<std::string> fields = Split(fen, ' ');
  return fields.at(0) + ' ' + fields.at(1) + ' ' + fields.at(2) + ' ' + fields.at(3) + ' ' + clocks;
}

// The first `count` distinct lines of positions from real games, in the order they were played.
std::vector<std::string> GameFens(std::size_t count) {
  const std::string text = ReadZstdFile(BOARDMILL_GAMES_FILE);
  std::unordered_set<std::string> seen;
  std::vector<std::string> fens;
  for (std::size_t start = 0; start < text.size() && fens.size() < count;) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    if (seen.insert(line).second) fens.push_back(line);
    start = end == std::string::npos ? text.size() : end + 1;
  }
  EXPECT_EQ(fens.size(), count) << "not that many positions in " << BOARDMILL_GAMES_FILE;
  return fens;
}

// `fens` converted into `directory` with `shards` shards.
void ConvertFens(const fs::path& directory, const std::vector<std::string>& fens, int shards) {
  std::string text;
  for (const std::string& fen : fens) text += fen + '\n';
  const fs::path source = directory.string() + "-fens";
  WriteZstdFile(source / "positions.fen.zst", text);
  const ProgramRun run = Convert(source, directory, {"--shards", std::to_string(shards)});
  ASSERT_EQ(run.exit_code, 0) << run.err;
}

// --- What the output holds ---------------------------------------------------------------------

// Two directories that repeat positions, exactly and with other clocks, within themselves and
// each other; the second without an index, to be read as its shard files.
class ShuffleContentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> games = GameFens(3000);
    std::vector<std::string> first(games.begin(), games.begin() + 2000);
    first.insert(first.end(), 3000, kFens[0]);
    for (std::size_t i = 0; i < 500; ++i) first.push_back(WithClocks(games[i], "1 90"));
    std::vector<std::string> second(games.begin() + 1000, games.end());
    for (std::size_t i = 0; i < 100; ++i) second.push_back(WithClocks(games[i], "3 9"));
    for (std::size_t i = 2500; i < 2600; ++i) second.push_back(WithClocks(games[i], "0 70"));
    ConvertFens(inputs_[0], first, 4);
    ConvertFens(inputs_[1], second, 4);
    fs::remove(inputs_[1] / "shard-index.json");
  }

  TempDir temp_;
  const std::vector<fs::path> inputs_ = {temp_ / "first", temp_ / "second"};
};

TEST_F(ShuffleContentTest, EachDedupKeepsWhatItShouldInShardsTheReadersAccept) {
  const Records input = InputOrder(inputs_);
  const std::map<std::string, Records> expected = {{"none", input},
                                                   {"exact", FirstOfEach(input, WholeRecord)},
                                                   {"board", FirstOfEach(input, PositionOf)}};
  // Each mode drops records the one before keeps, or the test could not tell them apart.
  ASSERT_GT(input.size(), expected.at("exact").size());
  ASSERT_GT(expected.at("exact").size(), expected.at("board").size());
  for (const auto& [dedup, kept] : expected) {
    SCOPED_TRACE(dedup);
    const fs::path output = temp_ / dedup;
    const ProgramRun run = Shuffle(inputs_, output, {"--shards", "4", "--dedup", dedup});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ExpectSameMultiset(StoredRecords(ShardContents(output)), kept);
    std::map<std::string, std::string> summary = SummaryValues(output / "run-summary.txt");
    EXPECT_EQ(summary["input_records"], std::to_string(input.size()));
    EXPECT_EQ(summary["output_records"], std::to_string(kept.size()));
    EXPECT_EQ(summary["duplicate_records"], std::to_string(input.size() - kept.size()));
    ExpectIndexDescribesShards(output, 4);
    const ProgramRun verify = RunBoardmill({"verify-shards", output.string()});
    EXPECT_EQ(verify.exit_code, 0) << verify.err;
    EXPECT_FALSE(fs::exists(output / "_scratch" / "shuffle"));
  }
  // One position 3,000 times among some 8,000 records spreads like the others.
  ExpectBalanced(ShardContents(temp_ / "none"));

  // A shuffled directory is an input like a converted one.
  const ProgramRun again =
      Shuffle({temp_ / "none"}, temp_ / "again", {"--shards", "4", "--dedup", "exact"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  ExpectSameMultiset(StoredRecords(ShardContents(temp_ / "again")), expected.at("exact"));
}

// --- Real games: balance, no runs of the input order, a shard done in pieces ---------------------

// Enough records that a shard that drew its records at random holds a pair of neighbours from
// the input (within 1,000 places) about once in 150 pairs.
constexpr std::size_t kGamePositions = 300'000;

class ShuffledGamesTest : public ::testing::Test {
 protected:
  void SetUp() override { ConvertFens(games(), GameFens(kGamePositions), 8); }

  fs::path games() const { return temp_ / "games"; }

  TempDir temp_;
};

TEST_F(ShuffledGamesTest, ShardsAreEvenAndKeepNoRunsOfTheInputOrder) {
  const Records input = InputOrder({games()});
  std::unordered_map<std::string, std::uint64_t> ordinal;
  for (std::uint64_t i = 0; i < input.size(); ++i) ordinal.emplace(input[i], i);
  ASSERT_EQ(ordinal.size(), input.size()) << "the records must be distinct to be told apart";

  for (const char* dedup : {"none", "exact", "board"}) {
    SCOPED_TRACE(dedup);
    const fs::path output = temp_ / dedup;
    const ProgramRun run = Shuffle({games()}, output, {"--shards", "16", "--dedup", dedup});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Shards shards = ShardContents(output);
    ExpectBalanced(shards);
    std::uint64_t pairs = 0;
    std::uint64_t neighbours = 0;
    for (const auto& [name, content] : shards) {
      const Records records = StoredRecords({{name, content}});
      for (std::size_t i = 1; i < records.size(); ++i) {
        const std::uint64_t a = ordinal.at(records[i - 1]);
        const std::uint64_t b = ordinal.at(records[i]);
        ++pairs;
        neighbours += (a > b ? a - b : b - a) <= 1000;
      }
    }
    EXPECT_LT(neighbours * 100, pairs) << neighbours << " of " << pairs << " adjacent pairs";
  }
}

// The MiB a refused run's one line says it needs ("... needs about N MiB."), or empty.
std::string NeededMib(const std::string& err) {
  const std::string marker = "needs about ";
  const std::size_t start = err.rfind(marker);
  if (start == std::string::npos) return "";
  const std::size_t digits = start + marker.size();
  return err.substr(digits, err.find(' ', digits) - digits);
}

// All records in one shard, under the least ceiling the run accepts (found from the refusals of
// smaller ones): the records with an order key each take more than the whole ceiling, so the
// shard is done in pieces, one pass over its blocks each.
TEST_F(ShuffledGamesTest, AShardDoneInPiecesAtTheLeastCeilingComesOutAsAWholeOne) {
  const std::vector<std::string> one_shard = {"--shards", "1", "--dedup", "board"};
  const ProgramRun roomy = Shuffle({games()}, temp_ / "roomy", one_shard);
  ASSERT_EQ(roomy.exit_code, 0) << roomy.err;
  const fs::path least = temp_ / "least";
  std::string ceiling = "1";
  for (int refusals = 0; refusals < 4; ++refusals) {
    std::vector<std::string> options = one_shard;
    options.insert(options.end(), {"--memory-ceiling-mib", ceiling});
    const ProgramRun squeezed = Shuffle({games()}, least, options);
    if (squeezed.exit_code == 0) break;
    ceiling = NeededMib(squeezed.err);
    ASSERT_FALSE(ceiling.empty()) << squeezed.err;
  }
  ASSERT_TRUE(fs::exists(least / "run-summary.txt")) << "refused at " << ceiling << " MiB";
  EXPECT_EQ(SummaryValues(temp_ / "roomy" / "run-summary.txt")["finish_passes"], "1");
  const std::string passes = SummaryValues(least / "run-summary.txt")["finish_passes"];
  ASSERT_GT(std::stoull("0" + passes), 1u) << "not done in pieces at " << ceiling << " MiB";
  EXPECT_EQ(DifferingShards(ShardContents(least), ShardContents(temp_ / "roomy")), "")
      << ceiling << " MiB";
}

// --- The same output however the run is divided --------------------------------------------------

constexpr std::size_t kSameOutputPositions = 40'000;

// A reference run with the default ceiling and 4 threads. Board deduplication, where the first
// record of a position must win wherever its duplicates were read, and the second input repeats
// positions of the first, half of them with other clocks.
class SameOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConvertFens(inputs_[0], GameFens(kSameOutputPositions), 4);
    std::vector<std::string> again = GameFens(kSameOutputPositions / 2);
    for (std::size_t i = 0; i < again.size(); i += 2) again[i] = WithClocks(again[i], "0 1");
    ConvertFens(inputs_[1], again, 2);
    const ProgramRun run = Shuffle(inputs_, reference(), Options({"--max-threads", "4"}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    expected_ = ShardContents(reference());
  }

  fs::path reference() const { return temp_ / "reference"; }

  static std::vector<std::string> Options(const std::vector<std::string>& extra) {
    std::vector<std::string> options = {"--shards", "8", "--dedup", "board"};
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
  }

  TempDir temp_;
  const std::vector<fs::path> inputs_ = {temp_ / "first", temp_ / "second"};
  Shards expected_;
};

TEST_F(SameOutputTest, OneThreadWritesWhatFourWrite) {
  const ProgramRun run = Shuffle(inputs_, temp_ / "one", Options({"--max-threads", "1"}));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(DifferingShards(ShardContents(temp_ / "one"), expected_), "");
}

TEST_F(SameOutputTest, OneTwoAndThreeMpiRanksWriteTheSameOutput) {
  if (const std::string reason = MpiSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
  for (const int ranks : {1, 2, 3}) {
    SCOPED_TRACE(std::to_string(ranks) + " ranks");
    const fs::path output = temp_ / NumberedName("ranks-", ranks, "");
    const ProgramRun run =
        RunShell(MpiRun(ranks) +
                 ShellCommand(BOARDMILL_MPI_BINARY,
                              ShuffleArguments(inputs_, output, Options({"--max-threads", "1"}))));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(DifferingShards(ShardContents(output), expected_), "");
    ExpectIndexDescribesShards(output, 8);
  }
}

// Files under `directory` whose names start with `prefix` and hold something.
std::size_t FilesUnder(const fs::path& directory, const std::string& prefix) {
  std::size_t count = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    count += it->path().filename().string().starts_with(prefix) && it->is_regular_file(error) &&
             it->file_size(error) > 0;
  }
  return count;
}

TEST_F(SameOutputTest, AKilledRunResumesToTheSameOutput) {
  const fs::path output = temp_ / "killed";
  // Killed once records reach scratch; resumed with one thread and killed again when a third
  // shard is begun, two being finished; then resumed to its end.
  const struct {
    fs::path directory;
    std::string prefix;
    std::size_t files;
    std::vector<std::string> extra;
  } kills[] = {{output / "_scratch", "", 1, {"--max-threads", "1"}},
               {output, "shard-", 3, {"--max-threads", "1", "--resume"}}};
  for (const auto& kill : kills) {
    SCOPED_TRACE(kill.directory.string() + " " + kill.prefix);
    Child child(ShuffleArguments(inputs_, output, Options(kill.extra)));
    ASSERT_TRUE(child.started());
    child.WaitWhileRunning([&] { return FilesUnder(kill.directory, kill.prefix) >= kill.files; });
    child.SignalAndWait(SIGKILL);
    ASSERT_TRUE(child.KilledBy(SIGKILL)) << "the run ended before the kill";
  }
  const ProgramRun resumed = Shuffle(inputs_, output, Options({"--resume"}));
  ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
  EXPECT_EQ(DifferingShards(ShardContents(output), expected_), "");
  // What the killed runs did is not done again.
  std::map<std::string, std::string> summary = SummaryValues(output / "run-summary.txt");
  EXPECT_EQ(summary["resumed_input_shards"], "6");
  EXPECT_GE(std::stoull("0" + summary["resumed_output_shards"]), 2u);
}

TEST_F(SameOutputTest, ANewSeedChangesTheOrderButNotTheRecords) {
  // 2^32 + 1: a seed cut to 32 bits would give seed 1's order.
  std::map<std::string, Shards> outputs;
  for (const char* seed : {"1", "4294967297"}) {
    SCOPED_TRACE(seed);
    const fs::path output = temp_ / seed;
    const ProgramRun run = Shuffle(inputs_, output, Options({"--seed", seed}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    outputs[seed] = ShardContents(output);
    EXPECT_NE(DifferingShards(outputs[seed], expected_), "");
    ExpectSameMultiset(StoredRecords(outputs[seed]), StoredRecords(expected_));
  }
  EXPECT_NE(DifferingShards(outputs["1"], outputs["4294967297"]), "");
}

// --- Bad input -----------------------------------------------------------------------------------

class ShuffleRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConvertFens(good(), GameFens(2000), 4);
    // Bare shards and their index, so that a refused run's output directory, a copy of them,
    // cannot show a summary of its own; without the run's other files too, or they would read
    // as the leftovers of a run that did not finish.
    for (const char* name :
         {"run-summary.txt", "run-manifest.tsv", "_scratch", "rejects.tsv", "boardmill.lock"}) {
      fs::remove_all(good() / name);
    }
  }

  fs::path good() const { return temp_ / "good"; }

  // A copy of the good input, without its index when `indexed` is false.
  fs::path Copy(const std::string& name, bool indexed) {
    fs::copy(good(), temp_ / name, fs::copy_options::recursive);
    if (!indexed) fs::remove(temp_ / name / "shard-index.json");
    return temp_ / name;
  }

  // A copy without an index whose shard 1 holds `content` in place of its records.
  fs::path WithRecords(const std::string& name, const std::string& content) {
    fs::path copy = Copy(name, false);
    WriteZstdFile(copy / "shard-001.psfen.zst", content);
    return copy;
  }

  // A copy whose index says something else of shard 1: `key` (a number or a quoted text) gets
  // `value`.
  fs::path WithIndexEntry(const std::string& name, const std::string& key,
                          const std::string& value) {
    fs::path copy = Copy(name, true);
    std::string index = ReadFile(copy / "shard-index.json");
    const std::size_t entry = index.find("\"shard-001.psfen.zst\"");
    const std::size_t start = index.find(':', index.find("\"" + key + "\"", entry)) + 2;
    const std::size_t end = index.find_first_of(",}", start);
    EXPECT_NE(entry, std::string::npos);
    index.replace(start, end - start, value);
    WriteFile(copy / "shard-index.json", index);
    return copy;
  }

  TempDir temp_;
};

TEST_F(ShuffleRefusalTest, EveryBadInputFailsInOneLineWithoutASummary) {
  const ProgramRun accepted = Shuffle({good(), Copy("unindexed", false)}, temp_ / "accepted", {});
  ASSERT_EQ(accepted.exit_code, 0) << "the undamaged inputs must be accepted: " << accepted.err;
  const std::string shard_1 = ReadFile(good() / "shard-001.psfen.zst");
  const std::string records_1 = ReadZstdFile(good() / "shard-001.psfen.zst");
  ASSERT_FALSE(records_1.empty());
  const fs::path not_zstd = Copy("not-zstd", false);
  WriteFile(not_zstd / "shard-001.psfen.zst", "XXXX" + shard_1.substr(4));
  const fs::path truncated = Copy("truncated", false);
  WriteFile(truncated / "shard-001.psfen.zst", shard_1.substr(0, shard_1.size() / 2));
  const fs::path torn = WithRecords("torn", records_1.substr(0, records_1.size() - 7));
  const fs::path zeros = WithRecords("zeros", records_1 + std::string(32, '\0'));
  const fs::path size = WithIndexEntry("size", "bytes", "1");
  const fs::path hash = WithIndexEntry("hash", "xxh64", "\"0123456789abcdef\"");
  const fs::path other = Copy("other", true);
  fs::create_directories(temp_ / "empty");

  const struct {
    std::string what;
    std::vector<fs::path> inputs;
    fs::path output;
    std::vector<std::string> extra;
  } cases[] = {
      {"a shard that is not Zstandard", {good(), not_zstd}, temp_ / "out-1", {}},
      {"a truncated shard", {good(), truncated}, temp_ / "out-2", {}},
      {"a shard ending inside a record", {good(), torn}, temp_ / "out-3", {}},
      {"a record that does not decode", {good(), zeros}, temp_ / "out-4", {}},
      {"an index with another size", {good(), size}, temp_ / "out-5", {}},
      {"an index with another hash", {good(), hash}, temp_ / "out-6", {}},
      {"an input without shards", {good(), temp_ / "empty"}, temp_ / "out-7", {}},
      {"an input that does not exist", {good(), temp_ / "missing"}, temp_ / "out-8", {}},
      {"the output is an input", {good(), other}, other, {}},
      {"the output lies inside an input", {other, good()}, good() / "nested", {}},
      {"no shards", {good()}, temp_ / "out-9", {"--shards", "0"}},
  };
  for (const auto& [what, inputs, output, extra] : cases) {
    SCOPED_TRACE(what);
    const std::string index_before = ReadFile(output / "shard-index.json");
    ExpectRefused(Shuffle(inputs, output, extra), output, index_before);
  }
}

// A run that fills its disk, with its scratch there and elsewhere.
TEST(ShuffleFullDiskTest, FailsInOneLineWithoutASummary) {
  TempDir temp;
  SmallDisk disk(temp / "disk");
  if (const std::string reason = disk.Mount(); !reason.empty()) GTEST_SKIP() << reason;
  disk.LeaveFree(std::uint64_t{64} * 1024);
  ConvertFens(temp / "in", GameFens(kSameOutputPositions), 4);
  const ProgramRun roomy = Shuffle({temp / "in"}, temp / "roomy", {});
  ASSERT_EQ(roomy.exit_code, 0) << "the input must be accepted where there is room: " << roomy.err;
  const std::vector<std::string> scratch_elsewhere = {"--scratch-dir", (temp / "scratch").string()};
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, scratch_elsewhere}) {
    const fs::path output = disk.path() / NumberedName("out-", extra.size(), "");
    ExpectRefused(Shuffle({temp / "in"}, output, extra), output, "");
    fs::remove_all(output);
  }
}

}  // namespace
}  // namespace boardmill::testing
