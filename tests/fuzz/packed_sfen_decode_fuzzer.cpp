// Arbitrary bytes as one 32-byte record (shorter inputs are padded with zero bytes, longer ones
// cut): decoding must never crash and what decodes must print and re-encode consistently.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "chess/packed_sfen.h"
#include "fuzz/codec_properties.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  boardmill::chess::PackedSfen record;
  std::copy_n(data, std::min(size, record.bytes.size()), record.bytes.begin());
  boardmill::testing::AbortOnFault(boardmill::testing::CheckRecordDecodes(record));
  return 0;
}
