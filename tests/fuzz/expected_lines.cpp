#include "fuzz/expected_lines.h"

#include "compression/line_splitter.h"

namespace boardmill::testing {

std::vector<std::string_view> ExpectedLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t line_feed = text.find('\n');
    std::string_view line = text.substr(0, line_feed);
    text.remove_prefix(line_feed == std::string_view::npos ? text.size() : line_feed + 1);
    // A line too long to hold keeps its first kMaxLineBytes + 1 bytes, carriage return or not.
    if (line.size() > compression::kMaxLineBytes + 1) {
      line = line.substr(0, compression::kMaxLineBytes + 1);
    } else if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::vector<NumberedLine> ExpectedNumberedLines(std::string_view text) {
  std::vector<NumberedLine> lines;
  for (const std::string_view line : ExpectedLines(text)) {
    lines.push_back({std::string(line), lines.size() + 1});
  }
  return lines;
}

}  // namespace boardmill::testing
