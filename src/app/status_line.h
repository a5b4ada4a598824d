#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/status_line_painter.h"
#include "util/stopwatch.h"

namespace boardmill::app {

// The status text of the moment, given the seconds since the line started. Called on the status
// line's own thread: it may only read what the work publishes for it (atomics).
using StatusComposer = std::function<std::string(double elapsed_seconds)>;

// A status line on standard error, drawn by a thread of its own: every 250 ms when redrawn on a
// terminal, every 10 seconds when logged. The work never waits for it.
class StatusLine {
 public:
  // Starts drawing, unless `style` is empty, in which case the object does nothing at all.
  StatusLine(std::optional<StatusLineStyle> style, StatusComposer compose);
  ~StatusLine() { Stop(); }
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // Ends the thread and erases a redrawn line, so that whatever is printed next (the report,
  // or an error) starts on a clean line. Call it before printing anything.
  void Stop();

 private:
  void Draw();

  std::optional<StatusLinePainter> painter_;
  std::chrono::milliseconds interval_{0};
  StatusComposer compose_;
  util::Stopwatch clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace boardmill::app
