#pragma once

#include <atomic>
#include <cstdint>

namespace boardmill::util {

// Helpers for counters that many threads update and others read while they run. Relaxed ordering
// is enough throughout: these values are statistics and publish no other data.

// Adds `amount` to a shared double. std::atomic<double>::fetch_add is not available everywhere we
// build, so the sum is updated with a compare-and-swap loop.
inline void AtomicAdd(std::atomic<double>& target, double amount) {
  double current = target.load(std::memory_order_relaxed);
  while (!target.compare_exchange_weak(current, current + amount, std::memory_order_relaxed)) {
  }
}

// Raises a shared maximum to `value` where `value` is larger.
inline void AtomicRaise(std::atomic<std::uint64_t>& maximum, std::uint64_t value) {
  std::uint64_t current = maximum.load(std::memory_order_relaxed);
  while (value > current &&
         !maximum.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
  }
}

}  // namespace boardmill::util
