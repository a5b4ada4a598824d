// Arbitrary text as a run manifest, read back by LoadCompletedFileIndices. A small reader of its
// own, written from the record layout, says what the load must give: the indices of the
// well-formed completed-file records, or a one-line error for a completed-file record whose
// index is not a 64-bit decimal number. A last line without its newline is a record torn by a
// killed run and does not count.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_file.h"
#include "pipeline/parallel/run_manifest.h"

namespace {

using boardmill::testing::AbortUnless;

struct ExpectedLoad {
  bool fails = false;
  std::set<std::uint64_t> indices;
};

// The fourth tab-separated field, or nothing when the line has fewer fields.
bool FourthField(std::string_view line, std::string_view& field) {
  for (int tabs = 0; tabs < 3; ++tabs) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    line.remove_prefix(tab + 1);
  }
  field = line.substr(0, line.find('\t'));
  return true;
}

// Leading white space, then only decimal digits, of a value that fits 64 bits.
bool ParseIndex(std::string_view field, std::uint64_t& index) {
  const std::size_t start = field.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string_view::npos) return false;
  index = 0;
  for (const char c : field.substr(start)) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (index > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    index = index * 10 + digit;
  }
  return true;
}

ExpectedLoad Expect(std::string_view text) {
  ExpectedLoad expected;
  for (std::size_t line_feed; (line_feed = text.find('\n')) != std::string_view::npos;) {
    const std::string_view line = text.substr(0, line_feed);
    text.remove_prefix(line_feed + 1);
    std::string_view field;
    if (!line.starts_with("file\tcompleted\t") || !FourthField(line, field) || field.empty()) {
      continue;
    }
    std::uint64_t index = 0;
    if (!ParseIndex(field, index)) {
      expected.fails = true;
      return expected;
    }
    expected.indices.insert(index);
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const boardmill::testing::ScratchFile scratch("run-manifest.tsv");
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  scratch.Write(text);
  const boardmill::util::Result<std::set<std::uint64_t>> loaded =
      boardmill::pipeline::LoadCompletedFileIndices(scratch.path());
  const ExpectedLoad expected = Expect(text);
  AbortUnless(loaded.ok() != expected.fails,
              expected.fails ? "a malformed file index is accepted"
                             : "a manifest without malformed file indices is refused");
  if (!loaded) {
    AbortUnless(
        boardmill::testing::IsOneLineMessage(loaded.error()) && loaded.error().ends_with('.'),
        "the error is not one line ending in a period");
    return 0;
  }
  AbortUnless(*loaded == expected.indices,
              "the indices are not those of the well-formed completed-file records");
  return 0;
}
