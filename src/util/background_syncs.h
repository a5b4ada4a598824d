#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::util {

// Syncs and closes finished output files on threads of its own, so that the writer goes on to
// its next file instead of waiting for the disk. Several syncs in flight at once also let the
// file system commit their metadata together, where one sync after another pays for a journal
// commit each. The writer calls Finish before anything vouches for the files.
class BackgroundSyncs {
 public:
  // Syncs wait for the disk, not for a core, so there are more of these threads than cores;
  // eight in flight let the journal gather most of a run's shards into a few commits.
  static constexpr std::size_t kThreads = 8;

  // A close that fails reports `write_failure` followed by the file's path.
  explicit BackgroundSyncs(std::string write_failure);
  BackgroundSyncs(const BackgroundSyncs&) = delete;
  BackgroundSyncs& operator=(const BackgroundSyncs&) = delete;
  // Waits for the files already handed over; a writer that gave up has no use for the result.
  ~BackgroundSyncs();

  // Takes a file whose writes are done; it is synced and closed later. Waits while kThreads
  // files are held already: the writer's next file must not find the open-file limit spent on
  // files that wait for the disk.
  void Add(UniqueFile file, std::filesystem::path path);
  // Waits until every file handed over is synced and closed; the first failure, if any.
  Result<void> Finish();

 private:
  struct Finished {
    UniqueFile file;
    std::filesystem::path path;
  };

  void SyncUntilClosed();
  Result<void> SyncAndClose(Finished finished) const;

  std::string write_failure_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a file waits, or the writer is done
  std::condition_variable room_;  // a file was synced and closed
  std::deque<Finished> waiting_;
  std::size_t held_ = 0;  // files waiting or being synced
  bool closed_ = false;
  std::optional<std::string> failure_;
  std::vector<std::thread> threads_;
};

}  // namespace boardmill::util
