// boardmill_decode and boardmill_encode against the codec: every record of the sample
// conversion, and records built to probe the decoder's edges (codes no piece has, boards that
// run up to and past bit 255, arbitrary bytes).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "boardmill/boardmill.h"
#include "fuzz/library_decode_properties.h"
#include "sample_conversion.h"

namespace boardmill::testing {
namespace {

constexpr std::size_t kRecordSize = 32;

const std::uint8_t* Bytes(const std::string& records) {
  return reinterpret_cast<const std::uint8_t*>(records.data());
}

// FEN written from the columns alone, by a writer of the test's own, to hold the decoder to what
// `decode-shards` prints.
std::string FenOfRow(const PositionColumns& columns, std::size_t i) {
  static constexpr char kLetters[] = " PpNnBbRrQqKk";
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    std::string squares;
    for (int file = 0; file < 8; ++file)
      squares += kLetters[columns.pieces[i * 64 + rank * 8 + file]];
    fen += FenRank(squares);
    if (rank != 0) fen += '/';
  }
  fen += columns.side_to_move[i] != 0 ? " b " : " w ";
  std::string castling;
  for (int bit = 0; bit < 4; ++bit) {
    if ((columns.castling[i] >> bit) & 1) castling += "KQkq"[bit];
  }
  fen += castling.empty() ? "-" : castling;
  fen += ' ';
  const int ep = columns.ep_square[i];
  fen += ep < 0 ? std::string("-")
                : std::string{static_cast<char>('a' + ep % 8), static_cast<char>('1' + ep / 8)};
  return fen + ' ' + std::to_string(columns.halfmove[i]) + ' ' +
         std::to_string(columns.fullmove[i]);
}

TEST(LibraryRecordCodec, DecodesEverySampleRecordAsTheCodecAndDecodeShardsDo) {
  const SampleConversion& sample = SampleConversion::Get();
  const std::string all = sample.AllRecords();
  const std::size_t n = all.size() / kRecordSize;
  ASSERT_GT(n, 1000U);
  EXPECT_EQ(CheckBatchDecodeAgrees({Bytes(all), all.size()}), "");

  PositionColumns columns(n);
  boardmill_positions view = columns.View();
  ASSERT_EQ(boardmill_decode(Bytes(all), n, &view), static_cast<std::int64_t>(n));
  const ProgramRun printed = RunBoardmill({"decode-shards", sample.directory().string()});
  ASSERT_EQ(printed.exit_code, 0) << printed.err;
  const std::vector<std::string> fens = Split(printed.out, '\n');
  ASSERT_EQ(fens.size(), n + 1);  // the last line feed ends an empty field
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(FenOfRow(columns, i), fens[i]) << "record " << i;
}

TEST(LibraryRecordCodec, EncodesEverySampleRecordBackByteForByte) {
  const std::string all = SampleConversion::Get().AllRecords();
  const std::size_t n = all.size() / kRecordSize;
  PositionColumns columns(n);
  boardmill_positions view = columns.View();
  ASSERT_EQ(boardmill_decode(Bytes(all), n, &view), static_cast<std::int64_t>(n));
  std::string encoded(all.size(), '\0');
  ASSERT_EQ(boardmill_encode(&view, n, reinterpret_cast<std::uint8_t*>(encoded.data())), 0)
      << boardmill_last_error();
  EXPECT_TRUE(encoded == all);
}

// Appends fields least significant bit first, as the record does.
class TestBitWriter {
 public:
  void Write(std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i, ++bit_) {
      if (bit_ < 8 * kRecordSize && ((value >> i) & 1) != 0) bytes_[bit_ / 8] |= 1 << (bit_ % 8);
    }
  }
  const std::array<std::uint8_t, kRecordSize>& bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kRecordSize> bytes_{};
  unsigned bit_ = 0;
};

// A record laid out as the encoder would, but with choices it never makes: any number of
// pieces (so boards run up to and past the last bit), now and then a code no piece has, equal
// king squares, random bits after the last field.
std::array<std::uint8_t, kRecordSize> StructuredRecord(std::mt19937_64& random) {
  TestBitWriter writer;
  writer.Write(random(), 1);
  const unsigned white_king = random() % 64;
  writer.Write(white_king, 6);
  writer.Write(random() % 50 == 0 ? white_king : random() % 64, 6);
  const double piece_share = std::uniform_real_distribution<double>(0.0, 0.7)(random);
  const bool bad_codes = random() % 8 == 0;
  for (int token = 0; token < 62; ++token) {
    if (std::uniform_real_distribution<double>(0.0, 1.0)(random) >= piece_share) {
      writer.Write(0, 1);
      continue;
    }
    const unsigned code = bad_codes ? 1 + 2 * (random() % 8) : 1 + 2 * (random() % 5);
    writer.Write(code | (random() % 2) << 4, 5);
  }
  writer.Write(random(), 4);
  const bool has_ep = random() % 2 == 0;
  writer.Write(has_ep, 1);
  if (has_ep) writer.Write(random(), 6);
  writer.Write(random(), 23);
  writer.Write(random(), 64);
  return writer.bytes();
}

TEST(LibraryRecordCodec, AgreesWithTheCodecOnBuiltAndArbitraryRecords) {
  std::mt19937_64 random(23);
  std::vector<std::uint8_t> records;
  for (int i = 0; i < 20000; ++i) {
    const std::array<std::uint8_t, kRecordSize> record = StructuredRecord(random);
    records.insert(records.end(), record.begin(), record.end());
  }
  for (int i = 0; i < 5000; ++i) {
    for (std::size_t byte = 0; byte < kRecordSize; ++byte) records.push_back(random() & 0xFF);
  }
  // Sample records with a few bits flipped.
  const std::string sample = SampleConversion::Get().AllRecords();
  for (std::size_t i = 0; i < sample.size() / kRecordSize; ++i) {
    std::uint8_t record[kRecordSize];
    std::memcpy(record, sample.data() + i * kRecordSize, kRecordSize);
    for (std::uint64_t flips = 1 + random() % 3; flips > 0; --flips) {
      const unsigned bit = random() % (8 * kRecordSize);
      record[bit / 8] ^= 1 << (bit % 8);
    }
    records.insert(records.end(), record, record + kRecordSize);
  }
  EXPECT_EQ(CheckBatchDecodeAgrees(records), "");
}

TEST(LibraryRecordCodec, WritesOnlyTheColumnsAskedFor) {
  const std::string all = SampleConversion::Get().AllRecords().substr(0, 64 * kRecordSize);
  PositionColumns full(64);
  boardmill_positions full_view = full.View();
  ASSERT_EQ(boardmill_decode(Bytes(all), 64, &full_view), 64);

  std::vector<std::uint8_t> pieces(64 * 64);
  std::vector<std::uint16_t> fullmove(64);
  boardmill_positions some{};
  some.pieces = pieces.data();
  some.fullmove = fullmove.data();
  EXPECT_EQ(boardmill_decode(Bytes(all), 64, &some), 64);
  EXPECT_EQ(pieces, full.pieces);
  EXPECT_EQ(fullmove, full.fullmove);
}

TEST(LibraryRecordCodec, EncodeNamesTheFirstPositionARecordCannotHold) {
  const std::string all = SampleConversion::Get().AllRecords().substr(0, 4 * kRecordSize);
  PositionColumns columns(4);
  boardmill_positions view = columns.View();
  ASSERT_EQ(boardmill_decode(Bytes(all), 4, &view), 4);
  std::vector<std::uint8_t> records(4 * kRecordSize);

  columns.halfmove[2] = 128;
  EXPECT_LT(boardmill_encode(&view, 4, records.data()), 0);
  EXPECT_STREQ(boardmill_last_error(),
               "Position 2 cannot be encoded: Rule-50 counter exceeds PackedSfen capacity.");
  EXPECT_EQ(0, std::memcmp(records.data(), all.data(), 2 * kRecordSize));  // those before it

  columns.halfmove[2] = 0;
  const std::uint8_t piece = columns.pieces[1 * 64 + 20];
  columns.pieces[1 * 64 + 20] = 13;
  EXPECT_LT(boardmill_encode(&view, 4, records.data()), 0);
  EXPECT_STREQ(boardmill_last_error(),
               "Position 1 cannot be encoded: piece code 13 on square 20 is not 0-12.");

  columns.pieces[1 * 64 + 20] = piece;
  columns.ep_square[3] = 64;
  EXPECT_LT(boardmill_encode(&view, 4, records.data()), 0);
  EXPECT_STREQ(boardmill_last_error(),
               "Position 3 cannot be encoded: en-passant square is neither -1 nor 0-63.");
}

}  // namespace
}  // namespace boardmill::testing
