#pragma once

#include <optional>
#include <string_view>

#include "app/status_line_painter.h"

namespace boardmill::app {

// What the command line says about the status line: nothing (a live line when standard error is
// a terminal), --progress (logged lines, wherever standard error goes) or --no-progress (none).
enum class ProgressChoice { kAuto, kLogged, kOff };

// True when `word` is --progress or --no-progress; the choice is then the one it names, so the
// last of them wins.
bool ParseProgressFlag(std::string_view word, ProgressChoice& choice);

// The status line a run shows; empty for none, so that scripts, pipes and CI logs stay as they
// were.
std::optional<StatusLineStyle> ChooseStatusLineStyle(ProgressChoice choice);

}  // namespace boardmill::app
