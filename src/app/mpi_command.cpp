#include "app/mpi_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "app/command_dispatch.h"
#include "app/console_lines.h"
#include "app/convert_command.h"
#include "app/convert_options.h"
#include "app/shuffle_command.h"
#include "app/shuffle_options.h"
#include "app/usage.h"

namespace boardmill::app {

namespace {

// Sends this rank's standard output and error to /dev/null: rank 0 speaks for the job.
void Silence() {
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  close(null);
}

// The commands that divide their work among the ranks of a job.
bool RunsAcrossRanks(int argc, char** argv) {
  if (argc < 2) return false;
  const std::string_view word = argv[1];
  return word == "convert" || word == "shuffle";
}

int RunShuffleAcrossRanks(const io::MpiJob& job, int argc, char** argv) {
  ShuffleCommandLine command_line;
  const util::Result<void> parsed = ParseShuffleOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  command_line.settings.mpi_job = &job;
  return RunShuffleCommand(command_line);
}

}  // namespace

int DispatchAcrossRanks(const io::MpiJob& job, int argc, char** argv) {
  if (job.rank() != 0) Silence();
  if (!RunsAcrossRanks(argc, argv)) {
    return PrintErrorLine("Only convert and shuffle run across the ranks of an MPI job.");
  }
  if (std::string_view(argv[1]) == "shuffle") return RunShuffleAcrossRanks(job, argc, argv);
  ConvertCommandLine command_line;
  const util::Result<void> parsed = ParseConvertOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  command_line.settings.mpi_job = &job;
  return RunConvertCommand(command_line);
}

int DispatchWithoutMpiSupport(int argc, char** argv) {
  if (RunsAcrossRanks(argc, argv)) {
    return PrintErrorLine(
        "This boardmill has no MPI support; run boardmill-mpi under mpirun (package "
        "boardmill-mpi).");
  }
  return DispatchCommand(argc, argv);
}

}  // namespace boardmill::app
