#include "run/acquire_run_locks.h"

#include "io/create_directories.h"

namespace boardmill::run {

namespace {

namespace fs = std::filesystem;

util::Result<void> LockDirectory(io::RunLocks& locks, const LockedPlace& place) {
  util::Result<void> created = io::CreateDirectories(place.path, place.creation_failure);
  if (!created) return created;
  return locks.LockDirectory(place.path, place.role);
}

util::Result<void> LockFile(io::RunLocks& locks, const LockedPlace& place) {
  if (place.path.has_parent_path()) {
    util::Result<void> created =
        io::CreateDirectories(place.path.parent_path(), place.creation_failure);
    if (!created) return created;
  }
  return locks.LockFile(place.path, place.role);
}

util::Result<void> LockPlace(io::RunLocks& locks, const LockedPlace& place) {
  if (place.path.empty() || !locks.IsOutsideOutput(place.path)) return {};
  return place.kind == LockedPlace::Kind::kDirectory ? LockDirectory(locks, place)
                                                     : LockFile(locks, place);
}

}  // namespace

util::Result<io::RunLocks> AcquireRunLocks(const fs::path& output_directory,
                                           std::span<const LockedPlace> places) {
  io::RunLocks locks;
  util::Result<void> locked = locks.LockOutputDirectory(output_directory);
  for (const LockedPlace& place : places) {
    if (!locked) break;
    locked = LockPlace(locks, place);
  }
  if (!locked) return std::move(locked).TakeError();
  return locks;
}

}  // namespace boardmill::run
