#pragma once

#include <cstdint>

#include "chess/packed_sfen.h"

namespace boardmill::shuffle {

// A record on its way through the shuffle, with its place in input order: the input shard's
// place among all input shards in the high bits, the record's place in that shard in the low
// ones. Carried along so that "the first seen" of duplicates and the order of records that are
// otherwise equal never depend on which thread or rank handled them.
struct ShuffleEntry {
  chess::PackedSfen record;
  std::uint64_t ordinal = 0;
};
static_assert(sizeof(ShuffleEntry) == 40, "scratch files hold entries as their bytes");

inline constexpr unsigned kRecordIndexBits = 40;

inline std::uint64_t MakeOrdinal(std::uint64_t input_shard, std::uint64_t record_index) {
  return input_shard << kRecordIndexBits | record_index;
}

}  // namespace boardmill::shuffle
