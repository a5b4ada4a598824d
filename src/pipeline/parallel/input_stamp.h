#pragma once

#include <cstdint>
#include <filesystem>

namespace boardmill::pipeline {

// What tells a resumed run that an input file changed after an earlier run converted it: its
// size and its modification time, in nanoseconds since the epoch. Neither is a proof of the
// same content, but an edit, a replacement or a copy over the file changes at least one.
struct InputStamp {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;

  friend bool operator==(const InputStamp&, const InputStamp&) = default;
};

// The stamp of `path` now; a file that cannot be examined gets the zero stamp, which matches no
// file that a run converted.
InputStamp StampOf(const std::filesystem::path& path);

}  // namespace boardmill::pipeline
