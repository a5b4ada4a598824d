#include "util/background_syncs.h"

#include "util/file_sync.h"

namespace boardmill::util {

BackgroundSyncs::BackgroundSyncs(std::string write_failure)
    : write_failure_(std::move(write_failure)) {
  threads_.reserve(kThreads);
  for (std::size_t thread = 0; thread < kThreads; ++thread) {
    threads_.emplace_back([this] { SyncUntilClosed(); });
  }
}

BackgroundSyncs::~BackgroundSyncs() { static_cast<void>(Finish()); }

void BackgroundSyncs::Add(UniqueFile file, std::filesystem::path path) {
  {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return held_ < kThreads; });
    waiting_.push_back({std::move(file), std::move(path)});
    ++held_;
  }
  wake_.notify_one();
}

Result<void> BackgroundSyncs::Finish() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  if (failure_) return Fail(*failure_);
  return {};
}

void BackgroundSyncs::SyncUntilClosed() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return closed_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    Finished finished = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    Result<void> synced = SyncAndClose(std::move(finished));
    lock.lock();
    if (!synced && !failure_) failure_ = synced.error();
    --held_;
    room_.notify_one();
  }
}

// Takes the file, so that it is closed, whatever happens, before it stops counting as held.
Result<void> BackgroundSyncs::SyncAndClose(Finished finished) const {
  if (Result<void> synced = SyncFile(finished.file.get(), finished.path); !synced) return synced;
  // The close can still report a failed write that the sync did not see; a shard that silently
  // lost its tail would otherwise pass as written.
  if (std::fclose(finished.file.release()) != 0)
    return Fail(write_failure_ + finished.path.string());
  return {};
}

}  // namespace boardmill::util
