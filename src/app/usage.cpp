#include "app/usage.h"

#include <cstdio>

namespace boardmill::app {

namespace {

constexpr char kUsage[] =
    "Boardmill\n"
    "Usage:\n"
    "  boardmill roundtrip-fen \"<fen>\"\n"
    "  boardmill encode-fen \"<fen>\"\n"
    "  boardmill scan <directory>\n"
    "  boardmill sample-fens <input_dir> <output_dir> --max-lines-per-file N [--max-files N]\n"
    "                       [--compression-level N] [--line-batch-size N] [--manifest PATH]\n"
    "                       [--progress] [--no-progress]\n"
    "  boardmill convert <input_dir> <output_dir> [--shards N] [--compression-level N] "
    "[--records-per-flush N] [--max-files N] [--max-lines-per-file N]\n"
    "                     [--max-threads N] [--reader-workers N] [--decompress-workers N] "
    "[--line-index-workers N] [--parse-workers N]\n"
    "                     [--compress-workers N] [--line-batch-size N] [--parse-batch-size N] "
    "[--initial-workers N]\n"
    "                     [--min-workers N] [--merge-threads N] [--memory-ceiling-mib N]\n"
    "                     [--scratch-dir PATH] [--manifest PATH] [--reject-log PATH]\n"
    "                     [--min-free-space-gib N] [--verify-output] [--resume] "
    "[--keep-scratch]\n"
    "                     [--no-fast-encoder] [--autotune] [--no-autotune] [--sequential] "
    "[--parallel] [--staged]\n"
    "                     [--progress] [--no-progress]\n"
    "  boardmill verify-shards <output_dir> [--shards N]\n"
    "                          [--progress] [--no-progress]\n"
    "  boardmill verify-shards <output_dir> --quick [--shards N]\n"
    "  boardmill decode-shards <output_dir | shard_file> [--limit N] [--hex]\n";

}  // namespace

void PrintUsage() { std::fputs(kUsage, stdout); }

int RunHelpCommand(int /*argc*/, char** /*argv*/) {
  PrintUsage();
  return 0;
}

}  // namespace boardmill::app
