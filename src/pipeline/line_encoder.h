#pragma once

#include <cstdint>
#include <string_view>

#include "chess/packed_sfen.h"
#include "shards/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

struct EncodedLine {
  chess::PackedSfen record;
  std::uint64_t shard_id = 0;
};

// Turns one input line into its record and shard, by the single-pass fast encoder or by the
// general route (parse, encode, route). Both give the same record, shard and message; a failure
// is an invalid position, and only then is a message string built.
class LineEncoder {
 public:
  LineEncoder(bool use_fast_encoder, shards::ShardRouter router)
      : use_fast_encoder_(use_fast_encoder), router_(router) {}

  util::Result<EncodedLine> Encode(std::string_view line) const;

 private:
  bool use_fast_encoder_;
  shards::ShardRouter router_;
};

}  // namespace boardmill::pipeline
