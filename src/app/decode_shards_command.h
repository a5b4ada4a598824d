#pragma once

namespace boardmill::app {

// decode-shards <output_dir | shard_file> [--limit N] [--hex]: prints every record, shards in id
// order and records in stored order, as canonical FEN or as 64 hexadecimal digits.
int RunDecodeShards(int argc, char** argv);

}  // namespace boardmill::app
