// A run that takes only the first lines of each file (--max-lines-per-file) needs only those:
// a file whose frame is cut short after them converts in every mode, with the same shards, and
// only a run that needs the lost lines fails, with the reader's one line.

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

const std::vector<std::string> kModes = {"--sequential", "--parallel", "--staged"};

// Positions from the test data, each file from its own offset, fullmove numbers made distinct.
std::string PositionsText(std::size_t lines, std::size_t offset) {
  std::vector<std::string> positions =
      testing::Split(testing::ReadZstdFile(testing::TestDataPath("positions.fen.zst")), '\n');
  positions.erase(std::remove(positions.begin(), positions.end(), ""), positions.end());
  std::string text;
  for (std::size_t line = 0; line < lines; ++line) {
    const std::string& fen = positions[(offset + line) % positions.size()];
    text += fen.substr(0, fen.rfind(' ') + 1) + std::to_string(1 + line) + "\n";
  }
  return text;
}

// The text a decoder recovers from `compressed` before its bytes run out.
std::string DecodablePrefix(const std::string& compressed) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::string text;
  std::string buffer(1 << 16, '\0');
  ZSTD_inBuffer input{compressed.data(), compressed.size(), 0};
  for (;;) {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    const std::size_t status = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(status)) break;
    text.append(buffer.data(), output.pos);
    if (output.pos == 0 && input.pos == input.size) break;
  }
  ZSTD_freeDCtx(context);
  return text;
}

class LineCapOverDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteZstdFile(in_ / "a.fen.zst", PositionsText(15000, 0));
    const std::string whole = testing::ReadFile(in_ / "a.fen.zst");
    const std::string cut = whole.substr(0, whole.size() / 2);
    testing::WriteFile(in_ / "a.fen.zst", cut);
    intact_lines_ = static_cast<std::uint64_t>(std::ranges::count(DecodablePrefix(cut), '\n'));
    testing::WriteZstdFile(in_ / "b.fen.zst", PositionsText(9000, 4000));
  }

  ProgramRun Run(const std::string& mode, const fs::path& out,
                 const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> options = {mode, "--shards", "16", "--max-threads", "2"};
    options.insert(options.end(), extra.begin(), extra.end());
    return Convert(in_, out, options);
  }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
  std::uint64_t intact_lines_ = 0;
};

TEST_F(LineCapOverDamageTest, ACapBelowTheDamageConvertsAlikeInEveryModeAndNoCapFails) {
  ASSERT_GT(intact_lines_, 2000U) << "the cut should leave whole blocks of lines";
  const std::string cap = std::to_string(intact_lines_ / 2);
  std::map<std::string, std::string> first_shards;
  for (const std::string& mode : kModes) {
    SCOPED_TRACE(mode);
    const fs::path out = temp_ / ("capped" + mode);
    const ProgramRun run = Run(mode, out, {"--max-lines-per-file", cap});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::map<std::string, std::string> shards = ShardContents(out);
    EXPECT_EQ(shards.size(), 16U);
    if (first_shards.empty()) {
      first_shards = shards;
      std::uint64_t records = 0;
      for (const auto& [name, content] : shards) records += content.size() / 32;
      EXPECT_EQ(records, 2 * (intact_lines_ / 2)) << "every line taken is a position";
    } else {
      EXPECT_TRUE(shards == first_shards) << "shards differ from " << kModes.front();
    }
  }

  for (const std::string& mode : kModes) {
    SCOPED_TRACE(mode);
    const fs::path out = temp_ / ("whole" + mode);
    const ProgramRun run = Run(mode, out);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Failed to decode input file " + (in_ / "a.fen.zst").string() +
                           ": Zstd decompression ended before the frame was fully decoded.\n");
    EXPECT_FALSE(fs::exists(out / "run-summary.txt"));
  }
}

}  // namespace
}  // namespace boardmill
