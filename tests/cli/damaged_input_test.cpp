// Whole-program tests of damaged input files, unusable locations and very many input files,
// run in every execution mode: each run either converts with the counts and shard contents the
// readable lines call for, or fails with one clear line and exit code 1; none crashes, hangs or
// reports success with records missing.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "conversion_run_support.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

constexpr std::uint64_t kShards = 8;
const std::string kShardsText = std::to_string(kShards);

// Runs the program under a time limit, so that a hang fails the test (exit code 124 or 137)
// instead of stalling the suite. `prefix` runs before the program, e.g. to drop privileges.
ProgramRun RunBounded(const std::vector<std::string>& arguments, const std::string& prefix = "",
                      int limit_seconds = 300) {
  std::string command = prefix + "timeout -k 10 " + std::to_string(limit_seconds) + " " +
                        QuoteForShell(BOARDMILL_BINARY);
  for (const std::string& argument : arguments) command += " " + QuoteForShell(argument);
  return RunShell(command);
}

struct ReferenceRecord {
  chess::PackedSfen record;
  std::uint64_t routing_key = 0;
};

// What the general codec makes of a line; nothing for an invalid position.
std::optional<ReferenceRecord> Encode(const std::string& line) {
  const util::Result<chess::Position> position = chess::ParseFen(line);
  if (!position) return std::nullopt;
  const util::Result<chess::PackedSfen> record = chess::EncodePackedSfen(*position);
  if (!record) return std::nullopt;
  return ReferenceRecord{*record, position->Occupancy() >> 56};
}

// The decompressed shard contents the lines call for, worked out with the general codec: the
// record of every valid line, routed by the eighth-rank occupancy, in input order.
std::vector<std::string> ReferenceShards(const std::vector<std::string>& lines) {
  std::vector<std::string> shards(kShards);
  for (const std::string& line : lines) {
    const std::optional<ReferenceRecord> encoded = Encode(line);
    if (!encoded) continue;
    shards[encoded->routing_key % kShards].append(encoded->record.bytes.begin(),
                                                  encoded->record.bytes.end());
  }
  return shards;
}

// The value printed after `label` on its own line of a console report.
std::string ReportValue(const std::string& report, const std::string& label) {
  const std::string key = "\n" + label + ": ";
  const std::size_t at = ("\n" + report).find(key);
  if (at == std::string::npos) return "<no " + label + " line>";
  const std::size_t start = at + key.size() - 1;
  return report.substr(start, report.find('\n', start) - start);
}

std::string Sanitized(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string FensText() { return Lines(kFens); }
std::string EmptyText() { return ""; }
std::string BlankLinesText() { return "\n\r\n\n\n\r\n\r\n"; }

// 9 MiB in one line, longer than any read, decompression or slab buffer of the readers.
std::string LongLineText() {
  std::string text = kFens[0] + "\n";
  const std::size_t end = text.size() + (9U << 20);
  while (text.size() < end) text += "8/";
  return text + "\n" + kFens[1];
}

std::string ControlBytesText() {
  using namespace std::string_literals;
  return Lines({
      "rnbqkbnr/ppp\0pppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"s,
      "\0\0\0\0"s,
      "\xff\xfe\xfd",
      kFens[2] + "\xff",
      kFens[3] + "\0"s,
      kFens[4],
  });
}

std::string ConcatenatedFramesText() { return FensText() + Lines({kFens[5], kFens[6]}); }

// One Zstandard frame holding `text`, at the fastest level (inputs are many and small).
std::string Compress(std::string_view text) {
  static const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(),
                                                                            ZSTD_freeCCtx);
  std::string compressed(ZSTD_compressBound(text.size()), '\0');
  const std::size_t size = ZSTD_compressCCtx(context.get(), compressed.data(), compressed.size(),
                                             text.data(), text.size(), 1);
  EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
  compressed.resize(ZSTD_isError(size) ? 0 : size);
  return compressed;
}

// A frame that every decoder passes over: magic 0x184D2A50, a 4-byte length, the payload.
std::string SkippableFrame(std::string_view payload) {
  std::string frame = {'\x50', '\x2a', '\x4d', '\x18'};
  for (int shift = 0; shift < 32; shift += 8) {
    frame.push_back(static_cast<char>((payload.size() >> shift) & 0xFF));
  }
  return frame.append(payload);
}

const char kTruncated[] = "Zstd decompression ended before the frame was fully decoded.";
const char kUnknownFrame[] = "Zstd decompression failed: Unknown frame descriptor";

// One damaged input file, placed between two intact ones. Its bytes are built when a test
// needs them.
struct DamagedFile {
  const char* name;
  std::string (*bytes)();
  // The decoding error a run must end with, after the damaged file's path; empty when the run
  // must succeed.
  std::string error;
  // For a run that must succeed: the text the readers must see, and how many of its lines are
  // invalid positions.
  std::string (*text)() = nullptr;
  std::uint64_t invalid_lines = 0;
};

void PrintTo(const DamagedFile& file, std::ostream* out) { *out << file.name; }

const std::vector<DamagedFile> kDamagedFiles = {
    {"NotZstandard", [] { return "plain text, not a frame\n" + FensText(); }, kUnknownFrame},
    {"TruncatedFrame",
     [] {
       const std::string frame = Compress(FensText());
       return frame.substr(0, frame.size() - 4);
     },
     kTruncated},
    {"HalfAFrame",
     [] {
       const std::string frame = Compress(FensText());
       return frame.substr(0, frame.size() / 2);
     },
     kTruncated},
    {"FrameThenGarbage", [] { return Compress(FensText()) + "garbage after the frame"; },
     kUnknownFrame},
    {"FrameThenStrayByte", [] { return Compress(FensText()) + "\x01"; }, kUnknownFrame},
    // The start of a frame's magic number: the decoder waits for the rest, which never comes.
    {"FrameThenStartOfAFrame", [] { return Compress(FensText()) + "\x28\xb5\x2f"; }, kTruncated},
    {"EmptyFile", [] { return std::string(); }, "", EmptyText},
    {"EmptyFrame", [] { return Compress(""); }, "", EmptyText},
    {"BlankLinesOnly", [] { return Compress(BlankLinesText()); }, "", BlankLinesText},
    {"SeveralMegabyteLine", [] { return Compress(LongLineText()); }, "", LongLineText, 1},
    {"NulAndFfBytes", [] { return Compress(ControlBytesText()); }, "", ControlBytesText, 5},
    {"SkippableAndConcatenatedFrames",
     [] {
       return SkippableFrame("skip me") + Compress(FensText()) +
              Compress(Lines({kFens[5], kFens[6]}));
     },
     "", ConcatenatedFramesText},
};

// The intact files around the damaged one: the valid positions and one invalid line each.
std::string IntactText(std::size_t first) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < kFens.size(); ++i) lines.push_back(kFens[(first + i) % kFens.size()]);
  lines.insert(lines.begin() + 2, "not a position");
  return Lines(lines);
}
constexpr std::uint64_t kIntactInvalid = 1;

void WriteInputs(const fs::path& in, const std::string& damaged_bytes) {
  testing::WriteZstdFile(in / "a.fen.zst", IntactText(0));
  WriteFile(in / "b.fen.zst", damaged_bytes);
  testing::WriteZstdFile(in / "c.fen.zst", IntactText(3));
}

// The line a run ends with when the damaged file b.fen.zst fails to decode: the decoder's
// error, after the path that tells which of many files is damaged.
std::string DecodingFailure(const fs::path& in, const std::string& error) {
  return "Failed to decode input file " + (in / "b.fen.zst").string() + ": " + error;
}

const std::vector<std::string> kModes = {"--sequential", "--parallel", "--staged"};

std::vector<std::string> ConvertArguments(const fs::path& in, const fs::path& out,
                                          const std::string& mode) {
  return {"convert",       in.string(), out.string(),           mode, "--shards", kShardsText,
          "--max-threads", "3",         "--min-free-space-gib", "0"};
}

void ExpectOneLineFailure(const ProgramRun& run, const std::string& message, const fs::path& out) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, message + "\n");
  EXPECT_FALSE(fs::exists(out / "run-summary.txt"));
}

// (input path, line number, text) of rejected lines, in no particular order.
using RejectRows = std::multiset<std::tuple<std::string, std::string, std::string>>;

void AddReferenceRejects(const fs::path& file, const std::vector<std::string>& lines,
                         RejectRows& rows) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!Encode(lines[i])) {
      // The log keeps the first 1,024 bytes of a line.
      rows.emplace(file.string(), std::to_string(i + 1), Sanitized(lines[i].substr(0, 1024)));
    }
  }
}

RejectRows ReadRejectLog(const fs::path& log) {
  RejectRows rows;
  const std::vector<std::string> lines = DeliveredLines(ReadFile(log));
  EXPECT_FALSE(lines.empty()) << log;
  if (lines.empty()) return rows;
  EXPECT_EQ(lines[0], "input_path\tline_number\terror\tfen");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& row = lines[i];
    const std::size_t first = row.find('\t');
    const std::size_t second = row.find('\t', first + 1);
    const std::size_t third = row.find('\t', second + 1);
    EXPECT_NE(third, std::string::npos) << "row " << i << " has fewer than four columns";
    if (third == std::string::npos) continue;
    EXPECT_GT(third - second, 1U) << "row " << i << " names no error";
    rows.emplace(row.substr(0, first), row.substr(first + 1, second - first - 1),
                 row.substr(third + 1));
  }
  return rows;
}

class DamagedInputTest : public ::testing::TestWithParam<std::tuple<std::string, DamagedFile>> {
 protected:
  const std::string& mode() const { return std::get<0>(GetParam()); }
  const DamagedFile& damaged() const { return std::get<1>(GetParam()); }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
  const fs::path out_ = temp_ / "out";
};

TEST_P(DamagedInputTest, ConvertsEveryReadableLineOrFailsWithOneLine) {
  WriteInputs(in_, damaged().bytes());
  const ProgramRun run = RunBounded(ConvertArguments(in_, out_, mode()));
  if (!damaged().error.empty()) {
    ExpectOneLineFailure(run, DecodingFailure(in_, damaged().error), out_);
    return;
  }

  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::pair<fs::path, std::string>> files = {
      {in_ / "a.fen.zst", IntactText(0)},
      {in_ / "b.fen.zst", damaged().text()},
      {in_ / "c.fen.zst", IntactText(3)}};
  std::vector<std::string> all_lines;
  RejectRows expected_rejects;
  for (const auto& [path, text] : files) {
    const std::vector<std::string> lines = DeliveredLines(text);
    all_lines.insert(all_lines.end(), lines.begin(), lines.end());
    AddReferenceRejects(path, lines, expected_rejects);
  }
  const std::uint64_t invalid = 2 * kIntactInvalid + damaged().invalid_lines;
  const std::uint64_t encoded = all_lines.size() - invalid;
  EXPECT_EQ(ReportValue(run.out, "Input files"), "3");
  EXPECT_EQ(ReportValue(run.out, "Visited lines"), std::to_string(all_lines.size()));
  EXPECT_EQ(ReportValue(run.out, "Encoded positions"), std::to_string(encoded));
  EXPECT_EQ(ReportValue(run.out, "Invalid positions"), std::to_string(invalid));
  EXPECT_EQ(ReportValue(run.out, "Raw output bytes"), std::to_string(32 * encoded));
  EXPECT_EQ(DecompressedShards(out_, kShards), ReferenceShards(all_lines));
  EXPECT_TRUE(fs::exists(out_ / "run-summary.txt"));
  if (mode() != "--sequential") {
    EXPECT_EQ(ReportValue(run.out, "Reject log entries"), std::to_string(invalid));
    EXPECT_EQ(ReadRejectLog(out_ / "rejects.tsv"), expected_rejects);
  }

  // The shards hold nothing but whole records that decode, route and re-encode.
  testing::ExpectRun(RunBounded({"verify-shards", out_.string(), "--shards", kShardsText}), 0,
                     "Verified shard files: " + kShardsText +
                         "\nVerified records: " + std::to_string(encoded) + "\n",
                     "");
}

std::string ModeName(const std::string& mode) { return mode.substr(2); }

// The name of a test that runs in one mode.
std::string ModeTestName(const ::testing::TestParamInfo<std::string>& info) {
  return ModeName(info.param);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, DamagedInputTest,
                         ::testing::Combine(::testing::ValuesIn(kModes),
                                            ::testing::ValuesIn(kDamagedFiles)),
                         [](const ::testing::TestParamInfo<DamagedInputTest::ParamType>& info) {
                           return ModeName(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

// sample-fens reads with the same line reader: damage fails it with the same line, and the
// lines of a readable file are copied byte for byte.
class SampleDamagedInputTest : public ::testing::TestWithParam<DamagedFile> {
 protected:
  TempDir temp_;
  const fs::path in_ = temp_ / "in";
  const fs::path out_ = temp_ / "out";
};

TEST_P(SampleDamagedInputTest, CopiesEveryReadableLineOrFailsWithOneLine) {
  WriteInputs(in_, GetParam().bytes());
  const ProgramRun run =
      RunBounded({"sample-fens", in_.string(), out_.string(), "--max-lines-per-file", "1000000"});
  if (!GetParam().error.empty()) {
    testing::ExpectRun(run, 1, "", DecodingFailure(in_, GetParam().error) + "\n");
    return;
  }
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadZstdFile(out_ / "b.fen.zst"), Lines(DeliveredLines(GetParam().text())));
  EXPECT_EQ(ReadZstdFile(out_ / "c.fen.zst"), IntactText(3));
}

INSTANTIATE_TEST_SUITE_P(EveryDamage, SampleDamagedInputTest, ::testing::ValuesIn(kDamagedFiles),
                         [](const ::testing::TestParamInfo<DamagedFile>& info) {
                           return std::string(info.param.name);
                         });

class ModeTest : public ::testing::TestWithParam<std::string> {
 protected:
  const std::string& mode() const { return GetParam(); }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
};

// The command prefix that runs the program without the power to read through permission
// bits: none for an ordinary user; as root, running as the user nobody (who then needs a
// directory it may write to). Nothing when that cannot be arranged.
std::optional<std::string> UnprivilegedPrefix(const fs::path& writable) {
  fs::create_directories(writable);
  if (geteuid() != 0) return "";
  const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const ProgramRun usage = RunBounded({}, prefix);
  if (usage.exit_code != 1 || usage.out.rfind("Boardmill\n", 0) != 0) return std::nullopt;
  fs::permissions(writable, fs::perms::all);
  return prefix;
}

class UnreadableInputTest : public ModeTest {};

TEST_P(UnreadableInputTest, FileThatCannotBeOpenedFailsTheRunWithOneLine) {
  WriteInputs(in_, Compress(FensText()));
  const fs::path unreadable = in_ / "b.fen.zst";
  fs::permissions(unreadable, fs::perms::none);
  const fs::path writable = temp_ / "writable";
  const std::optional<std::string> prefix = UnprivilegedPrefix(writable);
  if (!prefix) GTEST_SKIP() << "running as root, and setpriv cannot run the program as nobody";
  const fs::path out = writable / "out";

  const ProgramRun run = RunBounded(ConvertArguments(in_, out, mode()), *prefix);
  // The staged reader opens files itself and names the system's reason.
  const std::string message =
      mode() == "--staged"
          ? "Failed to open input file " + unreadable.string() + ": Permission denied"
          : "Failed to open input file: " + unreadable.string();
  ExpectOneLineFailure(run, message, out);
}

// Many tiny files, some empty and some with an invalid line, converted under a low limit of
// open files: every file's descriptors must be released before the next ones are opened.
// ThreadSanitizer, which looks for races rather than leaks, gets a tenth of the files: at its
// cost per file the full count would take minutes per mode.
class ManyFilesTest : public ModeTest {
 protected:
  static constexpr std::uint64_t kFiles = kThreadSanitizerBuild ? 1000 : 10000;

  static std::string FileText(std::uint64_t file) {
    if (file % 100 == 42) return "";
    std::string text;
    for (std::uint64_t line = 0; line < 3; ++line) {
      const std::string& fen = kFens[(file + line) % kFens.size()];
      // Replace the fullmove number, so that every record of the run differs from the others.
      text += fen.substr(0, fen.rfind(' ') + 1) + std::to_string(1 + file * 3 + line) + "\n";
    }
    if (file % 10 == 3) text += "not a position\n";
    return text;
  }

  static void SetUpTestSuite() {
    inputs_ = new TempDir();
    for (std::uint64_t file = 0; file < kFiles; ++file) {
      const std::string text = FileText(file);
      std::string name = "f";
      name += std::to_string(100000 + file);
      name += ".fen.zst";
      WriteFile(inputs_->path() / name, Compress(text));
      const std::vector<std::string> lines = DeliveredLines(text);
      all_lines_.insert(all_lines_.end(), lines.begin(), lines.end());
    }
  }

  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
    all_lines_.clear();
  }

  static inline TempDir* inputs_ = nullptr;
  // The lines of all files, in input order.
  static inline std::vector<std::string> all_lines_;
};

TEST_P(ManyFilesTest, ManySmallFilesConvertWithFewOpenFiles) {
  const fs::path out = temp_ / "out";
  std::vector<std::string> arguments = ConvertArguments(inputs_->path(), out, mode());
  // The fastest level keeps the many per-file compression streams of the parallel mode cheap.
  arguments.insert(arguments.end(), {"--compression-level", "1"});
  const ProgramRun run = RunBounded(arguments, "ulimit -n 64 && ", 540);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::uint64_t invalid = 0;
  for (const std::string& line : all_lines_) invalid += Encode(line) ? 0 : 1;
  EXPECT_EQ(invalid, kFiles / 10);
  EXPECT_EQ(ReportValue(run.out, "Input files"), std::to_string(kFiles));
  EXPECT_EQ(ReportValue(run.out, "Visited lines"), std::to_string(all_lines_.size()));
  EXPECT_EQ(ReportValue(run.out, "Invalid positions"), std::to_string(invalid));
  EXPECT_EQ(ReportValue(run.out, "Encoded positions"), std::to_string(all_lines_.size() - invalid));
  // Equal to the reference in every mode, hence identical across the modes.
  EXPECT_EQ(DecompressedShards(out, kShards), ReferenceShards(all_lines_));
}

// --- Bad locations ---

// A read-only tmpfs mounted for the lifetime of the object; mounting needs root.
class ReadOnlyMount {
 public:
  explicit ReadOnlyMount(const fs::path& at) : at_(at) {
    fs::create_directories(at);
    mounted_ =
        geteuid() == 0 &&
        RunShell("mount -t tmpfs -o ro,size=1m tmpfs " + QuoteForShell(at.string())).exit_code == 0;
  }
  ~ReadOnlyMount() {
    if (mounted_) RunShell("umount " + QuoteForShell(at_.string()));
  }
  ReadOnlyMount(const ReadOnlyMount&) = delete;
  ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

  bool mounted() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

// A location and the error line each mode must end with there; an empty line means the mode
// does not use the location and must succeed.
struct LocationCase {
  std::string label;
  // Empty: a fresh directory, so that no earlier run's files are found there.
  fs::path out;
  std::vector<std::string> options;
  std::map<std::string, std::string> errors;
};

class LocationTest : public ModeTest {
 protected:
  LocationTest() { WriteInputs(in_, ""); }

  void ExpectOutcome(const LocationCase& location) {
    SCOPED_TRACE(location.label);
    const fs::path out =
        location.out.empty() ? temp_ / ("out-" + std::to_string(++runs_)) : location.out;
    std::vector<std::string> arguments = ConvertArguments(in_, out, mode());
    arguments.insert(arguments.end(), location.options.begin(), location.options.end());
    const ProgramRun run = RunBounded(arguments);
    const auto error = location.errors.find(mode());
    if (error == location.errors.end()) {
      EXPECT_EQ(run.exit_code, 0) << run.err;
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(ReportValue(run.out, "Encoded positions"), std::to_string(2 * kFens.size()));
    } else {
      ExpectOneLineFailure(run, error->second, out);
    }
  }

  const fs::path file_ = temp_ / "a-file";
  const fs::path directory_ = temp_ / "a-directory";

 private:
  int runs_ = 0;
};

// `error` in each of `modes`; a run in any other mode succeeds.
std::map<std::string, std::string> InModes(const std::vector<std::string>& modes,
                                           const std::string& error) {
  std::map<std::string, std::string> errors;
  for (const std::string& mode : modes) errors[mode] = error;
  return errors;
}

std::map<std::string, std::string> InEveryMode(const std::string& error) {
  return InModes(kModes, error);
}

TEST_P(LocationTest, InputThatIsNoDirectoryFailsBeforeTheOutputIsCreated) {
  WriteFile(file_, "");
  const fs::path out = temp_ / "out";
  const fs::path missing = temp_ / "missing";
  ExpectOneLineFailure(RunBounded(ConvertArguments(missing, out, mode())),
                       "Input directory does not exist: " + missing.string(), out);
  ExpectOneLineFailure(RunBounded(ConvertArguments(file_, out, mode())),
                       "Input path is not a directory: " + file_.string(), out);
  EXPECT_FALSE(fs::exists(out));
}

TEST_P(LocationTest, OutputPathsBlockedByAFileFailWithOneLine) {
  WriteFile(file_, "in the way");
  fs::create_directories(directory_);
  const std::string not_a_directory = "Not a directory";
  const std::vector<LocationCase> cases = {
      {"output under a file",
       file_ / "out",
       {},
       InEveryMode("Failed to create output directory: " + not_a_directory)},
      {"output is a file",
       file_,
       {},
       InEveryMode("Failed to create output directory: " + not_a_directory)},
      {"scratch under a file",
       {},
       {"--scratch-dir", (file_ / "scratch").string()},
       {{"--parallel", "Failed to create scratch directory: " + not_a_directory}}},
      {"manifest under a file",
       {},
       {"--manifest", (file_ / "manifest.tsv").string()},
       {{"--parallel", "Failed to create manifest directory: " + not_a_directory}}},
      {"manifest is a directory",
       {},
       {"--manifest", directory_.string()},
       {{"--parallel", "Failed to open manifest: " + directory_.string()}}},
      {"reject log under a file",
       {},
       {"--reject-log", (file_ / "rejects.tsv").string()},
       InModes({"--parallel", "--staged"},
               "Failed to create reject-log directory: " + not_a_directory)},
      {"reject log is a directory",
       {},
       {"--reject-log", directory_.string()},
       InModes({"--parallel", "--staged"}, "Failed to open reject log: " + directory_.string())},
  };
  for (const LocationCase& location : cases) ExpectOutcome(location);
}

TEST_P(LocationTest, ReadOnlyPlacesFailWithOneLine) {
  const fs::path read_only = temp_ / "read-only";
  const ReadOnlyMount mount(read_only);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a read-only tmpfs (needs root)";
  const std::string erofs = "Read-only file system";
  const std::vector<LocationCase> cases = {
      {"output inside",
       read_only / "out",
       {},
       InEveryMode("Failed to create output directory: " + erofs)},
      {"output is the read-only directory",
       read_only,
       {},
       // With no earlier summary to remove, each mode fails at the first file it creates.
       {{"--sequential",
         "Failed to open output file: " + (read_only / "shard-000.psfen.zst").string()},
        {"--parallel", "Failed to create scratch directory: " + erofs},
        {"--staged", "Failed to open reject log: " + (read_only / "rejects.tsv").string()}}},
      {"scratch inside",
       {},
       {"--scratch-dir", (read_only / "scratch").string()},
       {{"--parallel", "Failed to create scratch directory: " + erofs}}},
      {"reject log inside",
       {},
       {"--reject-log", (read_only / "rejects.tsv").string()},
       InModes({"--parallel", "--staged"},
               "Failed to open reject log: " + (read_only / "rejects.tsv").string())},
  };
  for (const LocationCase& location : cases) ExpectOutcome(location);
}

// Statistics files that cannot be written are skipped; the conversion itself still succeeds.
TEST_P(LocationTest, StatisticsFilesThatCannotBeWrittenAreSkipped) {
  const fs::path out = temp_ / "out";
  const std::vector<std::string> names = {"stage-stats.tsv", "worker-stats.tsv", "queue-stats.tsv",
                                          "controller-stats.tsv"};
  for (const std::string& name : names) fs::create_directories(out / name);
  ExpectOutcome({"statistics files are directories", out, {}, {}});
  for (const std::string& name : names) EXPECT_TRUE(fs::is_directory(out / name)) << name;
  EXPECT_TRUE(fs::is_regular_file(out / "run-summary.txt"));
  EXPECT_EQ(DecompressedShards(out, kShards),
            ReferenceShards(DeliveredLines(IntactText(0) + IntactText(3))));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, UnreadableInputTest, ::testing::ValuesIn(kModes), ModeTestName);
INSTANTIATE_TEST_SUITE_P(EveryMode, LocationTest, ::testing::ValuesIn(kModes), ModeTestName);
INSTANTIATE_TEST_SUITE_P(EveryMode, ManyFilesTest, ::testing::ValuesIn(kModes), ModeTestName);

}  // namespace
}  // namespace boardmill
