#include "app/decode_shards_command.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/console_lines.h"
#include "app/decode_options.h"
#include "app/usage.h"
#include "chess/fen_format.h"
#include "chess/packed_sfen.h"
#include "chess/position.h"
#include "io/run_locks.h"
#include "run/unfinished_run.h"
#include "shards/shard_files.h"
#include "shards/shard_record_reader.h"
#include "util/result.h"

namespace boardmill::app {

namespace {

namespace fs = std::filesystem;

// The directory the shards come from: the target, or the directory of a shard file.
fs::path ShardDirectoryOf(const fs::path& target) {
  std::error_code unknown;
  if (fs::is_directory(target, unknown)) return target;
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The shard files to print: a directory's, checked against its index when it has one, or the one
// file given.
util::Result<std::vector<shards::ListedShardFile>> ShardFilesOf(const fs::path& target) {
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  if (status.type() == fs::file_type::not_found) {
    return util::Fail("No such shard file or directory: " + target.string());
  }
  if (error) return util::Fail("Failed to check " + target.string() + ": " + error.message());
  if (fs::is_directory(status)) return shards::ListShardFilesWithIndex(target);
  return std::vector<shards::ListedShardFile>{{target, std::nullopt}};
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

// Prints the records of shard files one by one, as FEN or with --hex as the record's bytes. A
// record is decoded in either form, so that --hex stops at the same bad record.
class ShardPrinter {
 public:
  ShardPrinter(const DecodeRequest& request, LineOutput& output)
      : hex_(request.hex), limit_(request.limit), output_(output) {}

  // False in the value when the output has stopped (limit reached, reader gone, or a write
  // failed).
  util::Result<bool> PrintFile(const shards::ListedShardFile& file) {
    if (LimitReached()) return false;
    return reader_.ReadFile(
        file.path,
        [this](const chess::PackedSfen& record, const chess::Position& position) {
          const bool written =
              output_.Write(hex_ ? chess::FormatPackedSfenHex(record) : chess::FormatFen(position));
          ++printed_;
          return written && !LimitReached();
        },
        file.listed ? &*file.listed : nullptr);
  }

 private:
  bool LimitReached() const { return limit_ && printed_ >= *limit_; }

  const bool hex_;
  const std::optional<std::uint64_t> limit_;
  LineOutput& output_;
  shards::ShardRecordReader reader_;
  std::uint64_t printed_ = 0;
};

}  // namespace

int RunDecodeShards(int argc, char** argv) {
  DecodeRequest request;
  const util::Result<void> parsed = ParseDecodeOptions(argc, argv, request);
  if (!parsed) return RefuseCommandLine(parsed.error());
  // A closed pipe then shows as a failed write, which ends the output quietly, instead of a
  // signal that would end the process wherever it is.
  std::signal(SIGPIPE, SIG_IGN);
  const fs::path directory = ShardDirectoryOf(request.target);
  // Shared, like verify-shards: reading shards while a run rewrites them would show a mix.
  const util::Result<io::FileLock> lock = io::LockDirectoryForReading(directory, "shard directory");
  if (!lock) return PrintErrorLine(lock.error());
  if (!request.allow_unfinished) {
    const util::Result<void> finished = run::RefuseUnfinishedRun(directory);
    if (!finished) return PrintErrorLine(finished.error());
  }
  const util::Result<std::vector<shards::ListedShardFile>> files = ShardFilesOf(request.target);
  if (!files) return PrintErrorLine(files.error());

  LineOutput output;
  ShardPrinter printer(request, output);
  for (const shards::ListedShardFile& file : *files) {
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
