#include "io/mpi_job.h"

#include <mpi.h>

#include <cstdlib>
#include <limits>

namespace boardmill::io {

namespace {

// What Open MPI, PMIx-based launchers (Slurm, PRRTE) and the older PMI (MPICH, Intel MPI) put in
// the environment of the processes they start.
constexpr const char* kLauncherVariables[] = {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK",
                                              "PMI_SIZE"};

int Count(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  return static_cast<int>(size);
}

}  // namespace

bool MpiJob::LaunchedByMpi() {
  for (const char* variable : kLauncherVariables) {
    if (std::getenv(variable) != nullptr) return true;
  }
  return false;
}

std::unique_ptr<MpiJob> MpiJob::StartIfLaunched(int* argc, char*** argv) {
  if (!LaunchedByMpi()) return nullptr;
  int provided = 0;
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return std::unique_ptr<MpiJob>(new MpiJob(rank, size));
}

MpiJob::~MpiJob() { MPI_Finalize(); }

void MpiJob::Abort() const {
  MPI_Abort(MPI_COMM_WORLD, 1);
  std::abort();  // MPI_Abort does not return; this only tells the compiler so
}

void MpiJob::Send(int to, int tag, const std::vector<std::uint8_t>& bytes) const {
  MPI_Send(bytes.data(), Count(bytes.size()), MPI_BYTE, to, tag, MPI_COMM_WORLD);
}

std::vector<std::uint8_t> MpiJob::Receive(int from, int tag, int& source) const {
  MPI_Status status;
  MPI_Probe(from == kAnySource ? MPI_ANY_SOURCE : from, tag, MPI_COMM_WORLD, &status);
  int count = 0;
  MPI_Get_count(&status, MPI_BYTE, &count);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  MPI_Recv(bytes.data(), count, MPI_BYTE, status.MPI_SOURCE, tag, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  source = status.MPI_SOURCE;
  return bytes;
}

void MpiJob::Broadcast(std::vector<std::uint8_t>& bytes, int root) const {
  std::uint64_t size = bytes.size();
  MPI_Bcast(&size, 1, MPI_UINT64_T, root, MPI_COMM_WORLD);
  bytes.resize(size);
  MPI_Bcast(bytes.data(), Count(bytes.size()), MPI_BYTE, root, MPI_COMM_WORLD);
}

}  // namespace boardmill::io
