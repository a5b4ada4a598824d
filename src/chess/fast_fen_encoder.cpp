#include "chess/fast_fen_encoder.h"

#include "chess/fen_board.h"
#include "chess/fen_fields.h"
#include "chess/huffman_code.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {

namespace {

constexpr int kRoutingShift = 56;

// The kings seen on the board, both colours in one register: each colour has a 32-bit lane
// holding how often its king was seen (bits 0-7) and the sum of the squares it was seen on (bits
// 8-31). With exactly one sighting the sum is the king's square. Adding a table-given lane unit,
// rather than branching on a king, keeps the board loop free of a branch on a king, which stands
// at an unpredictable place in the text. The fields cannot overflow: a board has at most 64
// kings, and 64 squares sum to at most 4032.
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

// What one byte of the board field is to the fast reader, decided by a single table look-up.
enum class BoardByteKind : std::uint8_t {
  kStep,  // a piece letter, a run of empty squares or a rank separator
  kFieldEnd,
  kBadRun,  // the digits 0 and 9
  kInvalid,
};

// Piece letters, digits and separators are all read by one branch-free step, because which of
// them comes next in FEN text is more than a branch predictor can learn. A piece letter covers one
// square, a digit that many empty squares, a separator none; each adds that many bits to the
// occupancy word (1 for a piece, 0s for a run) and its code to the record (a run: one 0 bit per
// square).
struct BoardByte {
  BoardByteKind kind = BoardByteKind::kInvalid;
  std::uint8_t separator = 0;  // 1 for '/'
  std::uint8_t squares = 0;
  Piece piece = kNoPiece;  // kNoPiece for a run and a separator
  HuffmanCode code{0, 0};
  std::uint64_t king_lane = 0;  // a king's lane unit in KingTally
};

constexpr std::array<BoardByte, 256> kBoardBytes = [] {
  std::array<BoardByte, 256> table{};
  table['/'] = {BoardByteKind::kStep, 1};
  table[' '] = {BoardByteKind::kFieldEnd};
  table['0'] = {BoardByteKind::kBadRun};
  table['9'] = {BoardByteKind::kBadRun};
  for (std::uint8_t run = 1; run <= 8; ++run) {
    table['0' + run] = {BoardByteKind::kStep, 0, run, kNoPiece, {0, run}};
  }
  for (Piece piece = 1; piece <= 12; ++piece) {
    BoardByte& letter = table[static_cast<unsigned char>(kPieceLetters[piece])];
    letter = {BoardByteKind::kStep, 0, 1, piece, kSquareCodes[piece]};
    letter.king_lane = piece == kWhiteKing   ? KingTally::kWhiteLane
                       : piece == kBlackKing ? KingTally::kBlackLane
                                             : 0;
  }
  return table;
}();

// Collects codes in a register and hands them to the record writer a word at a time, so that
// consecutive codes do not wait on each other's stores to the same record word.
class BitAccumulator {
 public:
  // `value` must be below 2^width and width at most 16.
  void Append(std::uint32_t value, unsigned width, PackedSfenBitWriter& writer) {
    bits_ |= static_cast<std::uint64_t>(value) << count_;
    const unsigned free = 64 - count_;
    count_ += width;
    if (count_ >= 64) {
      writer.Write(bits_, 64);
      count_ -= 64;
      bits_ = static_cast<std::uint64_t>(value) >> free;  // the bits that did not fit
    }
  }
  void Flush(PackedSfenBitWriter& writer) {
    writer.Write(bits_, count_);
    bits_ = 0;
    count_ = 0;
  }

 private:
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;  // below 64 between calls
};

const char* MessageForByte(const BoardByte& byte) {
  return byte.kind == BoardByteKind::kBadRun ? kInvalidEmptyRunMessage
                                             : kInvalidPieceCharacterMessage;
}

// A separator must end a full rank other than the last; squares must not run past the rank's end.
// Written with bitwise operators so that the compiler need not branch on the kind of step.
bool BreaksRank(const BoardByte& byte, int file, int rank) {
  const bool past_end = file + byte.squares > 8;
  const bool misplaced_separator = (byte.separator != 0) & ((file != 8) | (rank == 0));
  return past_end | misplaced_separator;
}

const char* MessageForBrokenRank(const BoardByte& byte) {
  if (byte.separator != 0) return kMalformedSeparatorsMessage;
  return byte.piece == kNoPiece ? kInvalidEmptyRunMessage : kBoardOverflowMessage;
}

// Reads the board field once, a8 first, from `pos` up to the first space or the end of `text`,
// and leaves `pos` there. On the way it learns everything the record and the routing need: the
// pieces, the king squares and counts, the occupancy word and the record's board section. Returns
// nullptr or the message for the first offending byte, then the whole-field checks in the
// general route's order. The walk's state lives in locals so that it stays in registers.
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
    if (byte.kind != BoardByteKind::kStep) {
      if (byte.kind == BoardByteKind::kFieldEnd) break;
      return MessageForByte(byte);
    }
    if (BreaksRank(byte, file, rank)) return MessageForBrokenRank(byte);
    // A separator moves to the start of the next rank; anything else stays on this one.
    rank -= byte.separator;
    file &= byte.separator - 1;  // a separator clears every bit, anything else none
    // The step's first square is on the board now. A run or a separator stores kNoPiece there,
    // on a square not read yet and so still empty: storing regardless spares a branch.
    const int square = rank * 8 + file;
    position.board[square] = byte.piece;
    file += byte.squares;
    occupancy = (occupancy << byte.squares) | (byte.piece != kNoPiece ? 1U : 0U);
    pending.Append(byte.code.value, byte.code.width, record);
    kings.Note(byte.king_lane, square);
  }
  pos = static_cast<std::size_t>(next - text.data());
  if (rank != 0 || file != 8) return kRankCountMessage;
  if (kings.Count(KingTally::kWhiteLane) != 1 || kings.Count(KingTally::kBlackLane) != 1) {
    return kKingCountMessage;
  }
  pending.Flush(record);
  position.white_king_square = kings.Square(KingTally::kWhiteLane);
  position.black_king_square = kings.Square(KingTally::kBlackLane);
  position.occupancy = occupancy;
  position.board_record = record;
  return nullptr;
}

bool IsSquare(int square) { return square >= 0 && square < kSquareCount; }

bool HasRecordBits(const PackedSfenBitWriter& record) { return record.bits_used() != 0; }

}  // namespace

util::Result<FastPosition> ParseFenFast(std::string_view text) {
  std::size_t pos = text.find_first_not_of(' ');
  if (pos == std::string_view::npos) return util::Fail(kMissingBoardMessage);

  FastPosition position;
  if (const char* message = ReadBoard(text, pos, position)) return util::Fail(message);

  FenFields fields;
  SplitFenFieldsAfterBoard(text.substr(pos), fields);
  util::Result<FenState> state = ParseFenState(fields);
  if (!state) return std::move(state).TakeError();
  position.side_to_move = state->side_to_move;
  position.castling_rights = state->castling_rights;
  position.en_passant_square = state->en_passant_square;
  position.halfmove_clock = state->halfmove_clock;
  position.fullmove_number = state->fullmove_number;
  return position;
}

util::Result<FastEncodeResult> EncodeFastPosition(const FastPosition& position) {
  if (!IsSquare(position.white_king_square) || !IsSquare(position.black_king_square) ||
      position.white_king_square == position.black_king_square) {
    return util::Fail("Position contains invalid king squares.");
  }
  if (position.halfmove_clock > kMaxPackedHalfmoveClock) return util::Fail(kRule50CapacityMessage);
  const FenState state{position.side_to_move, position.castling_rights, position.en_passant_square,
                       position.halfmove_clock, position.fullmove_number};
  const PackedSfenBitWriter board_record =
      HasRecordBits(position.board_record)
          ? position.board_record
          : WritePackedSfenBoard(position.board, position.occupancy);
  util::Result<PackedSfen> record = FinishPackedSfenRecord(
      board_record, state, position.white_king_square, position.black_king_square);
  if (!record) return std::move(record).TakeError();
  return FastEncodeResult{*record, position.occupancy, position.occupancy >> kRoutingShift};
}

util::Result<FastEncodeResult> EncodeFenFast(std::string_view text) {
  util::Result<FastPosition> position = ParseFenFast(text);
  if (!position) return std::move(position).TakeError();
  return EncodeFastPosition(*position);
}

}  // namespace boardmill::chess
