#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// The lines a terminal shows once it has been sent `bytes`: a carriage return moves the cursor
// to the start of its line, a line feed to the next line, and any other byte is written at the
// cursor, over what was there. Trailing blanks of each line are dropped, and so is the line the
// cursor ends on when nothing is written on it.
inline std::vector<std::string> ScreenLines(std::string_view bytes) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char byte : bytes) {
    if (byte == '\r') {
      column = 0;
    } else if (byte == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string& line = lines.back();
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = byte;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace boardmill::testing
