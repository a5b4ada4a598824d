// Per-line cost of the two encoding routes over real positions, and the heap allocations they
// make while doing it (both must make none for a line that encodes).

#include <benchmark/benchmark.h>
#include <zstd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"

namespace {

std::atomic<std::uint64_t> allocation_count{0};

void* CountedAllocate(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* CountedAllocateAligned(std::size_t size, std::align_val_t alignment) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded)) return memory;
  throw std::bad_alloc();
}

}  // namespace

// Every allocation of the benchmark binary goes through these, so the timed loops can tell
// whether an encoder touched the heap.
void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return CountedAllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return CountedAllocateAligned(size, alignment);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }

namespace {

using boardmill::chess::EncodeFenFast;
using boardmill::chess::EncodePackedSfen;
using boardmill::chess::ParseFen;

std::string ReadCompressedFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot open ") + path);
  const std::string compressed{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  std::string text;
  std::string buffer(ZSTD_DStreamOutSize(), '\0');
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ZSTD_inBuffer input{compressed.data(), compressed.size(), 0};
  while (input.pos < input.size) {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    const std::size_t status = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(status)) {
      ZSTD_freeDCtx(context);
      throw std::runtime_error(std::string("cannot decompress ") + path);
    }
    text.append(buffer.data(), output.pos);
  }
  ZSTD_freeDCtx(context);
  return text;
}

// All lines of the benchmark data, loaded once and shared by both benchmarks.
class Positions {
 public:
  static const Positions& Get() {
    static const Positions positions;
    return positions;
  }
  const std::vector<std::string_view>& lines() const { return lines_; }

 private:
  Positions() : text_(ReadCompressedFile(BOARDMILL_BENCH_POSITIONS)) {
    std::size_t start = 0;
    for (std::size_t end; (end = text_.find('\n', start)) != std::string::npos; start = end + 1) {
      lines_.push_back(std::string_view(text_).substr(start, end - start));
    }
  }

  std::string text_;
  std::vector<std::string_view> lines_;
};

// A zero allocation count only means something if the counter sees allocations at all.
bool AllocationCounterWorks() {
  const std::uint64_t before = allocation_count.load();
  auto* probe = new std::uint64_t(0);
  benchmark::DoNotOptimize(probe);
  delete probe;
  return allocation_count.load() != before;
}

// Runs `encode` on one line per iteration, cycling through the data, and reports the refused
// lines and the allocations per line made inside the timed loop.
template <typename Encode>
void RunPerLine(benchmark::State& state, Encode encode) {
  if (!AllocationCounterWorks()) {
    state.SkipWithError("operator new is not the counting replacement");
    return;
  }
  const std::vector<std::string_view>& lines = Positions::Get().lines();
  std::size_t next = 0;
  std::uint64_t refused = 0;
  const std::uint64_t allocations_before = allocation_count.load();
  for (auto _ : state) {
    refused += encode(lines[next]) ? 0 : 1;
    if (++next == lines.size()) next = 0;
  }
  const std::uint64_t allocations = allocation_count.load() - allocations_before;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["allocs_per_line"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["refused_lines"] = static_cast<double>(refused);
}

void BM_FastRoute(benchmark::State& state) {
  RunPerLine(state, [](std::string_view line) {
    const auto result = EncodeFenFast(line);
    if (!result) return false;
    benchmark::DoNotOptimize(result->record);
    benchmark::DoNotOptimize(result->routing_key);
    return true;
  });
}

void BM_GeneralRoute(benchmark::State& state) {
  RunPerLine(state, [](std::string_view line) {
    const auto position = ParseFen(line);
    if (!position) return false;
    const auto record = EncodePackedSfen(*position);
    if (!record) return false;
    const std::uint64_t routing_key = position->Occupancy() >> 56;
    benchmark::DoNotOptimize(*record);
    benchmark::DoNotOptimize(routing_key);
    return true;
  });
}

BENCHMARK(BM_FastRoute);
BENCHMARK(BM_GeneralRoute);

}  // namespace
