#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// The lines every line reader of this program must deliver from `text`, in order: the text is
// cut at line feeds, one carriage return before a line feed (or at the very end) is dropped,
// and lines that are then empty are skipped. Line numbers are the positions in this list, from 1.
std::vector<std::string_view> ExpectedLines(std::string_view text);

// A delivered line and its number.
struct NumberedLine {
  std::string text;
  std::uint64_t number = 0;
  friend bool operator==(const NumberedLine&, const NumberedLine&) = default;
};

// ExpectedLines(text) with their numbers.
std::vector<NumberedLine> ExpectedNumberedLines(std::string_view text);

}  // namespace boardmill::testing
