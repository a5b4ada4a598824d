#include "chess/fast_fen_encoder.h"

#include "chess/fen_board.h"
#include "chess/fen_fields.h"
#include "chess/huffman_code.h"
#include "chess/lenient_fen_fields.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {

namespace {

constexpr int kRoutingShift = 56;

// The kings seen on the board, both colours in one register: each colour has a 32-bit lane
// holding how often its king was seen (bits 0-7) and the sum of the squares it was seen on (bits
// 8-31). With exactly one sighting the sum is the king's square. Adding a table-given lane unit,
// rather than branching on a king, keeps the board loop free of a branch on a king, which stands
// at an unpredictable place in the text. The fields cannot overflow: a board has at most 64
// kings, and its squares sum to 2016.
class KingTally {
 public:
  static constexpr std::uint64_t kWhiteLane = 1;
  static constexpr std::uint64_t kBlackLane = std::uint64_t{1} << 32;

  // `lane` is 0 for anything but a king.
  void Note(std::uint64_t lane, int square) {
    lanes_ += lane * (1 + (static_cast<std::uint64_t>(square) << kSumShift));
  }
  int Count(std::uint64_t lane) const { return static_cast<int>(Lane(lane) & kCountMask); }
  int Square(std::uint64_t lane) const { return static_cast<int>(Lane(lane) >> kSumShift); }

 private:
  static constexpr unsigned kSumShift = 8;
  static constexpr std::uint64_t kCountMask = 0xFF;

  std::uint32_t Lane(std::uint64_t lane) const {
    return static_cast<std::uint32_t>(lanes_ >> (lane == kWhiteLane ? 0 : 32));
  }

  std::uint64_t lanes_ = 0;
};

// What one byte of the board field does, decided by a single table look-up. Piece letters, digits
// and separators are all read as one kind of step, without a branch on which of them it is,
// because which comes next in FEN text is more than a branch predictor can learn. A piece letter
// covers one square, a digit that many empty squares, a separator none; each adds that many bits
// to the occupancy word (1 for a piece, 0s for a run) and its code to the record (a run: one 0
// bit per square).
struct BoardByte {
  // The step fits only while the file is one of the `fitting_files` files from `lowest_file` on:
  // a separator needs file 8, a piece a file up to 7, a run of d squares a file up to 8 - d.
  // Every other byte (the space that ends the field, the digits 0 and 9, anything else) fits no
  // file. An entry left zero is such a byte.
  std::uint8_t lowest_file = 0;
  std::uint8_t fitting_files = 0;
  std::uint8_t separator = 0;  // 1 for '/'
  std::uint8_t squares = 0;
  Piece piece = kNoPiece;     // kNoPiece for a run and a separator
  std::uint8_t occupied = 0;  // 1 for a piece
  HuffmanCode code{0, 0};
  std::uint64_t king_lane = 0;  // a king's lane unit in KingTally
};

constexpr std::array<BoardByte, 256> kBoardBytes = [] {
  std::array<BoardByte, 256> table{};
  table['/'] = {8, 1, 1};
  for (std::uint8_t run = 1; run <= 8; ++run) {
    const auto fitting_files = static_cast<std::uint8_t>(9 - run);
    table['0' + run] = {0, fitting_files, 0, run, kNoPiece, 0, {0, run}};
  }
  for (Piece piece = 1; piece <= 12; ++piece) {
    BoardByte& letter = table[static_cast<unsigned char>(kPieceLetters[piece])];
    letter = {0, 8, 0, 1, piece, 1, kSquareCodes[piece]};
    letter.king_lane = piece == kWhiteKing   ? KingTally::kWhiteLane
                       : piece == kBlackKing ? KingTally::kBlackLane
                                             : 0;
  }
  return table;
}();

// A separator must end a full rank other than the last; squares must not run past the rank's end.
bool FitsRank(const BoardByte& byte, int file, int rank) {
  return static_cast<unsigned>(file - byte.lowest_file) < byte.fitting_files &&
         rank >= byte.separator;
}

// The message for a byte that does not fit the rank and is not the end of the field.
const char* MessageForMisfit(char c, const BoardByte& byte) {
  if (byte.fitting_files == 0) {
    return c == '0' || c == '9' ? kInvalidEmptyRunMessage : kInvalidPieceCharacterMessage;
  }
  if (byte.separator != 0) return kMalformedSeparatorsMessage;
  return byte.piece == kNoPiece ? kInvalidEmptyRunMessage : kBoardOverflowMessage;
}

// Reads the board field once, a8 first, from `pos` up to the first space or the end of `text`,
// and leaves `pos` there. On the way it learns everything the record and the routing need: the
// pieces, the king squares and counts, the occupancy word and the record's board section. Returns
// nullptr or the message for the first offending byte, then the whole-field checks in the
// general route's order. The walk's state lives in locals, not in `position`, so that the
// compiler can keep it in registers across the stores to the board.
const char* ReadBoard(std::string_view text, std::size_t& pos, FastPosition& position) {
  int file = 0;
  int rank = 7;  // counts the separators too: seven of them take it from 7 to 0
  std::uint64_t occupancy = 0;
  KingTally kings;
  PackedSfenBitWriter record = StartPackedSfenBoard();
  BitAccumulator pending;
  const char* next = text.data() + pos;
  const char* const end = text.data() + text.size();
  for (; next != end; ++next) {
    const BoardByte& byte = kBoardBytes[static_cast<unsigned char>(*next)];
    if (!FitsRank(byte, file, rank)) {
      if (*next == ' ') break;
      return MessageForMisfit(*next, byte);
    }
    // A separator moves to the start of the next rank; anything else stays on this one.
    rank -= byte.separator;
    file &= byte.separator - 1;  // a separator clears every bit, anything else none
    // The step's first square is on the board now. A run or a separator stores kNoPiece there,
    // on a square not read yet and so still empty: storing regardless spares a branch.
    const int square = rank * 8 + file;
    position.board[square] = byte.piece;
    file += byte.squares;
    occupancy = (occupancy << byte.squares) | byte.occupied;
    pending.Append(byte.code.value, byte.code.width, record);
    kings.Note(byte.king_lane, square);
  }
  pos = static_cast<std::size_t>(next - text.data());
  if (rank != 0 || file != 8) return kRankCountMessage;
  if (kings.Count(KingTally::kWhiteLane) != 1 || kings.Count(KingTally::kBlackLane) != 1) {
    return kKingCountMessage;
  }
  pending.Flush(record);
  position.board_record = record;
  position.white_king_square = kings.Square(KingTally::kWhiteLane);
  position.black_king_square = kings.Square(KingTally::kBlackLane);
  position.occupancy = occupancy;
  return nullptr;
}

bool IsSquare(int square) { return square >= 0 && square < kSquareCount; }

bool HasRecordBits(const PackedSfenBitWriter& record) { return record.bits_used() != 0; }

// The strict reading: the board is read up to the first space, then the other fields are split
// from what follows it.
const char* ReadFenFast(std::string_view text, FastPosition& position) {
  std::size_t pos = text.find_first_not_of(' ');
  if (pos == std::string_view::npos) return kMissingBoardMessage;
  if (const char* message = ReadBoard(text, pos, position)) return message;
  FenFields fields;
  SplitFenFieldsAfterBoard(text.substr(pos), fields);
  return ReadFenState(fields, position.state);
}

// The lenient reading: the fields are split first, then the board field is read on its own.
const char* ReadFenFastByLenientFields(std::string_view text, FastPosition& position) {
  const std::optional<FenFields> fields = SplitLenientFenFields(text);
  if (!fields) return kMissingBoardMessage;
  std::size_t pos = 0;
  if (const char* message = ReadBoard(fields->board, pos, position)) return message;
  return ReadFenState(*fields, position.state);
}

}  // namespace

util::Result<FastPosition> ParseFenFast(std::string_view text) {
  FastPosition position;
  if (const char* message = ReadFenFast(text, position)) return util::Fail(message);
  return position;
}

util::Result<FastEncodeResult> EncodeFastPosition(const FastPosition& position) {
  if (!IsSquare(position.white_king_square) || !IsSquare(position.black_king_square) ||
      position.white_king_square == position.black_king_square) {
    return util::Fail("Position contains invalid king squares.");
  }
  if (position.state.halfmove_clock > kMaxPackedHalfmoveClock) {
    return util::Fail(kRule50CapacityMessage);
  }
  util::Result<PackedSfen> record = FinishPackedSfenRecord(
      HasRecordBits(position.board_record)
          ? position.board_record
          : WritePackedSfenBoard(position.board, position.occupancy),
      position.state, position.white_king_square, position.black_king_square);
  if (!record) return std::move(record).TakeError();
  return FastEncodeResult{*record, position.occupancy, position.occupancy >> kRoutingShift};
}

util::Result<FastEncodeResult> EncodeFenFast(std::string_view text) {
  util::Result<FastPosition> position = ParseFenFast(text);
  if (!position) return std::move(position).TakeError();
  return EncodeFastPosition(*position);
}

util::Result<FastEncodeResult> EncodeFenFast(std::string_view text, FenReading reading) {
  if (reading == FenReading::kStrict) return EncodeFenFast(text);
  FastPosition position;
  bool lenient_only = false;
  if (const char* message =
          ReadFenLeniently(text, position, lenient_only, ReadFenFast, ReadFenFastByLenientFields)) {
    return util::Fail(message);
  }
  util::Result<FastEncodeResult> encoded = EncodeFastPosition(position);
  if (encoded) encoded->lenient_only = lenient_only;
  return encoded;
}

}  // namespace boardmill::chess
