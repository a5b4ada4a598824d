#pragma once

#include <cstddef>
#include <cstdint>

#include "boardmill/boardmill.h"
#include "util/result.h"

namespace boardmill::library {

// Encodes `count` positions from the columns of `in` into records through the codec's own
// encoder, so that they are byte for byte the converter's. Fails on the first position a record
// cannot hold, naming it by index; the records before it are written.
util::Result<void> EncodeRecords(const boardmill_positions& in, std::size_t count,
                                 std::uint8_t* records);

}  // namespace boardmill::library
