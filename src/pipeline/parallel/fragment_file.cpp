#include "pipeline/parallel/fragment_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>

#include "io/input_discovery.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "BMFRAG02";
constexpr std::size_t kEntryWords = 4;
// The totals, then line_batch_size, records_per_flush and compression_level.
constexpr std::size_t kFileWords = kTotalsFields.size() + 3;
constexpr std::size_t kFooterWords = 6;
constexpr std::size_t kWordBytes = 8;
constexpr std::size_t kFooterBytes = kFooterWords * kWordBytes + kMagic.size();
constexpr std::size_t kIndexDigits = 6;

void AppendWord(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (std::size_t byte = 0; byte < kWordBytes; ++byte) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
  }
}

std::uint64_t ReadWord(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (std::size_t byte = 0; byte < kWordBytes; ++byte) {
    value |= std::uint64_t{bytes[byte]} << (8 * byte);
  }
  return value;
}

std::uint64_t Word(std::uint64_t value) { return value; }
std::uint64_t Word(double value) { return std::bit_cast<std::uint64_t>(value); }
void FromWord(std::uint64_t word, std::uint64_t& value) { value = word; }
void FromWord(std::uint64_t word, double& value) { value = std::bit_cast<double>(word); }

void AppendFileEntry(std::vector<std::uint8_t>& out, const FileProcessingSummary& file,
                     const fs::path& input_directory) {
  for (const TotalsField& field : kTotalsFields) {
    UseField(field, file, [&out](auto value) { AppendWord(out, Word(value)); });
  }
  for (const std::uint64_t word :
       {file.line_batch_size, file.records_per_flush,
        static_cast<std::uint64_t>(static_cast<std::int64_t>(file.compression_level))}) {
    AppendWord(out, word);
  }
  const std::string name = io::RelativeInputPath(file.input_path, input_directory);
  AppendWord(out, name.size());
  out.insert(out.end(), name.begin(), name.end());
}

// Reads one file entry at `at`, advancing it; false when the entry runs past `end`.
bool ReadFileEntry(const std::uint8_t*& at, const std::uint8_t* end, FileProcessingSummary& file) {
  if (static_cast<std::size_t>(end - at) < (kFileWords + 1) * kWordBytes) return false;
  const auto next_word = [&at] {
    const std::uint64_t word = ReadWord(at);
    at += kWordBytes;
    return word;
  };
  for (const TotalsField& field : kTotalsFields) {
    UseField(field, file, [&next_word](auto& value) { FromWord(next_word(), value); });
  }
  file.line_batch_size = next_word();
  file.records_per_flush = next_word();
  file.compression_level = static_cast<std::int32_t>(static_cast<std::int64_t>(next_word()));
  const std::uint64_t name_length = next_word();
  if (name_length > static_cast<std::uint64_t>(end - at)) return false;
  file.input_path = std::string(reinterpret_cast<const char*>(at), name_length);
  at += name_length;
  return true;
}

std::string Padded(std::uint64_t value) {
  std::string digits = std::to_string(value);
  if (digits.size() < kIndexDigits) digits.insert(0, kIndexDigits - digits.size(), '0');
  return digits;
}

util::Error Damaged(const fs::path& path) {
  return util::Fail("Damaged fragment file: " + path.string());
}

// Frames must lie in order, without overlap, before the index.
bool FramesFit(const std::vector<FragmentFrame>& frames, std::uint64_t index_offset) {
  std::uint64_t end = 0;
  for (const FragmentFrame& frame : frames) {
    if (frame.offset < end || frame.size > index_offset - frame.offset) return false;
    end = frame.offset + frame.size;
  }
  return true;
}

}  // namespace

fs::path FragmentPath(const fs::path& root, const FileGroup& group) {
  const std::uint64_t last_file =
      group.first_file + (group.file_count == 0 ? 0 : group.file_count - 1);
  return root / ("files-" + Padded(group.first_file) + "-" + Padded(last_file) + kFragmentSuffix);
}

fs::path RejectPartPath(const fs::path& fragment_path) {
  return fs::path(fragment_path).replace_extension(kRejectPartSuffix);
}

util::Result<void> FragmentFileWriter::Open(const fs::path& path) {
  path_ = path;
  if (!file_.Open(path)) {
    return util::Fail("Failed to open fragment file: " + file_.partial_path().string());
  }
  offset_ = 0;
  frames_.clear();
  write_seconds_ = 0.0;
  return {};
}

util::Result<void> FragmentFileWriter::AppendFrame(
    std::uint64_t shard, std::uint64_t records,
    std::span<const std::span<const std::uint8_t>> pages, std::int32_t level,
    compression::ZstdFrameCompressor& compressor) {
  const std::uint64_t start = offset_;
  util::Result<std::uint64_t> compressed = compressor.CompressFrame(
      level, pages, [this](std::span<const std::uint8_t> bytes) { return Write(bytes); });
  if (!compressed) return std::move(compressed).TakeError();
  frames_.push_back({shard, start, *compressed, records});
  return {};
}

util::Result<void> FragmentFileWriter::Write(std::span<const std::uint8_t> bytes) {
  const util::Stopwatch clock;
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
  write_seconds_ += clock.ElapsedSeconds();
  if (written != bytes.size()) return WriteFailure();
  offset_ += bytes.size();
  return {};
}

util::Error FragmentFileWriter::WriteFailure() const {
  return util::Fail("Failed to write fragment file: " + file_.partial_path().string());
}

util::Result<void> FragmentFileWriter::Commit(std::uint64_t first_file,
                                              std::span<const FileProcessingSummary> files,
                                              std::uint64_t reject_rows,
                                              const fs::path& input_directory) {
  std::vector<std::uint8_t> tail;
  for (const FragmentFrame& frame : frames_) {
    for (const std::uint64_t word : {frame.shard, frame.offset, frame.size, frame.records}) {
      AppendWord(tail, word);
    }
  }
  const std::uint64_t files_offset = offset_ + tail.size();
  for (const FileProcessingSummary& file : files) AppendFileEntry(tail, file, input_directory);
  for (const std::uint64_t word :
       {first_file, static_cast<std::uint64_t>(files.size()), reject_rows,
        static_cast<std::uint64_t>(frames_.size()), offset_, files_offset}) {
    AppendWord(tail, word);
  }
  tail.insert(tail.end(), kMagic.begin(), kMagic.end());
  const util::Stopwatch clock;
  const bool written = std::fwrite(tail.data(), 1, tail.size(), file_.get()) == tail.size();
  if (!written) return WriteFailure();
  const util::PartialFile::Commit committed = file_.Finish();
  write_seconds_ += clock.ElapsedSeconds();
  if (committed == util::PartialFile::Commit::kNotWritten) return WriteFailure();
  if (committed == util::PartialFile::Commit::kNotRenamed) {
    return util::Fail("Failed to commit fragment file: " + path_.string());
  }
  return {};
}

util::Result<FragmentIndex> ReadFragmentIndex(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return util::Fail("Failed to open fragment file: " + path.string());
  file.seekg(0, std::ios::end);
  const std::uint64_t size = static_cast<std::uint64_t>(std::max<std::streamoff>(file.tellg(), 0));
  if (size < kFooterBytes) return Damaged(path);
  std::array<std::uint8_t, kFooterBytes> footer{};
  file.seekg(static_cast<std::streamoff>(size - kFooterBytes));
  file.read(reinterpret_cast<char*>(footer.data()), footer.size());
  const std::string_view magic(
      reinterpret_cast<const char*>(footer.data()) + kFooterWords * kWordBytes, kMagic.size());
  if (!file || magic != kMagic) return Damaged(path);

  FragmentIndex index;
  index.first_file = ReadWord(&footer[0]);
  const std::uint64_t file_count = ReadWord(&footer[8]);
  index.reject_rows = ReadWord(&footer[16]);
  const std::uint64_t frame_count = ReadWord(&footer[24]);
  const std::uint64_t frames_offset = ReadWord(&footer[32]);
  const std::uint64_t files_offset = ReadWord(&footer[40]);
  const std::uint64_t entry_bytes = kEntryWords * kWordBytes;
  const std::uint64_t index_end = size - kFooterBytes;
  if (frames_offset > files_offset || files_offset > index_end || file_count == 0 ||
      (files_offset - frames_offset) / entry_bytes != frame_count ||
      (files_offset - frames_offset) % entry_bytes != 0) {
    return Damaged(path);
  }
  std::vector<std::uint8_t> entries(index_end - frames_offset);
  file.seekg(static_cast<std::streamoff>(frames_offset));
  file.read(reinterpret_cast<char*>(entries.data()), static_cast<std::streamsize>(entries.size()));
  if (!file) return Damaged(path);

  index.frames.resize(frame_count);
  for (std::uint64_t frame = 0; frame < frame_count; ++frame) {
    const std::uint8_t* entry = entries.data() + frame * entry_bytes;
    index.frames[frame] = {ReadWord(entry), ReadWord(entry + 8), ReadWord(entry + 16),
                           ReadWord(entry + 24)};
  }
  const std::uint8_t* at = entries.data() + (files_offset - frames_offset);
  const std::uint8_t* const end = entries.data() + entries.size();
  index.files.resize(file_count < entries.size() ? file_count : 0);
  for (std::uint64_t offset = 0; offset < index.files.size(); ++offset) {
    FileProcessingSummary& summary = index.files[offset];
    summary.file_index = index.first_file + offset;
    if (!ReadFileEntry(at, end, summary)) return Damaged(path);
  }
  if (index.files.size() != file_count || at != end || !FramesFit(index.frames, frames_offset)) {
    return Damaged(path);
  }
  return index;
}

}  // namespace boardmill::pipeline
