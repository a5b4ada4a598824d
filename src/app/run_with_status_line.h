#pragma once

#include <optional>
#include <type_traits>

#include "app/progress_option.h"
#include "app/status_line.h"

namespace boardmill::app {

// Runs `run` on `options` under the status line `choice` asks for, which a `Status` composes from
// the counters the run keeps. The run is given the counters only when the line is shown, so that
// a run nobody watches counts nothing; the line is gone before the outcome is returned.
template <typename Status, typename Options, typename Run>
auto RunWithStatusLine(ProgressChoice choice, Options options, Run run) {
  std::remove_pointer_t<decltype(options.progress)> progress;
  const std::optional<StatusLineStyle> style = ChooseStatusLineStyle(choice);
  options.progress = style ? &progress : nullptr;
  Status status(progress);
  StatusLine status_line(style, [&status](double elapsed) { return status.Compose(elapsed); });
  auto outcome = run(options);
  status_line.Stop();
  return outcome;
}

}  // namespace boardmill::app
