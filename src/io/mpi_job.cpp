#include "io/mpi_job.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <thread>

namespace boardmill::io {

namespace {

int Count(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  return static_cast<int>(size);
}

// Calls `done()` until it is true, sleeping between calls. A blocking MPI call polls the network
// at full speed until it completes, so a rank waiting for work or for the others would take a
// core from its own workers, and on a machine with fewer cores than threads from the other
// ranks' too. The sleep grows to a millisecond, short beside the conversion of a group of files.
template <typename Done>
void PollWithPauses(Done&& done) {
  std::chrono::microseconds pause(10);
  while (!done()) {
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(1000));
  }
}

void WaitWithoutSpinning(MPI_Request& request) {
  PollWithPauses([&] {
    int done = 0;
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    return done != 0;
  });
}

// The status of the next message with `tag` from `from`, waited for without spinning.
MPI_Status ProbeWithoutSpinning(int from, int tag) {
  MPI_Status status;
  PollWithPauses([&] {
    int found = 0;
    MPI_Iprobe(from, tag, MPI_COMM_WORLD, &found, &status);
    return found != 0;
  });
  return status;
}

}  // namespace

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
  MPI_Request request;
  MPI_Isend(bytes.data(), Count(bytes.size()), MPI_BYTE, to, tag, MPI_COMM_WORLD, &request);
  WaitWithoutSpinning(request);
}

std::vector<std::uint8_t> MpiJob::Receive(int from, int tag, int& source) const {
  const MPI_Status status = ProbeWithoutSpinning(from == kAnySource ? MPI_ANY_SOURCE : from, tag);
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
  MPI_Request request;
  MPI_Ibcast(&size, 1, MPI_UINT64_T, root, MPI_COMM_WORLD, &request);
  WaitWithoutSpinning(request);
  bytes.resize(size);
  MPI_Ibcast(bytes.data(), Count(bytes.size()), MPI_BYTE, root, MPI_COMM_WORLD, &request);
  WaitWithoutSpinning(request);
}

}  // namespace boardmill::io
