#include <cstdio>
#include <exception>
#include <new>

#include "app/command_dispatch.h"
#include "util/stream_limit.h"

int main(int argc, char** argv) {
  // Expected failures travel as results; this is the last resort for the unexpected (such as
  // memory exhaustion), so that no exception ever ends the program as a crash.
  try {
    boardmill::util::RaiseStreamLimit();
    return boardmill::app::DispatchCommand(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory.\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Unexpected error: %s\n", error.what());
  } catch (...) {
    std::fputs("Unexpected error.\n", stderr);
  }
  return 1;
}
