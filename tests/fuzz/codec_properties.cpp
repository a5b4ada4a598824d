#include "fuzz/codec_properties.h"

#include <sstream>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_format.h"
#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::testing {

namespace {

std::string Hex(const chess::PackedSfen& record) { return chess::FormatPackedSfenHex(record); }

bool IsEnPassantRank(int square) { return square / 8 == 2 || square / 8 == 5; }

// FormatFen is the inverse of ParseFen: the canonical text parses back to the same position.
// The only decodable positions the parser may refuse are those whose en-passant square lies on
// a rank the parser does not allow.
std::string CheckCanonicalFen(const chess::Position& position) {
  const std::string fen = chess::FormatFen(position);
  const util::Result<chess::Position> reparsed = chess::ParseFen(fen);
  if (!reparsed) {
    const int square = position.en_passant_square();
    if (square != chess::kNoSquare && !IsEnPassantRank(square) &&
        reparsed.error() == "En passant square must be on rank 3 or 6.") {
      return {};
    }
    return "canonical FEN \"" + fen + "\" does not parse: " + reparsed.error();
  }
  if (!(*reparsed == position)) {
    return "canonical FEN \"" + fen + "\" parses to " + chess::FormatFen(*reparsed);
  }
  return {};
}

// The position must decode from its own record and re-encode to the same bytes.
std::string CheckRoundTrip(const chess::Position& position, const chess::PackedSfen& record) {
  const util::Result<chess::Position> decoded = chess::DecodePackedSfen(record);
  if (!decoded) return "record " + Hex(record) + " does not decode: " + decoded.error();
  if (!(*decoded == position)) {
    return "decoding " + Hex(record) + " gives " + chess::FormatFen(*decoded) + " instead of " +
           chess::FormatFen(position);
  }
  const util::Result<chess::PackedSfen> again = chess::EncodePackedSfen(*decoded);
  if (!again) return "decoded position does not re-encode: " + again.error();
  if (!(*again == record)) return "re-encoding gives " + Hex(*again) + " instead of " + Hex(record);
  return {};
}

}  // namespace

std::string CheckFenRoutesAgree(std::string_view text) {
  const util::Result<chess::FastEncodeResult> fast = chess::EncodeFenFast(text);
  const util::Result<chess::Position> parsed = chess::ParseFen(text);
  if (!parsed) {
    if (fast) return "fast route accepts what ParseFen refuses with: " + parsed.error();
    if (fast.error() != parsed.error()) {
      return "messages differ: fast \"" + fast.error() + "\", general \"" + parsed.error() + "\"";
    }
    return {};
  }
  const util::Result<chess::PackedSfen> general = chess::EncodePackedSfen(*parsed);
  if (!general) {
    if (fast) return "fast route accepts what EncodePackedSfen refuses with: " + general.error();
    if (fast.error() != general.error()) {
      return "messages differ: fast \"" + fast.error() + "\", general \"" + general.error() + "\"";
    }
    return {};
  }
  if (!fast) return "fast route refuses what the general route accepts: " + fast.error();
  if (!(fast->record == *general)) {
    return "records differ: fast " + Hex(fast->record) + ", general " + Hex(*general);
  }
  const std::uint64_t occupancy = parsed->Occupancy();
  if (fast->occupancy != occupancy || fast->routing_key != occupancy >> 56) {
    std::ostringstream out;
    out << std::hex << "fast occupancy " << fast->occupancy << " key " << fast->routing_key
        << ", position occupancy " << occupancy;
    return out.str();
  }
  if (std::string fault = CheckCanonicalFen(*parsed); !fault.empty()) return fault;
  return CheckRoundTrip(*parsed, *general);
}

std::string CheckRecordDecodes(const chess::PackedSfen& record) {
  const util::Result<chess::Position> decoded = chess::DecodePackedSfen(record);
  if (!decoded) return {};
  if (std::string fault = CheckCanonicalFen(*decoded); !fault.empty()) {
    return "record " + Hex(record) + ": " + fault;
  }
  const util::Result<chess::PackedSfen> encoded = chess::EncodePackedSfen(*decoded);
  if (!encoded) return {};
  const util::Result<chess::Position> again = chess::DecodePackedSfen(*encoded);
  if (!again) return "re-encoded record " + Hex(*encoded) + " does not decode: " + again.error();
  if (!(*again == *decoded)) {
    return "re-encoding " + chess::FormatFen(*decoded) + " and decoding gives " +
           chess::FormatFen(*again);
  }
  return {};
}

}  // namespace boardmill::testing
