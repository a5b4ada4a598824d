#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

#include "chess/packed_sfen.h"
#include "chess/position.h"
#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shards {

// Takes one record and its decoded position; false stops the reading.
using ShardRecordVisitor =
    std::function<bool(const chess::PackedSfen& record, const chess::Position& position)>;

// Reads the records of shard files one at a time, however many frames a file holds, decoding
// each before it is handed on, so that a bad record stops the reading wherever it is.
class ShardRecordReader {
 public:
  // Visits the records of the file at `path` in order. False in the value when the visitor
  // stopped. A record that cannot be read or decoded fails with one line naming the file and the
  // record's place in it. Given what the index lists for the file, a file read to its end must
  // have that size and hash, or the reading fails naming the file; the records already visited
  // stay visited, since the hash covers the whole file.
  util::Result<bool> ReadFile(const std::filesystem::path& path, const ShardRecordVisitor& visit,
                              const IndexedShard* listed = nullptr);

 private:
  util::Result<bool> TakeChunk(std::span<const std::uint8_t> chunk,
                               const ShardRecordVisitor& visit);

  chess::PackedSfen record_;
  std::size_t filled_ = 0;
  std::uint64_t records_in_file_ = 0;
  bool stopped_ = false;
};

}  // namespace boardmill::shards
