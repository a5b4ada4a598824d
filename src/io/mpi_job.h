#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace boardmill::io {

// The MPI job this process runs in, when an MPI launcher (mpirun, srun) started it: its rank, the
// number of ranks, and byte messages between them. A process started any other way never
// initialises MPI, so a plain run pays nothing for it. Every call is made from the thread that
// started the job. Communication errors end the whole job, MPI's default, so that no rank waits
// for one that is gone.
class MpiJob {
 public:
  // Starts MPI when the environment shows a launcher started this process; null otherwise, and
  // always in the program built without MPI (mpi_job_absent.cpp).
  static std::unique_ptr<MpiJob> StartIfLaunched(int* argc, char*** argv);
  // True when the environment shows an MPI launcher started this process.
  static bool LaunchedByMpi();

  ~MpiJob();
  MpiJob(const MpiJob&) = delete;
  MpiJob& operator=(const MpiJob&) = delete;

  int rank() const { return rank_; }
  int size() const { return size_; }

  void Send(int to, int tag, const std::vector<std::uint8_t>& bytes) const;
  // Waits for a message with `tag` from `from` (kAnySource for any rank); sets `source`.
  std::vector<std::uint8_t> Receive(int from, int tag, int& source) const;
  // The root's bytes, on every rank.
  void Broadcast(std::vector<std::uint8_t>& bytes, int root) const;
  // Ends every rank of the job at once.
  [[noreturn]] void Abort() const;

  static constexpr int kAnySource = -1;

 private:
  MpiJob(int rank, int size) : rank_(rank), size_(size) {}

  int rank_;
  int size_;
};

}  // namespace boardmill::io
