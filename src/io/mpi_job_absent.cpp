// io::MpiJob for the program built without MPI. It never starts a job, so no MpiJob object ever
// exists and the members below are never called; they are here because the parallel mode's code,
// shared by both flavours, names them.
#include <cstdlib>

#include "io/mpi_job.h"

namespace boardmill::io {

std::unique_ptr<MpiJob> MpiJob::StartIfLaunched(int* /*argc*/, char*** /*argv*/) { return nullptr; }

MpiJob::~MpiJob() = default;

void MpiJob::Send(int /*to*/, int /*tag*/, const std::vector<std::uint8_t>& /*bytes*/) const {
  Abort();
}

std::vector<std::uint8_t> MpiJob::Receive(int /*from*/, int /*tag*/, int& /*source*/) const {
  Abort();
}

void MpiJob::Broadcast(std::vector<std::uint8_t>& /*bytes*/, int /*root*/) const { Abort(); }

void MpiJob::Abort() const { std::abort(); }

}  // namespace boardmill::io
