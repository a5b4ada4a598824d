#include "chess/packed_sfen.h"

namespace boardmill::chess {

std::string FormatPackedSfenHex(const PackedSfen& record) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * kPackedSfenSize);
  for (const std::uint8_t byte : record.bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

}  // namespace boardmill::chess
