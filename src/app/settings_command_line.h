#pragma once

#include "app/progress_option.h"

namespace boardmill::app {

// What the command line of a run that shows a status line says: the run's settings, each at its
// default unless an option sets it, and the status line asked for. The option table writes into
// `settings` through the setting appliers of app/command_grammar.h.
template <typename Settings>
struct SettingsCommandLine {
  Settings settings;
  ProgressChoice progress = ProgressChoice::kAuto;
};

}  // namespace boardmill::app
