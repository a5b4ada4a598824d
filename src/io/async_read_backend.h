#pragma once

namespace boardmill::io {

// How `VisitFileChunksAsync` talks to the kernel. Both backends keep the same delivery order,
// limits and messages; choosing one explicitly is mainly for tests and diagnostics.
enum class AsyncReadBackend {
  // io_uring when the kernel offers it, otherwise positional reads.
  kAutomatic,
  // io_uring only; a kernel or container without it makes the call fail.
  kIoUring,
  // Plain positional reads on the calling thread.
  kPositionalReads,
};

}  // namespace boardmill::io
