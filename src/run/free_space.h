#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace boardmill::run {

// True when the space available to this process on the volume holding `directory` is at least
// `min_bytes`; otherwise false with `message` filled in. The volume is queried even for a
// minimum of 0, so an unusable directory still fails. Keeps no state; safe from any thread.
bool HasEnoughFreeSpace(const std::filesystem::path& directory, std::uint64_t min_bytes,
                        std::string& message);

}  // namespace boardmill::run
