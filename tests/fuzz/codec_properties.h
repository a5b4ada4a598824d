#pragma once

// Properties of the position codec that must hold for every input. They are shared by the unit
// tests (which feed them real and mutated FEN lines) and by the fuzz targets (which feed them
// arbitrary bytes), so both check exactly the same contract. Each check returns an empty string
// when the property holds and otherwise a description of the first disagreement.

#include <string>
#include <string_view>

#include "chess/packed_sfen.h"

namespace boardmill::testing {

// The fast route and the general route (ParseFen + EncodePackedSfen) agree on success or failure,
// on the record bytes and on the message; the fast route's occupancy and routing key match the
// parsed position's; an accepted position survives a decode and a re-encode unchanged.
std::string CheckFenRoutesAgree(std::string_view text);

// Decoding never fails silently: a decoded position can be printed as FEN and, when the full
// encoder accepts it, its record decodes back to the same position.
std::string CheckRecordDecodes(const chess::PackedSfen& record);

}  // namespace boardmill::testing
