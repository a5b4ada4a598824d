#include "watched_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace boardmill::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::size_t Occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void ExecBoardmill(const std::vector<char*>& argv) {
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

WatchedRun::WatchedRun(StandardError standard_error, const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {BOARDMILL_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  if (standard_error == StandardError::kTerminal) {
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    pid_ = forkpty(&descriptor_, nullptr, nullptr, &size);
    if (pid_ == 0) ExecBoardmill(argv);
    return;
  }
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return;
  const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(nowhere, STDIN_FILENO);
    dup2(nowhere, STDOUT_FILENO);
    dup2(pipe_ends[1], STDERR_FILENO);
    ExecBoardmill(argv);
  }
  close(nowhere);
  close(pipe_ends[1]);
  descriptor_ = pipe_ends[0];
}

WatchedRun::~WatchedRun() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (descriptor_ >= 0) close(descriptor_);
}

bool WatchedRun::ReadSome(int timeout_ms) {
  if (ended_ || descriptor_ < 0) return false;
  pollfd watched{descriptor_, POLLIN, 0};
  if (poll(&watched, 1, timeout_ms) <= 0) return true;
  char buffer[4096];
  const ssize_t count = read(descriptor_, buffer, sizeof buffer);
  if (count < 0 && errno == EINTR) return true;
  // A terminal whose other side has closed reports EIO rather than the end of the file.
  if (count <= 0) {
    ended_ = true;
    return false;
  }
  output_.append(buffer, static_cast<std::size_t>(count));
  return true;
}

bool WatchedRun::WaitFor(std::string_view text, int times) {
  const Clock::time_point deadline = Clock::now() + std::chrono::minutes(2);
  while (Occurrences(output_, text) < static_cast<std::size_t>(times)) {
    if (Clock::now() >= deadline || !ReadSome(100)) return false;
  }
  return true;
}

int WatchedRun::Finish() {
  const Clock::time_point deadline = Clock::now() + std::chrono::minutes(2);
  while (Clock::now() < deadline && ReadSome(100)) {
  }
  if (pid_ <= 0) return -1;
  if (!ended_) kill(pid_, SIGKILL);
  int status = 0;
  const pid_t reaped = waitpid(pid_, &status, 0);
  pid_ = -1;
  return reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace boardmill::testing
