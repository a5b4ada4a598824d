#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "app/command_dispatch.h"
#include "app/mpi_command.h"
#include "io/mpi_job.h"
#include "util/stream_limit.h"

namespace {

// The command, alone or as one rank of an MPI job. A launcher that started the program built
// without MPI gets no job.
int Run(const boardmill::io::MpiJob* job, int argc, char** argv) {
  boardmill::util::RaiseStreamLimit();
  if (job != nullptr && job->size() > 1) {
    return boardmill::app::DispatchAcrossRanks(*job, argc, argv);
  }
  if (job == nullptr && boardmill::io::MpiJob::LaunchedByMpi()) {
    return boardmill::app::DispatchWithoutMpiSupport(argc, argv);
  }
  return boardmill::app::DispatchCommand(argc, argv);
}

// A command that printed its result but could not deliver it (a full disk, a closed terminal) has
// failed, whatever it did before. A reader that went away early (a closed pipe) is not an error,
// and a command that failed has already said why in its one line.
int CheckStandardOutput(int exit_code) {
  errno = 0;
  const bool delivered = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (delivered || exit_code != 0 || errno == EPIPE) return exit_code;
  std::fprintf(stderr, "Failed to write standard output: %s\n",
               std::strerror(errno != 0 ? errno : EIO));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Only a process an MPI launcher started joins an MPI job; any other run never touches MPI.
  const std::unique_ptr<boardmill::io::MpiJob> job =
      boardmill::io::MpiJob::StartIfLaunched(&argc, &argv);
  // Expected failures travel as results; this is the last resort for the unexpected (such as
  // memory exhaustion), so that no exception ever ends the program as a crash.
  try {
    return CheckStandardOutput(Run(job.get(), argc, argv));
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory.\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Unexpected error: %s\n", error.what());
  } catch (...) {
    std::fputs("Unexpected error.\n", stderr);
  }
  // The other ranks may be waiting for this one: end the whole job rather than leave them hanging.
  if (job != nullptr && job->size() > 1) job->Abort();
  return 1;
}
