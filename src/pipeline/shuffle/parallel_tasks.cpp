#include "pipeline/shuffle/parallel_tasks.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace boardmill::shuffle {

util::Result<void> RunTasksInParallel(
    std::uint64_t threads, std::uint64_t task_count,
    const std::function<util::Result<void>(std::uint64_t task, std::uint64_t worker)>& run) {
  std::atomic<std::uint64_t> next_task{0};
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  std::optional<util::Error> failure;
  const auto work = [&](std::uint64_t worker) {
    for (;;) {
      const std::uint64_t task = next_task.fetch_add(1);
      if (task >= task_count || failed.load()) return;
      util::Result<void> done = run(task, worker);
      if (done) continue;
      const std::lock_guard<std::mutex> lock(failure_mutex);
      if (!failure) failure = std::move(done).TakeError();
      failed.store(true);
      return;
    }
  };
  const std::uint64_t used =
      std::clamp<std::uint64_t>(threads, 1, std::max<std::uint64_t>(task_count, 1));
  std::vector<std::jthread> helpers;
  helpers.reserve(used - 1);
  for (std::uint64_t worker = 1; worker < used; ++worker) helpers.emplace_back(work, worker);
  work(0);
  helpers.clear();  // joins
  if (failure) return *failure;
  return {};
}

}  // namespace boardmill::shuffle
