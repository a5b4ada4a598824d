#include "app/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace boardmill::app {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{250};
constexpr std::chrono::milliseconds kLogInterval{10'000};

// Asked at every frame, so that a resized terminal gets lines that fit it.
std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

// One write per frame, straight to the descriptor: a frame never sits in a buffer, and a
// failed write (a closed or full standard error) costs the frame and nothing else.
void WriteToStandardError(const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = write(STDERR_FILENO, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return;
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace

StatusLine::StatusLine(std::optional<StatusLineStyle> style, StatusComposer compose) {
  if (!style) return;
  painter_.emplace(*style);
  interval_ = *style == StatusLineStyle::kRedrawn ? kRedrawInterval : kLogInterval;
  compose_ = std::move(compose);
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    // A full interval after each frame, even one that a slow terminal held up: never a burst.
    while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
      lock.unlock();
      Draw();
      lock.lock();
    }
  });
}

void StatusLine::Draw() {
  WriteToStandardError(painter_->Frame(compose_(clock_.ElapsedSeconds()), TerminalColumns()));
}

void StatusLine::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  WriteToStandardError(painter_->Erase());
}

}  // namespace boardmill::app
