#include "app/decode_shards_command.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/console_lines.h"
#include "app/decode_options.h"
#include "app/usage.h"
#include "chess/fen_format.h"
#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"
#include "io/run_locks.h"
#include "pipeline/shard_files.h"
#include "util/result.h"

namespace boardmill::app {

namespace {

namespace fs = std::filesystem;

util::Result<std::vector<fs::path>> ShardFilesOf(const fs::path& target) {
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  if (status.type() == fs::file_type::not_found) {
    return util::Fail("No such shard file or directory: " + target.string());
  }
  if (error) return util::Fail("Failed to check " + target.string() + ": " + error.message());
  if (fs::is_directory(status)) return pipeline::ListShardFiles(target);
  return std::vector<fs::path>{target};
}

// Standard output for many lines. A reader that goes away (a closed pipe: `| head`) ends the
// output quietly; any other failure to write is an error, since it would hide lost records.
class LineOutput {
 public:
  // False when output has to stop; failed() then tells whether that is an error.
  bool Write(std::string_view line) {
    if (std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
        std::fputc('\n', stdout) != EOF) {
      return true;
    }
    NoteFailure();
    return false;
  }

  bool Flush() {
    if (std::fflush(stdout) == 0) return true;
    NoteFailure();
    return false;
  }

  bool failed() const { return failure_ != 0; }
  std::string error() const {
    return std::string("Failed to write standard output: ") + std::strerror(failure_);
  }

 private:
  // A closed pipe is no fault of the output: the stream's error mark goes, so that the check of
  // standard output at the program's end does not take it for one.
  void NoteFailure() {
    if (errno == EPIPE) {
      std::clearerr(stdout);
    } else if (failure_ == 0) {
      failure_ = errno;
    }
  }

  int failure_ = 0;
};

// Prints the records of shard files one by one, counting them per file for the message that
// names a record that cannot be read.
class ShardPrinter {
 public:
  ShardPrinter(const DecodeRequest& request, LineOutput& output)
      : hex_(request.hex), limit_(request.limit), output_(output) {}

  // False in the value when the output has stopped (limit reached, reader gone, or a write
  // failed).
  util::Result<bool> PrintFile(const fs::path& path) {
    if (LimitReached()) return false;
    records_in_file_ = 0;
    filled_ = 0;
    util::Result<void> read = compression::VisitZstdFileChunks(
        path, [this](std::span<const std::uint8_t> chunk) { return TakeChunk(chunk); });
    if (read && stopped_) return false;
    if (read && filled_ != 0) {
      read = util::Fail("the data ends " + std::to_string(filled_) + " bytes into the record.");
    }
    if (!read) {
      return util::Fail("Failed to decode record " + std::to_string(records_in_file_) + " of " +
                        path.string() + ": " + read.error());
    }
    return true;
  }

 private:
  util::Result<bool> TakeChunk(std::span<const std::uint8_t> chunk) {
    while (!chunk.empty()) {
      const std::size_t take = std::min(record_.bytes.size() - filled_, chunk.size());
      std::memcpy(record_.bytes.data() + filled_, chunk.data(), take);
      filled_ += take;
      chunk = chunk.subspan(take);
      if (filled_ < record_.bytes.size()) break;
      filled_ = 0;
      util::Result<void> printed = PrintRecord();
      if (!printed) return std::move(printed).TakeError();
      if (stopped_) return false;
    }
    return true;
  }

  util::Result<void> PrintRecord() {
    // The record is decoded in either form, so that --hex stops at the same bad record.
    const util::Result<chess::Position> position = chess::DecodePackedSfen(record_);
    if (!position) return util::Fail(position.error());
    const std::string line =
        hex_ ? chess::FormatPackedSfenHex(record_) : chess::FormatFen(*position);
    stopped_ = !output_.Write(line);
    ++printed_;
    ++records_in_file_;
    stopped_ = stopped_ || LimitReached();
    return {};
  }

  bool LimitReached() const { return limit_ && printed_ >= *limit_; }

  const bool hex_;
  const std::optional<std::uint64_t> limit_;
  LineOutput& output_;
  chess::PackedSfen record_;
  std::size_t filled_ = 0;
  std::uint64_t records_in_file_ = 0;
  std::uint64_t printed_ = 0;
  bool stopped_ = false;
};

}  // namespace

int RunDecodeShards(int argc, char** argv) {
  DecodeRequest request;
  const util::Result<void> parsed = ParseDecodeOptions(argc, argv, request);
  if (!parsed) return RefuseCommandLine(parsed.error());
  // A closed pipe then shows as a failed write, which ends the output quietly, instead of a
  // signal that would end the process wherever it is.
  std::signal(SIGPIPE, SIG_IGN);
  // Shared, like verify-shards: reading shards while a run rewrites them would show a mix.
  std::error_code unknown;
  const fs::path directory =
      fs::is_directory(request.target, unknown) ? request.target : request.target.parent_path();
  const util::Result<io::FileLock> lock =
      io::LockDirectoryForReading(directory.empty() ? "." : directory, "shard directory");
  if (!lock) return PrintErrorLine(lock.error());
  const util::Result<std::vector<fs::path>> files = ShardFilesOf(request.target);
  if (!files) return PrintErrorLine(files.error());

  LineOutput output;
  ShardPrinter printer(request, output);
  for (const fs::path& file : *files) {
    const util::Result<bool> more = printer.PrintFile(file);
    if (!more) {
      output.Flush();
      return PrintErrorLine(more.error());
    }
    if (!*more) break;
  }
  output.Flush();
  return output.failed() ? PrintErrorLine(output.error()) : 0;
}

}  // namespace boardmill::app
