// Arbitrary bytes as a batch of 32-byte records (a last partial record is zero-padded):
// boardmill_decode never crashes and agrees with the codec's decoder on every record.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/library_decode_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> records((size + 31) / 32 * 32);
  std::copy_n(data, size, records.begin());
  boardmill::testing::AbortOnFault(boardmill::testing::CheckBatchDecodeAgrees(records));
  return 0;
}
