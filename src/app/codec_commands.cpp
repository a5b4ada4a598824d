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

int PrintError(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

util::Result<chess::PackedSfen> EncodeFenArgument(const char* fen) {
  util::Result<chess::Position> position = chess::ParseFen(fen);
  if (!position) return std::move(position).TakeError();
  return chess::EncodePackedSfen(*position);
}

}  // namespace

int RunRoundtripFen(int argc, char** argv) {
  const util::Result<void> checked = CheckOperands(argc, argv, kFenOperand);
  if (!checked) return RefuseCommandLine(checked.error());
  const util::Result<chess::PackedSfen> record = EncodeFenArgument(argv[2]);
  if (!record) return PrintError(record.error());
  const util::Result<chess::Position> decoded = chess::DecodePackedSfen(*record);
  if (!decoded) return PrintError(decoded.error());
  std::printf("%s\n", chess::FormatFen(*decoded).c_str());
  return 0;
}

int RunEncodeFen(int argc, char** argv) {
  const util::Result<void> checked = CheckOperands(argc, argv, kFenOperand);
  if (!checked) return RefuseCommandLine(checked.error());
  const util::Result<chess::PackedSfen> record = EncodeFenArgument(argv[2]);
  if (!record) return PrintError(record.error());
  std::printf("%s\n", chess::FormatPackedSfenHex(*record).c_str());
  return 0;
}

std::string FenCommandSynopsis(std::string_view command) { return Synopsis(command, kFenOperand); }

}  // namespace boardmill::app
