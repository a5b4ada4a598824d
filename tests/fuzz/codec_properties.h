#pragma once

// Properties of the position codec that must hold for every input. They are shared by the unit
// tests (which feed them real and mutated FEN lines) and by the fuzz targets (which feed them
// arbitrary bytes), so both check exactly the same contract. Each check returns an empty string
// when the property holds and otherwise a description of the first disagreement.

#include <string>
#include <string_view>

#include "chess/fen_reading.h"
#include "chess/packed_sfen.h"

namespace boardmill::testing {

// Under `reading`, the fast route and the general route (ParseFen + EncodePackedSfen) agree on
// success or failure, on the record bytes, on the message and on whether only the lenient rules
// accept the line; the fast route's occupancy and routing key match the parsed position's; an
// accepted position survives a decode and a re-encode unchanged. Strictly, the fast route's record
// is also the same whether its board section is written while parsing or coded from the board
// afterwards; leniently, a strictly valid line without clock operations splits into the same
// fields by both rules (what reading it strictly first relies on).
std::string CheckFenRoutesAgree(std::string_view text, chess::FenReading reading);

// Decoding never fails silently: a decoded position can be printed as FEN and, when the full
// encoder accepts it, its record decodes back to the same position.
std::string CheckRecordDecodes(const chess::PackedSfen& record);

}  // namespace boardmill::testing
