#pragma once

// Commands for the tests that start boardmill-mpi under Open MPI's mpirun.

#include <string>
#include <vector>

#include "test_support.h"

namespace boardmill::testing {

// Why an MPI job cannot run here, or empty when it can.
inline std::string MpiSkipReason() {
  if (RunShell("command -v mpirun").exit_code != 0) {
    return "mpirun is not installed (Debian package openmpi-bin)";
  }
  if (kThreadSanitizerBuild)
    return "the MPI library's own threads are not built for ThreadSanitizer";
  return "";
}

// The launcher, to be followed by the command: shared memory between the ranks only, without the
// kernel's cross-memory attach, which containers often forbid; root allowed, more ranks than
// cores allowed. LeakSanitizer would count the MPI library's own allocations at exit as leaks of
// the program.
inline std::string MpiRun(int ranks) {
  return NumberedName(
      "env OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 ASAN_OPTIONS=detect_leaks=0 "
      "mpirun --oversubscribe --mca btl self,vader --mca btl_vader_single_copy_mechanism none -n ",
      ranks, " ");
}

// `binary` and `arguments` quoted for /bin/sh.
inline std::string ShellCommand(const std::string& binary,
                                const std::vector<std::string>& arguments) {
  std::string command = QuoteForShell(binary);
  for (const std::string& argument : arguments) {
    command += ' ';
    command += QuoteForShell(argument);
  }
  return command;
}

}  // namespace boardmill::testing
