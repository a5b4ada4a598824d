#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "io/async_read_engine.h"

namespace boardmill::io {

// Reads with pread on the calling thread, for kernels or containers without io_uring. A read
// has ended before `StartRead` returns, so completions are only bookkeeping.
class PositionalReadEngine final : public AsyncReadEngine {
 public:
  int StartRead(int file_descriptor, std::uint32_t slot, std::uint8_t* destination,
                std::uint32_t length, std::uint64_t offset) override;
  int WaitForCompletion(ReadCompletion& completion) override;
  bool CancelAndDrain(std::span<const std::uint32_t> pending_slots) override;

 private:
  // Handed back newest first: the chunk reader delivers by offset, so the order does not
  // matter to it, and a stack is the cheapest container.
  std::vector<ReadCompletion> finished_;
};

}  // namespace boardmill::io
