#pragma once

#include <string>
#include <string_view>

namespace boardmill::app {

// Both read the FEN strictly, or leniently after the word --lenient-fen.
// roundtrip-fen: encode the FEN, decode the record, print the canonical FEN.
int RunRoundtripFen(int argc, char** argv);
// encode-fen: encode the FEN and print the record as 64 hexadecimal digits.
int RunEncodeFen(int argc, char** argv);

// The usage line of both: the command, the optional word and the FEN argument.
std::string FenCommandSynopsis(std::string_view command);

}  // namespace boardmill::app
