#include "app/codec_commands.h"

#include <cstdio>

#include "app/command_grammar.h"
#include "app/usage.h"
#include "chess/fen_format.h"
#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::app {

namespace {

// Arguments after the FEN are ignored.
constexpr Operands kFenOperand{"\"<fen>\"", 1};
// The word before the FEN that selects the lenient reading.
constexpr std::string_view kLenientFenWord = "--lenient-fen";
constexpr Operands kFenUsage{"[--lenient-fen] \"<fen>\"", 1};

int PrintError(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

struct FenArgument {
  const char* text;
  chess::FenReading reading;
};

// The FEN operand, after the optional word that selects the lenient reading.
util::Result<FenArgument> ReadFenArgument(int argc, char** argv) {
  const bool lenient = argc > 2 && argv[2] == kLenientFenWord;
  const int words_before = lenient ? 1 : 0;
  util::Result<void> checked = CheckOperands(argc - words_before, argv, kFenOperand);
  if (!checked) return std::move(checked).TakeError();
  return FenArgument{argv[2 + words_before],
                     lenient ? chess::FenReading::kLenient : chess::FenReading::kStrict};
}

util::Result<chess::PackedSfen> EncodeFenArgument(const FenArgument& fen) {
  util::Result<chess::ParsedFen> parsed = chess::ParseFen(fen.text, fen.reading);
  if (!parsed) return std::move(parsed).TakeError();
  return chess::EncodePackedSfen(parsed->position);
}

}  // namespace

int RunRoundtripFen(int argc, char** argv) {
  const util::Result<FenArgument> fen = ReadFenArgument(argc, argv);
  if (!fen) return RefuseCommandLine(fen.error());
  const util::Result<chess::PackedSfen> record = EncodeFenArgument(*fen);
  if (!record) return PrintError(record.error());
  const util::Result<chess::Position> decoded = chess::DecodePackedSfen(*record);
  if (!decoded) return PrintError(decoded.error());
  std::printf("%s\n", chess::FormatFen(*decoded).c_str());
  return 0;
}

int RunEncodeFen(int argc, char** argv) {
  const util::Result<FenArgument> fen = ReadFenArgument(argc, argv);
  if (!fen) return RefuseCommandLine(fen.error());
  const util::Result<chess::PackedSfen> record = EncodeFenArgument(*fen);
  if (!record) return PrintError(record.error());
  std::printf("%s\n", chess::FormatPackedSfenHex(*record).c_str());
  return 0;
}

std::string FenCommandSynopsis(std::string_view command) { return Synopsis(command, kFenUsage); }

}  // namespace boardmill::app
