#pragma once

#include <functional>

#include "io/async_file_read_chunk.h"
#include "io/async_file_read_request.h"
#include "io/async_file_read_stats.h"
#include "util/result.h"

namespace boardmill::io {

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

}  // namespace boardmill::io
