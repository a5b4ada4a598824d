#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace boardmill::util {

// An allocator whose resize leaves new elements uninitialised instead of zeroing them: for
// buffers that a read or a decompressor fills before anything reads them, where zeroing first
// would touch every byte once more for nothing.
template <typename T>
class UninitializedAllocator : public std::allocator<T> {
 public:
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };

  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}  // NOLINT: implicit

  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

// Bytes that grow without being zeroed.
using UninitializedBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

}  // namespace boardmill::util
