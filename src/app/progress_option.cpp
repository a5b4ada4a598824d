#include "app/progress_option.h"

#include <unistd.h>

namespace boardmill::app {

std::optional<StatusLineStyle> ChooseStatusLineStyle(ProgressChoice choice) {
  switch (choice) {
    case ProgressChoice::kLogged:
      return StatusLineStyle::kLogged;
    case ProgressChoice::kOff:
      return std::nullopt;
    case ProgressChoice::kAuto:
      break;
  }
  if (isatty(STDERR_FILENO) == 1) return StatusLineStyle::kRedrawn;
  return std::nullopt;
}

}  // namespace boardmill::app
