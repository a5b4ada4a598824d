#pragma once

#include <optional>

#include "app/command_grammar.h"
#include "app/status_line_painter.h"

namespace boardmill::app {

// What the command line says about the status line: nothing (a live line when standard error is
// a terminal), --progress (logged lines, wherever standard error goes) or --no-progress (none).
enum class ProgressChoice { kAuto, kLogged, kOff };

// The two flags of every command that shows a status line, for its option table: each sets the
// choice it names, so the last of them wins. The usage text shows them on a line of their own.
template <typename CommandLine>
inline constexpr OptionRule<CommandLine> kProgressFlag{
    "--progress", ValueKind::kNone, SetTo<&CommandLine::progress, ProgressChoice::kLogged>,
    UsagePlace::kNewLine};
template <typename CommandLine>
inline constexpr OptionRule<CommandLine> kNoProgressFlag{
    "--no-progress", ValueKind::kNone, SetTo<&CommandLine::progress, ProgressChoice::kOff>};

// The status line a run shows; empty for none, so that scripts, pipes and CI logs stay as they
// were.
std::optional<StatusLineStyle> ChooseStatusLineStyle(ProgressChoice choice);

}  // namespace boardmill::app
