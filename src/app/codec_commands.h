#pragma once

namespace boardmill::app {

// roundtrip-fen: encode argv[2], decode the record, print the canonical FEN.
int RunRoundtripFen(int argc, char** argv);
// encode-fen: encode argv[2] and print the record as 64 hexadecimal digits.
int RunEncodeFen(int argc, char** argv);

}  // namespace boardmill::app
