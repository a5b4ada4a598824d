#include "pipeline/line_encoder.h"

#include <string>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "compression/line_splitter.h"

namespace boardmill::pipeline {

util::Result<EncodedLine> LineEncoder::Encode(std::string_view line) const {
  // The line readers hand over only the start of a line beyond the limit.
  if (line.size() > compression::kMaxLineBytes) {
    return util::Fail("Line exceeds " + std::to_string(compression::kMaxLineBytes) + " bytes.");
  }
  if (use_fast_encoder_) {
    util::Result<chess::FastEncodeResult> fast = chess::EncodeFenFast(line, reading_);
    if (!fast) return std::move(fast).TakeError();
    return EncodedLine{fast->record, router_.RouteKey(fast->routing_key), fast->lenient_only};
  }
  util::Result<chess::ParsedFen> parsed = chess::ParseFen(line, reading_);
  if (!parsed) return std::move(parsed).TakeError();
  util::Result<chess::PackedSfen> record = chess::EncodePackedSfen(parsed->position);
  if (!record) return std::move(record).TakeError();
  return EncodedLine{*record, router_.Route(parsed->position), parsed->lenient_only};
}

}  // namespace boardmill::pipeline
