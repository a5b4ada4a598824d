#include "app/status_line_painter.h"

namespace boardmill::app {

std::string StatusLinePainter::Frame(std::string_view text, std::size_t columns) {
  if (style_ == StatusLineStyle::kLogged) return std::string(text) + '\n';
  if (columns > 1 && text.size() >= columns) text = text.substr(0, columns - 1);
  std::string frame = "\r";
  frame += text;
  if (drawn_width_ > text.size()) frame.append(drawn_width_ - text.size(), ' ');
  drawn_width_ = text.size();
  return frame;
}

std::string StatusLinePainter::Erase() {
  if (style_ == StatusLineStyle::kLogged || drawn_width_ == 0) return {};
  std::string erase = "\r";
  erase.append(drawn_width_, ' ');
  erase += '\r';
  drawn_width_ = 0;
  return erase;
}

}  // namespace boardmill::app
