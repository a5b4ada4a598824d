// A file built from the input (raw bytes, valid frames, or frames that are cut short, damaged or
// followed by junk) is read by VisitZstdLineBatches and by DecompressZstdFile. Both readers must
// agree on success, on the message of a failure and on the text; the lines must be exactly those
// of the decompressed text; valid frames must give back the original text; a file cut inside a
// frame must fail; a visitor that stops or fails ends the read with its own verdict.
//
// Input layout: mode, batch size, stop request, frame style, frame count, frame cuts, the mode's
// own parameters, then the text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compression/zstd_context.h"
#include "compression/zstd_file_decompressor.h"
#include "compression/zstd_line_reader.h"
#include "fuzz/expected_lines.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/reference_zstd.h"
#include "fuzz/scratch_file.h"

namespace {

using boardmill::compression::DecompressZstdFile;
using boardmill::compression::kTruncatedFrameMessage;
using boardmill::compression::VisitZstdLineBatches;
using boardmill::compression::ZstdLineBatchEntry;
using boardmill::compression::ZstdLineReadSummary;
using namespace boardmill::testing;
namespace util = boardmill::util;

constexpr char kVisitorError[] = "Visitor gave up.";
constexpr std::string_view kDecodingError = "Zstd decompression failed: ";

enum class Mode { kRaw, kValid, kTruncated, kDamaged, kTrailingJunk, kLarge, kCount };

using Batch = std::vector<NumberedLine>;

// What the file is and what reading it must give.
struct Case {
  Mode mode = Mode::kRaw;
  std::string file;
  // The text the file holds, when it is known to be whole and valid.
  std::optional<std::string> expected_text;
  // The file must fail with the truncation message.
  bool must_be_truncated = false;
  // The file must fail, with whatever message (a damaged tail).
  bool must_fail = false;
  // On success the text must begin with this (what precedes damage).
  std::string expected_prefix;
};

// Where the visitor gives up: batch `at` (1-based) answers false or an error; 0 never.
struct Stop {
  std::size_t at = 0;
  bool with_error = false;
};

struct Reading {
  util::Result<ZstdLineReadSummary> result = util::Fail("not read");
  std::vector<Batch> batches;
};

std::uint64_t BatchSizeFromByte(std::uint8_t byte) {
  return byte < 0xC0 ? byte % 9 : std::uint64_t{1} << (byte % 20);
}

Stop StopFromByte(std::uint8_t byte) {
  if (byte == 0) return {};
  return Stop{.at = std::size_t{1} + (byte >> 1) % 8, .with_error = (byte & 1) == 0};
}

// Text that does not fit one 1 MiB output buffer of the reader: a long first line, then the
// payload across the buffer's end (or beyond it when the first line alone is longer).
std::string Enlarge(std::string_view payload, std::uint16_t word) {
  constexpr std::size_t kOutputBuffer = std::size_t{1} << 20;
  std::string text(kOutputBuffer - 0x1000 + word % 0x2000, 'x');
  text += '\n';
  text += payload;
  return text;
}

bool CouldStartAFrame(std::uint8_t byte) {
  // Frame magic numbers start (little-endian) with 0x28, skippable ones with 0x5?, and those of
  // legacy formats with 0x2?.
  return (byte & 0xF0) == 0x20 || (byte & 0xF0) == 0x50;
}

Case BuildCase(FuzzInput& input) {
  Case built;
  built.mode = static_cast<Mode>(input.TakeByte() % static_cast<int>(Mode::kCount));
  if (built.mode == Mode::kRaw) {
    built.file = std::string(input.TakeRestAsText());
    return built;
  }
  const boardmill::testing::FrameStyle style =
      boardmill::testing::FrameStyle::FromByte(input.TakeByte());
  const std::vector<std::uint16_t> cut_words = input.TakeWords(input.TakeByte() % 4);

  std::size_t truncate_at = 0;
  std::vector<std::pair<std::size_t, std::uint8_t>> damage;
  std::string junk;
  std::uint16_t enlarge_word = 0;
  switch (built.mode) {
    case Mode::kTruncated:
      truncate_at = input.TakeWord();
      break;
    case Mode::kDamaged:
      for (std::size_t count = 1 + input.TakeByte() % 4; count > 0; --count) {
        const std::size_t position = input.TakeWord();
        damage.emplace_back(position, input.TakeByte());
      }
      break;
    case Mode::kTrailingJunk: {
      const std::span<const std::uint8_t> bytes = input.TakeBytes(1 + input.TakeByte() % 16);
      junk.assign(bytes.begin(), bytes.end());
      break;
    }
    case Mode::kLarge:
      enlarge_word = input.TakeWord();
      break;
    default:
      break;
  }

  const std::string_view payload = input.TakeRestAsText();
  const std::string text =
      built.mode == Mode::kLarge ? Enlarge(payload, enlarge_word) : std::string(payload);
  const boardmill::testing::CompressedFrames frames = boardmill::testing::CompressFrames(
      text, boardmill::testing::CutsFromWords(cut_words, text.size()), style);
  built.file = frames.bytes;

  switch (built.mode) {
    case Mode::kTruncated: {
      // Cut strictly inside the file; a cut on a frame boundary leaves whole frames.
      const std::size_t size = truncate_at % frames.bytes.size();
      built.file.resize(size);
      built.must_be_truncated = size != 0;
      for (std::size_t i = 0; i < frames.frame_ends.size(); ++i) {
        if (frames.frame_ends[i] == size) {
          built.must_be_truncated = false;
          built.expected_text = text.substr(0, frames.text_ends[i]);
        }
      }
      if (size == 0) built.expected_text = std::string();
      break;
    }
    case Mode::kDamaged:
      for (const auto& [position, value] : damage) {
        built.file[position % built.file.size()] = static_cast<char>(value);
      }
      break;
    case Mode::kTrailingJunk:
      built.file += junk;
      built.must_fail = !junk.empty() && !CouldStartAFrame(static_cast<std::uint8_t>(junk[0]));
      built.expected_prefix = text;
      break;
    default:
      built.expected_text = text;
      break;
  }
  return built;
}

Reading Read(const std::filesystem::path& path, std::uint64_t batch_size, Stop stop) {
  Reading reading;
  reading.result = VisitZstdLineBatches(
      path, batch_size, [&](std::span<const ZstdLineBatchEntry> entries) -> util::Result<bool> {
        Batch& batch = reading.batches.emplace_back();
        for (const ZstdLineBatchEntry& entry : entries) {
          batch.push_back({std::string(entry.text), entry.line_number});
        }
        if (reading.batches.size() != stop.at) return true;
        if (stop.with_error) return util::Fail(kVisitorError);
        return false;
      });
  return reading;
}

std::vector<NumberedLine> AllLines(const std::vector<Batch>& batches) {
  std::vector<NumberedLine> lines;
  for (const Batch& batch : batches) lines.insert(lines.end(), batch.begin(), batch.end());
  return lines;
}

void CheckBatchSizes(const std::vector<Batch>& batches, std::uint64_t batch_size) {
  const std::uint64_t limit = batch_size > 1 ? batch_size : 1;
  for (const Batch& batch : batches) {
    AbortUnless(!batch.empty() && batch.size() <= limit, "a batch is empty or over its size");
  }
}

// The line reader's decoding error without the input path it is named after, as the whole-file
// decoder reports it.
std::string_view BareDecodingError(std::string_view error) {
  constexpr std::string_view kNamed = "Failed to decode input file ";
  if (!error.starts_with(kNamed)) return error;
  const std::size_t end = error.find(": ", kNamed.size());
  return end == std::string_view::npos ? error : error.substr(end + 2);
}

// The two readers agree, and the lines are those of the text.
void CheckReadersAgree(const util::Result<std::vector<std::uint8_t>>& whole, const Reading& full,
                       std::size_t file_size) {
  AbortUnless(whole.ok() == full.result.ok(), "the readers disagree on success");
  if (!whole) {
    // The library may name the same damage differently when the bytes arrive in other pieces.
    const std::string_view line_error = BareDecodingError(full.result.error());
    const bool same_kind =
        whole.error() == line_error ||
        (whole.error().starts_with(kDecodingError) && line_error.starts_with(kDecodingError));
    AbortUnless(same_kind, "the readers fail with different messages");
    AbortUnless(IsOneLineMessage(whole.error()), "an error message is not one line");
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(whole->data()), whole->size());
  const std::vector<NumberedLine> lines = AllLines(full.batches);
  AbortUnless(lines == ExpectedNumberedLines(text),
              "the visited lines are not the lines of the text");
  AbortUnless(full.result->line_count == lines.size(), "line_count is not the lines visited");
  AbortUnless(full.result->decompressed_bytes == whole->size(),
              "decompressed_bytes is not the size of the text");
  AbortUnless(full.result->compressed_bytes == file_size,
              "compressed_bytes is not the size of the file");
}

void CheckExpectations(const Case& built, const util::Result<std::vector<std::uint8_t>>& whole) {
  if (built.must_be_truncated) {
    AbortUnless(!whole && whole.error() == kTruncatedFrameMessage,
                "a file cut inside a frame is not reported as truncated");
  }
  if (built.must_fail) AbortUnless(!whole, "junk after the last frame is accepted");
  if (!whole) {
    AbortUnless(!built.expected_text, "valid frames fail to decode");
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(whole->data()), whole->size());
  if (built.expected_text) {
    AbortUnless(text == *built.expected_text, "the decoded text is not the original");
  }
  AbortUnless(text.starts_with(built.expected_prefix), "the decoded text lost its start");
}

// A second read whose visitor gives up at batch `stop.at` sees the same first batches and ends
// with the visitor's verdict; a read that never reaches that batch is the full read again.
void CheckStoppedRead(const Reading& full, const Reading& stopped, Stop stop) {
  if (!full.result) return;  // a failing read may or may not reach the stop first
  if (full.batches.size() < stop.at) {
    AbortUnless(stopped.result.ok() && stopped.batches == full.batches,
                "a visitor that never gave up changed the read");
    return;
  }
  AbortUnless(stopped.batches.size() == stop.at, "the read went on after the visitor gave up");
  AbortUnless(std::equal(stopped.batches.begin(), stopped.batches.end(), full.batches.begin()),
              "a stopped read saw different batches");
  if (stop.with_error) {
    AbortUnless(!stopped.result && stopped.result.error() == kVisitorError,
                "the visitor's error is not returned unchanged");
    return;
  }
  AbortUnless(stopped.result.ok(), "a visitor that stops the read made it fail");
  AbortUnless(stopped.result->line_count == AllLines(stopped.batches).size(),
              "line_count of a stopped read is not the lines visited");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const boardmill::testing::ScratchFile scratch("zstd_line_reader.zst");
  FuzzInput input(data, size);
  const std::uint64_t batch_size = BatchSizeFromByte(input.TakeByte());
  const Stop stop = StopFromByte(input.TakeByte());
  const Case built = BuildCase(input);
  scratch.Write(built.file);

  const util::Result<std::vector<std::uint8_t>> whole = DecompressZstdFile(scratch.path());
  const Reading full = Read(scratch.path(), batch_size, Stop{});
  CheckBatchSizes(full.batches, batch_size);
  CheckReadersAgree(whole, full, built.file.size());
  CheckExpectations(built, whole);
  if (stop.at != 0) CheckStoppedRead(full, Read(scratch.path(), batch_size, stop), stop);
  return 0;
}
