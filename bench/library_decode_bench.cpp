// boardmill_decode over the records of real positions, in batches as a training loader calls
// it: all columns (pieces and bitboards included), and pieces alone. The codec's own
// per-record decoder runs beside them for scale.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "boardmill/boardmill.h"
#include "chess/fast_fen_encoder.h"
#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"

namespace {

constexpr std::size_t kBatch = 4096;

// The records of every position of the benchmark data, encoded once.
const std::vector<std::uint8_t>& Records() {
  static const std::vector<std::uint8_t> records = [] {
    const auto text = boardmill::compression::DecompressZstdFile(BOARDMILL_BENCH_POSITIONS);
    if (!text) throw std::runtime_error(text.error());
    const std::string_view lines(reinterpret_cast<const char*>(text->data()), text->size());
    std::vector<std::uint8_t> encoded;
    std::size_t start = 0;
    for (std::size_t end; (end = lines.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
      const auto record = boardmill::chess::EncodeFenFast(lines.substr(start, end - start));
      if (record)
        encoded.insert(encoded.end(), record->record.bytes.begin(), record->record.bytes.end());
    }
    return encoded;
  }();
  return records;
}

struct Columns {
  std::vector<std::uint8_t> pieces = std::vector<std::uint8_t>(kBatch * 64);
  std::vector<std::uint64_t> bitboards = std::vector<std::uint64_t>(kBatch * 12);
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kBatch * 5);
  std::vector<std::int8_t> ep_square = std::vector<std::int8_t>(kBatch);
  std::vector<std::uint16_t> fullmove = std::vector<std::uint16_t>(kBatch);
};

// Decodes batch after batch, cycling through the records, into `out`.
void RunBatches(benchmark::State& state, boardmill_positions out) {
  const std::vector<std::uint8_t>& records = Records();
  const std::size_t batches = records.size() / 32 / kBatch;
  if (batches == 0) {
    state.SkipWithError("fewer records than one batch");
    return;
  }
  std::size_t next = 0;
  for (auto _ : state) {
    const std::int64_t valid = boardmill_decode(records.data() + next * kBatch * 32, kBatch, &out);
    benchmark::DoNotOptimize(valid);
    benchmark::ClobberMemory();
    if (++next == batches) next = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}

void BM_DecodeAllColumns(benchmark::State& state) {
  Columns columns;
  RunBatches(state, {columns.pieces.data(), columns.bitboards.data(), columns.bytes.data(),
                     columns.bytes.data() + kBatch, columns.ep_square.data(),
                     columns.bytes.data() + 2 * kBatch, columns.fullmove.data(),
                     columns.bytes.data() + 3 * kBatch});
}

void BM_DecodePiecesOnly(benchmark::State& state) {
  Columns columns;
  boardmill_positions out{};
  out.pieces = columns.pieces.data();
  RunBatches(state, out);
}

void BM_CodecDecodePerRecord(benchmark::State& state) {
  const std::vector<std::uint8_t>& records = Records();
  const std::size_t count = records.size() / 32;
  std::size_t next = 0;
  boardmill::chess::PackedSfen record;
  for (auto _ : state) {
    std::copy_n(records.data() + next * 32, 32, record.bytes.begin());
    benchmark::DoNotOptimize(boardmill::chess::DecodePackedSfen(record));
    if (++next == count) next = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(BM_DecodeAllColumns);
BENCHMARK(BM_DecodePiecesOnly);
BENCHMARK(BM_CodecDecodePerRecord);

}  // namespace
