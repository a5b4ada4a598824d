#pragma once

#include <liburing.h>

#include <cstdint>
#include <memory>
#include <span>

#include "io/async_read_engine.h"

namespace boardmill::io {

class IoUringReadEngine;

// The outcome of setting up io_uring: an engine, or the errno that makes it unusable here.
struct IoUringSetup {
  std::unique_ptr<IoUringReadEngine> engine;
  int error = 0;
};

// Reads through one io_uring instance with room for `depth` reads at a time. Every read is
// submitted as soon as it is prepared, so the submission queue never holds more than the
// cancellations of a failure path.
class IoUringReadEngine final : public AsyncReadEngine {
 public:
  // Fails when the kernel refuses io_uring (ENOSYS or EPERM in many containers) or lacks the
  // read operation.
  static IoUringSetup Create(std::uint32_t depth);

  ~IoUringReadEngine() override;
  IoUringReadEngine(const IoUringReadEngine&) = delete;
  IoUringReadEngine& operator=(const IoUringReadEngine&) = delete;

  int StartRead(int file_descriptor, std::uint32_t slot, std::uint8_t* destination,
                std::uint32_t length, std::uint64_t offset) override;
  int WaitForCompletion(ReadCompletion& completion) override;
  bool CancelAndDrain(std::span<const std::uint32_t> pending_slots) override;

 private:
  IoUringReadEngine() = default;

  void QueueCancellation(std::uint32_t slot);

  io_uring ring_{};
  bool ring_ready_ = false;
};

}  // namespace boardmill::io
