#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "io/async_file_read_chunk.h"
#include "io/async_file_read_request.h"
#include "io/async_file_read_stats.h"
#include "util/result.h"

namespace boardmill::io {

class AsyncReadEngine;

// Receives the chunks of a file in order: true continues, false stops reading (still a
// success), an error aborts the read and is returned unchanged.
using AsyncFileChunkVisitor = std::function<util::Result<bool>(AsyncFileReadChunk&&)>;

// Reads `request.path` with up to `max_reads_in_flight` reads outstanding and hands the file to
// `visitor` chunk by chunk, strictly in file order whatever order the reads finish in. Returns
// true when the whole file was delivered and false when the visitor stopped it. On every
// failure the reads still running are cancelled and waited for before their buffers go away.
util::Result<bool> VisitFileChunksAsync(const AsyncFileReadRequest& request,
                                        AsyncFileReadStats& stats,
                                        const AsyncFileChunkVisitor& visitor);

// Reads file after file like `VisitFileChunksAsync`, keeping the asynchronous read set-up (an
// io_uring instance and its mappings) from one file to the next, so that a thread reading many
// small files sets it up once instead of once per file. One thread at a time.
class AsyncFileReader {
 public:
  AsyncFileReader();
  ~AsyncFileReader();
  AsyncFileReader(const AsyncFileReader&) = delete;
  AsyncFileReader& operator=(const AsyncFileReader&) = delete;

  util::Result<bool> Visit(const AsyncFileReadRequest& request, AsyncFileReadStats& stats,
                           const AsyncFileChunkVisitor& visitor);

 private:
  util::Result<AsyncReadEngine*> EngineFor(const AsyncFileReadRequest& request,
                                           std::uint32_t depth);

  std::unique_ptr<AsyncReadEngine> engine_;
  AsyncReadBackend engine_backend_ = AsyncReadBackend::kAutomatic;
  std::uint32_t engine_depth_ = 0;
};

}  // namespace boardmill::io
