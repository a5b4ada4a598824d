#include "io/positional_read_engine.h"

#include <unistd.h>

#include <cerrno>

namespace boardmill::io {

int PositionalReadEngine::StartRead(int file_descriptor, std::uint32_t slot,
                                    std::uint8_t* destination, std::uint32_t length,
                                    std::uint64_t offset) {
  ssize_t transferred = 0;
  do {
    transferred = pread(file_descriptor, destination, length, static_cast<off_t>(offset));
  } while (transferred < 0 && errno == EINTR);
  finished_.push_back(ReadCompletion{slot, transferred < 0 ? -errno : transferred});
  return 0;
}

int PositionalReadEngine::WaitForCompletion(ReadCompletion& completion) {
  // Waiting with nothing started would never end.
  if (finished_.empty()) return EDEADLK;
  completion = finished_.back();
  finished_.pop_back();
  return 0;
}

bool PositionalReadEngine::CancelAndDrain(std::span<const std::uint32_t>) {
  finished_.clear();
  return true;
}

}  // namespace boardmill::io
