#pragma once

#include <cstdint>
#include <functional>

#include "util/result.h"

namespace boardmill::shuffle {

// Does task 0 .. task_count - 1 on `threads` threads (the calling one among them), each thread
// taking the next task when it is free; `worker` tells a task which thread runs it, so that each
// may keep resources of its own. The first failure wins: no task starts after it, and it is
// returned once every thread has ended.
util::Result<void> RunTasksInParallel(
    std::uint64_t threads, std::uint64_t task_count,
    const std::function<util::Result<void>(std::uint64_t task, std::uint64_t worker)>& run);

}  // namespace boardmill::shuffle
