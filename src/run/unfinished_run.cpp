#include "run/unfinished_run.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "io/run_locks.h"
#include "run/run_outcome_files.h"
#include "util/regular_file.h"

namespace boardmill::run {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRunStart = "run\tstart\t";
constexpr std::string_view kRunFinish = "run\tfinish\t";

bool IsPresent(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

// Whether the manifest's last run record is a start: a run began and wrote no finish. Only the
// first bytes of each line are kept, so a manifest of any size or line length reads in the same
// memory.
util::Result<bool> EndsWithRunStart(const fs::path& path) {
  util::Result<util::UniqueFile> file = util::OpenRegularFile(path, "run manifest");
  if (!file) return std::move(file).TakeError();
  bool started = false;
  std::string head;
  const auto end_line = [&] {
    if (head.starts_with(kRunStart)) started = true;
    if (head.starts_with(kRunFinish)) started = false;
    head.clear();
  };
  char buffer[1 << 16];
  while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, file->get())) {
    for (const char c : std::string_view(buffer, read)) {
      if (c == '\n') {
        end_line();
      } else if (head.size() < kRunFinish.size()) {
        head.push_back(c);
      }
    }
  }
  if (std::ferror(file->get())) return util::Fail("Failed to read run manifest: " + path.string());
  end_line();
  return started;
}

// What shows that the run writing `directory` did not finish; empty when nothing does.
util::Result<std::optional<std::string>> UnfinishedRunMark(const fs::path& directory) {
  if (IsPresent(directory / kRunSummaryFileName)) return std::optional<std::string>();
  const fs::path manifest = directory / kDefaultManifestFileName;
  if (IsPresent(manifest)) {
    const util::Result<bool> started = EndsWithRunStart(manifest);
    if (!started) return util::Fail(started.error());
    if (*started)
      return std::optional<std::string>(std::string(kDefaultManifestFileName) +
                                        " ends with a run start");
  }
  for (const char* name : {kDefaultScratchDirectoryName, io::kLockFileName}) {
    if (IsPresent(directory / name)) return std::optional<std::string>(std::string(name));
  }
  return std::optional<std::string>();
}

}  // namespace

util::Result<void> RefuseUnfinishedRun(const fs::path& directory) {
  const util::Result<std::optional<std::string>> mark = UnfinishedRunMark(directory);
  if (!mark) return util::Fail(mark.error());
  if (!*mark) return {};
  return util::Fail("Shard directory holds a run that did not finish (" + **mark + ", no " +
                    kRunSummaryFileName + "): " + directory.string() +
                    " (--allow-unfinished reads it anyway)");
}

}  // namespace boardmill::run
