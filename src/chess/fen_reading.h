#pragma once

#include <cstdint>
#include <string_view>

namespace boardmill::chess {

// Which rules a FEN line is read by. The strict reading is the default everywhere. The lenient
// one also takes what other tools write: tabs between fields, trailing NULs, EPD operations after
// the position (hmvc and fmvn set the clocks), a fullmove number of 0.
enum class FenReading : std::uint8_t { kStrict, kLenient };

// A file that starts with a UTF-8 byte-order mark is read as if it did not; call this on a file's
// first line only.
inline std::string_view StripUtf8Bom(std::string_view first_line) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (first_line.substr(0, kBom.size()) == kBom) first_line.remove_prefix(kBom.size());
  return first_line;
}

// Whether the lenient reading of a line that the strict reading accepts could still differ from
// the strict one. Only the clock operations hmvc and fmvn can make it differ, and they hold an
// 'm', which none of the six fields of a strictly valid FEN can.
inline bool MayHoldClockOperations(std::string_view line) {
  return line.find('m') != std::string_view::npos;
}

// Reads `line` by the lenient rules with a route's two readers, each of which fills `parsed` (the
// route's position record) and returns nullptr or the message for the first fault (leaving
// `parsed` partly filled).
// The strict reader goes first, so a strictly valid line costs one strict read and one byte
// search; `lenient_only` tells whether the strict reading refuses the line.
template <typename Parsed, typename StrictReader, typename LenientReader>
const char* ReadFenLeniently(std::string_view line, Parsed& parsed, bool& lenient_only,
                             StrictReader read_strictly, LenientReader read_leniently) {
  lenient_only = read_strictly(line, parsed) != nullptr;
  if (!lenient_only && !MayHoldClockOperations(line)) return nullptr;
  parsed = Parsed{};
  return read_leniently(line, parsed);
}

}  // namespace boardmill::chess
