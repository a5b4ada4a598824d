#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace boardmill::app {

enum class StatusLineStyle {
  kRedrawn,  // one line on a terminal, drawn over in place and erased at the end
  kLogged,   // a newline-terminated line each time, for log files
};

// The bytes that put a status text on standard error. A redrawn line returns to the start of the
// line with a carriage return and covers what the previous frame left with spaces: no escape
// sequences and no terminal modes, so any terminal shows it, and one that is left mid-line by a
// killed run needs nothing restored.
class StatusLinePainter {
 public:
  explicit StatusLinePainter(StatusLineStyle style) : style_(style) {}

  // `columns` is the terminal's width, 0 when unknown. A redrawn line is cut one column short
  // of it: a line that wrapped could no longer be returned to and drawn over.
  std::string Frame(std::string_view text, std::size_t columns);
  // What leaves the line empty with the cursor at its start; nothing after a logged line.
  std::string Erase();

 private:
  StatusLineStyle style_;
  std::size_t drawn_width_ = 0;
};

}  // namespace boardmill::app
