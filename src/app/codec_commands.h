#pragma once

#include <string>
#include <string_view>

namespace boardmill::app {

// roundtrip-fen: encode argv[2], decode the record, print the canonical FEN.
int RunRoundtripFen(int argc, char** argv);
// encode-fen: encode argv[2] and print the record as 64 hexadecimal digits.
int RunEncodeFen(int argc, char** argv);

// The usage line of both: the command and its one FEN argument.
std::string FenCommandSynopsis(std::string_view command);

}  // namespace boardmill::app
