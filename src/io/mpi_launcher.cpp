#include <cstdlib>

#include "io/mpi_job.h"

namespace boardmill::io {

namespace {

// What Open MPI, PMIx-based launchers (Slurm, PRRTE) and the older PMI (MPICH, Intel MPI) put in
// the environment of the processes they start.
constexpr const char* kLauncherVariables[] = {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK",
                                              "PMI_SIZE"};

}  // namespace

bool MpiJob::LaunchedByMpi() {
  for (const char* variable : kLauncherVariables) {
    if (std::getenv(variable) != nullptr) return true;
  }
  return false;
}

}  // namespace boardmill::io
