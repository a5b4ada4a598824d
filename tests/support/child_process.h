#pragma once

// boardmill started in the background, for the tests that signal a run, pause it, or start
// another command while it goes on.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "conversion_run_support.h"

namespace boardmill::testing {

// boardmill running in the background, standard output discarded, with SIGINT and SIGTERM at
// their default disposition and unblocked, whatever the test runner inherited, so that the test
// sees the program's own reaction. A child still running when the object goes away is killed.
class Child {
 public:
  explicit Child(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {BOARDMILL_BINARY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  // `convert input output --min-free-space-gib 0` followed by `extra`.
  Child(const std::filesystem::path& input, const std::filesystem::path& output,
        const std::vector<std::string>& extra)
      : Child(ConvertArguments(input, output, extra)) {}
  ~Child() {
    if (Running()) {
      kill(pid_, SIGKILL);
      Reap(0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  bool Running() { return started() && !status_ && !Reap(WNOHANG); }

  // Polls `condition` every millisecond while the child runs; false when the child ended first
  // or two minutes passed.
  template <typename Condition>
  bool WaitWhileRunning(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!Running()) return false;
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // Stops the child with SIGSTOP where it is; false when it had ended before.
  bool Pause() {
    if (!Running()) return false;
    kill(pid_, SIGSTOP);
    int status = 0;
    if (waitpid(pid_, &status, WUNTRACED) != pid_) return false;
    if (WIFSTOPPED(status)) return true;
    status_ = status;
    return false;
  }
  void Resume() { kill(pid_, SIGCONT); }

  // Waits for the child to end on its own.
  void Wait() {
    if (Running()) Reap(0);
  }

  // Sends `signal` and waits for the child to end; the seconds from the signal to the end.
  double SignalAndWait(int signal) {
    const auto sent = std::chrono::steady_clock::now();
    kill(pid_, signal);
    Reap(0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  }

  bool KilledBy(int signal) const {
    return status_ && WIFSIGNALED(*status_) && WTERMSIG(*status_) == signal;
  }
  bool ExitedWith(int code) const {
    return status_ && WIFEXITED(*status_) && WEXITSTATUS(*status_) == code;
  }
  // The child's own peak resident set size, once it has ended.
  std::uint64_t PeakRssKib() const { return peak_rss_kib_; }

 private:
  bool Reap(int options) {
    int status = 0;
    rusage usage{};
    if (wait4(pid_, &status, options, &usage) != pid_) return false;
    status_ = status;
    peak_rss_kib_ = static_cast<std::uint64_t>(usage.ru_maxrss);
    return true;
  }

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::uint64_t peak_rss_kib_ = 0;
};

}  // namespace boardmill::testing
