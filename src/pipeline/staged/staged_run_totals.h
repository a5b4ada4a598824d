#pragma once

#include <mutex>

#include "pipeline/conversion_summary.h"

namespace boardmill::pipeline {

// A staged run's totals behind one mutex. Stage threads add their share once per item or batch.
class StagedRunTotals {
 public:
  void Add(const ConversionTotals& delta) {
    const std::lock_guard lock(mutex_);
    totals_ += delta;
  }

  ConversionTotals Read() const {
    const std::lock_guard lock(mutex_);
    return totals_;
  }

 private:
  mutable std::mutex mutex_;
  ConversionTotals totals_;
};

}  // namespace boardmill::pipeline
