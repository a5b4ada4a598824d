#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pipeline/staged/recycling_pool.h"

namespace boardmill::pipeline {

// Recycles the text buffers of decompressed slabs: a slab's string goes back to the pool when
// the last batch that shares it is done with it.
class SharedStringPool {
 public:
  explicit SharedStringPool(std::uint64_t max_free) : pool_(max_free) {}

  // An empty string with room for at least `capacity` bytes.
  std::shared_ptr<std::string> Acquire(std::uint64_t capacity) {
    std::shared_ptr<std::string> text = pool_.Acquire();
    text->reserve(capacity);
    return text;
  }

  std::uint64_t FreeCount() const { return pool_.FreeCount(); }

 private:
  RecyclingPool<std::string> pool_;
};

}  // namespace boardmill::pipeline
