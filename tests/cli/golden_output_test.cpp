// The sample conversion's outputs in every mode, pinned by digests taken from a known-good build:
// a restructuring of the code must leave every shard, report line, summary key, manifest record
// and reject row as it was. Timings, timestamps, the temporary directory and the open-file limit
// vary from run to run and machine to machine, so they are masked before hashing.

#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

std::string Digest(const std::string& text) { return Hex(XXH64(text.data(), text.size(), 0)); }

// Every "YYYY-MM-DDTHH:MM:SSZ" as "<time>". (Hand-written: GCC 12 warns inside <regex> under the
// sanitizer builds, whose warnings are errors.)
std::string MaskedTimestamps(std::string text) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  const auto matches = [&](std::size_t at) {
    for (std::size_t i = 0; i < kShape.size(); ++i) {
      const char c = text[at + i];
      if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i]) {
        return false;
      }
    }
    return true;
  };
  for (std::size_t at = 0; at + kShape.size() <= text.size(); ++at) {
    if (matches(at)) text.replace(at, kShape.size(), "<time>");
  }
  return text;
}

// The run of non-space characters after every `prefix` as "<varies>".
std::string MaskedValues(std::string text, const std::string& prefix) {
  for (std::size_t at = text.find(prefix); at != std::string::npos;
       at = text.find(prefix, at + prefix.size())) {
    const std::size_t value = at + prefix.size();
    const std::size_t end = text.find_first_of(" \t\n", value);
    text.replace(value, (end == std::string::npos ? text.size() : end) - value, "<varies>");
  }
  return text;
}

// Masks what differs between two correct runs: the temporary directory, timestamps, timings and
// rates, the worker cap that follows the open-file limit, and the CPUs the machine lends.
std::string Normalized(std::string text, const fs::path& temp) {
  for (std::size_t at; (at = text.find(temp.string())) != std::string::npos;) {
    text.replace(at, temp.string().size(), "<tmp>");
  }
  text = MaskedTimestamps(std::move(text));
  for (const std::string_view key : {"seconds", "FEN/s", "fens_per_second", "Stdio worker cap",
                                     "stdio_worker_cap", "Usable CPUs", "usable_cpus"}) {
    for (const std::string_view separator : {": ", "="}) {
      text = MaskedValues(std::move(text), std::string(key).append(separator));
    }
  }
  return text;
}

// A manifest with the six per-file timings and the input's modification time (the last field)
// of each file record masked.
std::string NormalizedManifest(const std::string& text, const fs::path& temp) {
  std::string masked;
  for (const std::string& line : Split(Normalized(text, temp), '\n')) {
    std::vector<std::string> fields = Split(line, '\t');
    if (line.starts_with("file\tcompleted\t")) {
      for (std::size_t field = 12; field < 18 && field < fields.size(); ++field) {
        fields[field] = "<varies>";
      }
      fields.back() = "<varies>";
    }
    for (std::size_t field = 0; field < fields.size(); ++field) {
      masked += (field == 0 ? "" : "\t") + fields[field];
    }
    masked += '\n';
  }
  return masked;
}

std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const std::string& line : lines) joined += line + '\n';
  return joined;
}

std::string ShardDigest(const fs::path& out) {
  std::string all;
  for (const auto& [name, content] : ShardContents(out)) all += name + '\n' + content;
  return Digest(all);
}

struct GoldenRun {
  const char* mode;
  const char* shards;
  const char* report;
  const char* summary;
  const char* index;
  const char* manifest;  // empty where the mode writes none
  const char* rejects;   // empty where the mode writes none
};

void PrintTo(const GoldenRun& golden, std::ostream* out) { *out << golden.mode; }

class GoldenOutputTest : public ::testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenOutputTest, SampleConversionMatchesStoredDigests) {
  const GoldenRun& golden = GetParam();
  TempDir temp;
  fs::copy(BOARDMILL_SAMPLE_DATA_DIR, temp / "in");
  const fs::path out = temp / "out";
  const ProgramRun run = Convert(temp / "in", out,
                                 {std::string("--") + golden.mode, "--max-threads", "2",
                                  "--memory-ceiling-mib", "1024", "--shards", "32"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");

  EXPECT_EQ(ShardDigest(out), golden.shards);
  EXPECT_EQ(Digest(Normalized(run.out, temp.path())), golden.report)
      << Normalized(run.out, temp.path());
  EXPECT_EQ(Digest(Normalized(ReadFile(out / "run-summary.txt"), temp.path())), golden.summary)
      << Normalized(ReadFile(out / "run-summary.txt"), temp.path());
  EXPECT_EQ(Digest(ReadFile(out / "shard-index.json")), golden.index);
  if (*golden.manifest != '\0') {
    const std::string manifest =
        NormalizedManifest(ReadFile(out / "run-manifest.tsv"), temp.path());
    EXPECT_EQ(Digest(manifest), golden.manifest) << manifest;
  }
  if (*golden.rejects != '\0') {
    // Staged parse threads log rows as they meet them, so only the set of rows is fixed there.
    const std::string rejects = Normalized(ReadFile(out / "rejects.tsv"), temp.path());
    EXPECT_EQ(Digest(std::string(golden.mode) == "staged" ? SortedLines(rejects) : rejects),
              golden.rejects)
        << rejects;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, GoldenOutputTest,
    ::testing::Values(GoldenRun{"sequential", "ed525bb537e25982", "0646913d3e31afec",
                                "69a51cf2e3763577", "aa3d9f81b1342135", "", ""},
                      GoldenRun{"parallel", "ed525bb537e25982", "6e57970750fec552",
                                "737be294a1dd7b6b", "90b7a936a62e3cf4", "ca99ef68d4eb0e7a",
                                "c836e0b8f9269c45"},
                      GoldenRun{"staged", "ed525bb537e25982", "de66be3358b0ff0a",
                                "9251ef4f9369f687", "90b7a936a62e3cf4", "", "386195d61841a822"}),
    [](const ::testing::TestParamInfo<GoldenRun>& info) { return std::string(info.param.mode); });

}  // namespace
}  // namespace boardmill
