#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// The built boardmill binary running in the background, its standard error read as it comes:
// on a pseudo-terminal (200 columns) that is also its standard input and output, as when typed
// into a terminal, or on a pipe, with standard output going nowhere. A run still going when the
// object goes away is killed.
class WatchedRun {
 public:
  enum class StandardError { kTerminal, kPipe };

  WatchedRun(StandardError standard_error, const std::vector<std::string>& arguments);
  ~WatchedRun();
  WatchedRun(const WatchedRun&) = delete;
  WatchedRun& operator=(const WatchedRun&) = delete;

  bool started() const { return pid_ > 0; }
  // Reads until `text` has been seen `times` times; false when the output ended first or two
  // minutes passed.
  bool WaitFor(std::string_view text, int times = 1);
  // Reads to the end of the output and waits for the program; its exit code, -1 when it did
  // not exit on its own.
  int Finish();
  // Everything read so far (on a terminal, line feeds arrive as carriage return, line feed).
  const std::string& output() const { return output_; }

 private:
  // Reads what is there, waiting up to `timeout_ms`; false at the end of the output.
  bool ReadSome(int timeout_ms);

  pid_t pid_ = -1;
  int descriptor_ = -1;
  bool ended_ = false;
  std::string output_;
};

}  // namespace boardmill::testing
