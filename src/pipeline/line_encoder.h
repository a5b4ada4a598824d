#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "chess/fen_reading.h"
#include "chess/packed_sfen.h"
#include "pipeline/conversion_totals.h"
#include "shards/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

struct EncodedLine {
  chess::PackedSfen record;
  std::uint64_t shard_id = 0;
  bool lenient_only = false;  // only the lenient reading accepts the line
};

// What encoding a batch of lines gave: records and rejected lines.
struct LineBatchCounts {
  std::uint64_t records = 0;
  std::uint64_t rejects = 0;
  std::uint64_t lenient_records = 0;  // records that only the lenient reading accepts

  // The batch as run totals: lines visited, positions encoded and invalid, record bytes, and
  // the seconds it took.
  ConversionTotals Totals(double encode_seconds) const {
    return {.visited_lines = records + rejects,
            .encoded_positions = records,
            .invalid_positions = rejects,
            .raw_output_bytes = records * chess::kPackedSfenSize,
            .encode_seconds = encode_seconds,
            .lenient_positions = lenient_records};
  }
};

// Turns input lines into records and shards, by the single-pass fast encoder or by the general
// route (parse, encode, route), by the run's FEN reading. Both give the same record, shard and
// message; a failure is an invalid position, and only then is a message string built.
class LineEncoder {
 public:
  LineEncoder(bool use_fast_encoder, chess::FenReading reading, shards::ShardRouter router)
      : use_fast_encoder_(use_fast_encoder), reading_(reading), router_(router) {}

  util::Result<EncodedLine> Encode(std::string_view line) const;

  // The per-line loop of every mode. Encodes `lines` (each with a `text` and a `line_number`)
  // in order and hands each to `on_record(const EncodedLine&)` or, when it is not a position,
  // to `on_reject(const Line&, const std::string& message)`. Both return a util::Result<void>;
  // the first failure ends the batch and is returned.
  template <typename Line, typename OnRecord, typename OnReject>
  util::Result<LineBatchCounts> EncodeBatch(std::span<const Line> lines, OnRecord&& on_record,
                                            OnReject&& on_reject) const {
    LineBatchCounts counts;
    for (const Line& line : lines) {
      const util::Result<EncodedLine> encoded = Encode(TextToRead(line.text, line.line_number));
      util::Result<void> taken = encoded ? on_record(*encoded) : on_reject(line, encoded.error());
      if (!taken) return std::move(taken).TakeError();
      ++(encoded ? counts.records : counts.rejects);
      if (encoded && encoded->lenient_only) ++counts.lenient_records;
    }
    return counts;
  }

 private:
  // The lenient reading skips a byte-order mark at the start of a file, which can only sit in
  // the file's first line: line numbers count from the first line that is not empty.
  std::string_view TextToRead(std::string_view text, std::uint64_t line_number) const {
    if (reading_ == chess::FenReading::kLenient && line_number == 1) {
      return chess::StripUtf8Bom(text);
    }
    return text;
  }

  bool use_fast_encoder_;
  chess::FenReading reading_;
  shards::ShardRouter router_;
};

// The first lines of `batch` that stay within `cap` lines per file (0: no cap), `taken` lines of
// the file having gone before. A batch that comes back shorter is the file's last.
template <typename Line>
std::span<const Line> LinesWithinCap(std::span<const Line> batch, std::uint64_t taken,
                                     std::uint64_t cap) {
  if (cap == 0) return batch;
  const std::uint64_t room = cap > taken ? cap - taken : 0;
  return batch.first(static_cast<std::size_t>(std::min<std::uint64_t>(batch.size(), room)));
}

}  // namespace boardmill::pipeline
