#pragma once

#include <string>

#include "chess/position.h"

namespace boardmill::chess {

// Canonical FEN: all six fields, castling letters in the order K, Q, k, q.
std::string FormatFen(const Position& position);

}  // namespace boardmill::chess
