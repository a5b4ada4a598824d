#pragma once

#include "io/mpi_job.h"

namespace boardmill::app {

// The command line of one rank of an MPI job of several ranks. Only convert (in the parallel
// mode) and shuffle run across ranks; rank 0 alone prints, so the job shows one report or one
// error line.
int DispatchAcrossRanks(const io::MpiJob& job, int argc, char** argv);

// The command line of a process an MPI launcher started in the program built without MPI.
// `convert` and `shuffle` would run once per rank into the same directory, so they are refused
// in one line; the other commands run as they do anywhere.
int DispatchWithoutMpiSupport(int argc, char** argv);

}  // namespace boardmill::app
