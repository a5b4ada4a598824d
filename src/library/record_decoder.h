#pragma once

#include <cstddef>
#include <cstdint>

#include "boardmill/boardmill.h"

namespace boardmill::library {

// Decodes `count` records of 32 bytes into the columns of `out` that are not NULL and returns
// how many decoded. A record is accepted exactly when chess::DecodePackedSfen accepts it, and
// its fields are the ones that decoder gives; a refused record gets valid 0 and every other
// field 0. Allocates nothing.
std::size_t DecodeRecords(const std::uint8_t* records, std::size_t count,
                          const boardmill_positions& out);

}  // namespace boardmill::library
