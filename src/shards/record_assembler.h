#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "chess/packed_sfen.h"
#include "util/result.h"

namespace boardmill::shards {

// Cuts decompressed shard bytes, handed over in chunks of any size, into whole records, so that
// a reader keeps one record in memory however large the shard inflates.
class RecordAssembler {
 public:
  // Hands every record that `chunk` completes to `take`, a callable taking the record and
  // returning util::Result<bool>. A failure or a false from `take` stops at that record and is
  // returned; otherwise true.
  template <typename Take>
  util::Result<bool> Feed(std::span<const std::uint8_t> chunk, Take&& take) {
    while (!chunk.empty()) {
      const std::size_t count = std::min(record_.bytes.size() - filled_, chunk.size());
      std::memcpy(record_.bytes.data() + filled_, chunk.data(), count);
      filled_ += count;
      chunk = chunk.subspan(count);
      if (filled_ < record_.bytes.size()) break;
      filled_ = 0;
      util::Result<bool> taken = take(record_);
      if (!taken || !*taken) return taken;
    }
    return true;
  }

  // Bytes of a record begun but not completed: nonzero when the data ends inside a record.
  std::size_t partial_bytes() const { return filled_; }
  void Reset() { filled_ = 0; }

 private:
  chess::PackedSfen record_;
  std::size_t filled_ = 0;
};

}  // namespace boardmill::shards
