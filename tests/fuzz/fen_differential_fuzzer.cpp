// Arbitrary bytes as one FEN line, read strictly and leniently: under each reading both encoding
// routes must agree and accepted positions must round-trip through their records.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/codec_properties.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto reading :
       {boardmill::chess::FenReading::kStrict, boardmill::chess::FenReading::kLenient}) {
    boardmill::testing::AbortOnFault(boardmill::testing::CheckFenRoutesAgree(text, reading));
  }
  return 0;
}
