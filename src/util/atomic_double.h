#pragma once

#include <atomic>

namespace boardmill::util {

// Adds `amount` to a shared double. std::atomic<double>::fetch_add is not available everywhere we
// build, so the sum is updated with a compare-and-swap loop. Relaxed ordering is enough: these
// sums are statistics and publish no other data.
inline void AtomicAdd(std::atomic<double>& target, double amount) {
  double current = target.load(std::memory_order_relaxed);
  while (!target.compare_exchange_weak(current, current + amount, std::memory_order_relaxed)) {
  }
}

}  // namespace boardmill::util
