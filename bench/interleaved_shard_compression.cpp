// The compression floor of a run that writes many shard streams at once: compresses raw shard
// files (32-byte records, as the shards hold them decompressed) each into its own streaming
// context, handing every shard its next flush of records in turn, as a conversion does when
// routing spreads records evenly. The output is discarded; the time is printed in seconds.
//
// Usage: interleaved_shard_compression LEVEL RECORDS_PER_FLUSH RAW_SHARD_FILE...

#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ContextDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

struct ShardStream {
  std::vector<char> records;
  std::size_t handed = 0;
  std::unique_ptr<ZSTD_CCtx, ContextDeleter> context;
};

std::vector<char> ReadWholeFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Compress(ShardStream& shard, const char* data, std::size_t size, ZSTD_EndDirective mode,
              std::vector<char>& output) {
  ZSTD_inBuffer in{data, size, 0};
  for (;;) {
    ZSTD_outBuffer out{output.data(), output.size(), 0};
    const std::size_t status = ZSTD_compressStream2(shard.context.get(), &out, &in, mode);
    if (ZSTD_isError(status)) {
      std::fprintf(stderr, "compression failed: %s\n", ZSTD_getErrorName(status));
      std::exit(1);
    }
    const bool done = mode == ZSTD_e_end ? status == 0 : in.pos == in.size;
    if (done) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LEVEL RECORDS_PER_FLUSH RAW_SHARD_FILE...\n", argv[0]);
    return 1;
  }
  const int level = std::atoi(argv[1]);
  const std::size_t flush_bytes = std::strtoull(argv[2], nullptr, 10) * 32;
  std::vector<ShardStream> shards(static_cast<std::size_t>(argc - 3));
  for (std::size_t i = 0; i < shards.size(); ++i) shards[i].records = ReadWholeFile(argv[i + 3]);
  std::vector<char> output(ZSTD_CStreamOutSize());

  const auto start = std::chrono::steady_clock::now();
  for (ShardStream& shard : shards) {
    shard.context.reset(ZSTD_createCCtx());
    ZSTD_CCtx_setParameter(shard.context.get(), ZSTD_c_compressionLevel, level);
  }
  for (bool handed_any = true; handed_any;) {
    handed_any = false;
    for (ShardStream& shard : shards) {
      const std::size_t size = std::min(flush_bytes, shard.records.size() - shard.handed);
      if (size == 0) continue;
      Compress(shard, shard.records.data() + shard.handed, size, ZSTD_e_continue, output);
      shard.handed += size;
      handed_any = true;
    }
  }
  for (ShardStream& shard : shards) Compress(shard, nullptr, 0, ZSTD_e_end, output);
  shards.clear();  // freeing the contexts is part of the work
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", elapsed.count());
}
