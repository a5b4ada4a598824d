#include "fuzz/codec_properties.h"

#include <optional>
#include <sstream>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_fields.h"
#include "chess/fen_format.h"
#include "chess/fen_parser.h"
#include "chess/lenient_fen_fields.h"
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

// The record section that ParseFenFast writes while reading the board must be what
// EncodeFastPosition would code from the board itself.
std::string CheckFastBoardRecord(std::string_view text) {
  const util::Result<chess::FastPosition> parsed = chess::ParseFenFast(text);
  if (!parsed) return {};
  chess::FastPosition by_board = *parsed;
  by_board.board_record = {};
  const util::Result<chess::FastEncodeResult> written = chess::EncodeFastPosition(*parsed);
  const util::Result<chess::FastEncodeResult> coded = chess::EncodeFastPosition(by_board);
  if (written.ok() != coded.ok()) {
    return std::string("record written while parsing ") + (written ? "fits" : "does not fit") +
           ", record coded from the board " + (coded ? "fits" : "does not fit");
  }
  if (!written) {
    if (written.error() != coded.error()) {
      return "messages differ: written while parsing \"" + written.error() +
             "\", coded from the board \"" + coded.error() + "\"";
    }
    return {};
  }
  if (!(written->record == coded->record)) {
    return "record written while parsing " + Hex(written->record) + ", coded from the board " +
           Hex(coded->record);
  }
  return {};
}

// Both routes read a line strictly first and keep that reading unless it fails or the line may
// hold a clock operation. That is only sound if the lenient rules read such a line's fields
// exactly as the strict ones do.
std::string CheckStrictReadingFirst(std::string_view text) {
  if (!chess::ParseFen(text).ok() || chess::MayHoldClockOperations(text)) return {};
  const std::optional<chess::FenFields> strict = chess::SplitFenFields(text);
  const std::optional<chess::FenFields> lenient = chess::SplitLenientFenFields(text);
  if (!strict || !lenient) return "a strictly valid line has no board field";
  if (lenient->board != strict->board) {
    return "lenient board field \"" + std::string(lenient->board) +
           "\" differs from the strict one";
  }
  chess::FenState by_strict;
  chess::FenState by_lenient;
  if (chess::ReadFenState(*strict, by_strict) != nullptr) return "strict fields refused";
  if (const char* message = chess::ReadFenState(*lenient, by_lenient)) {
    return std::string("lenient fields of a strictly valid line refused: ") + message;
  }
  if (by_strict.side_to_move != by_lenient.side_to_move ||
      by_strict.castling_rights != by_lenient.castling_rights ||
      by_strict.en_passant_square != by_lenient.en_passant_square ||
      by_strict.halfmove_clock != by_lenient.halfmove_clock ||
      by_strict.fullmove_number != by_lenient.fullmove_number) {
    return "lenient fields of a strictly valid line read differently";
  }
  return {};
}

}  // namespace

std::string CheckFenRoutesAgree(std::string_view text, chess::FenReading reading) {
  const std::string fault = reading == chess::FenReading::kStrict ? CheckFastBoardRecord(text)
                                                                  : CheckStrictReadingFirst(text);
  if (!fault.empty()) return fault;
  const util::Result<chess::FastEncodeResult> fast = chess::EncodeFenFast(text, reading);
  const util::Result<chess::ParsedFen> parsed = chess::ParseFen(text, reading);
  if (!parsed) {
    if (fast) return "fast route accepts what ParseFen refuses with: " + parsed.error();
    if (fast.error() != parsed.error()) {
      return "messages differ: fast \"" + fast.error() + "\", general \"" + parsed.error() + "\"";
    }
    return {};
  }
  const util::Result<chess::PackedSfen> general = chess::EncodePackedSfen(parsed->position);
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
  const std::uint64_t occupancy = parsed->position.Occupancy();
  if (fast->occupancy != occupancy || fast->routing_key != occupancy >> 56) {
    std::ostringstream out;
    out << std::hex << "fast occupancy " << fast->occupancy << " key " << fast->routing_key
        << ", position occupancy " << occupancy;
    return out.str();
  }
  if (fast->lenient_only != parsed->lenient_only) {
    return std::string("fast route ") + (fast->lenient_only ? "counts" : "does not count") +
           " the line as read only by the lenient rules, the general route does the opposite";
  }
  if (std::string fault = CheckCanonicalFen(parsed->position); !fault.empty()) return fault;
  return CheckRoundTrip(parsed->position, *general);
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
