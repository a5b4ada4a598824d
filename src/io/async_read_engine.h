#pragma once

#include <cstdint>
#include <span>

namespace boardmill::io {

// The end of one started read: the slot it was started for and the bytes it transferred, or
// the negated errno when it failed.
struct ReadCompletion {
  std::uint32_t slot = 0;
  std::int64_t result = 0;
};

// Starts positional reads of open files and reports when they end, in whatever order the
// system finishes them. The chunk reader keeps the order; an engine only moves bytes. One engine
// serves one file after another, so that its set-up is paid once per reading thread.
class AsyncReadEngine {
 public:
  virtual ~AsyncReadEngine() = default;

  // Starts reading `length` bytes at `offset` of `file_descriptor` into `destination`, which
  // must stay valid until the read's completion has been returned. Returns 0, or the errno of a
  // read that could not be started (nothing is then in flight for `slot`).
  virtual int StartRead(int file_descriptor, std::uint32_t slot, std::uint8_t* destination,
                        std::uint32_t length, std::uint64_t offset) = 0;

  // Blocks until a started read has ended and stores its completion. Returns 0, or the errno
  // of a wait that failed.
  virtual int WaitForCompletion(ReadCompletion& completion) = 0;

  // Asks the system to stop the reads still running for `pending_slots` and waits until every
  // one of them has ended. Returns false when that could not be confirmed: their buffers must
  // then never be freed.
  virtual bool CancelAndDrain(std::span<const std::uint32_t> pending_slots) = 0;
};

}  // namespace boardmill::io
