#pragma once

// A Zstandard encoder and decoder for the harnesses, written straight against the library and
// sharing no code with the readers under test, so that they can serve as the expected side.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// How to write one frame: the level, whether a checksum follows the content, and whether the
// frame is streamed without announcing its content size (as a writer that does not know the
// size in advance would).
struct FrameStyle {
  int level = 1;
  bool checksum = false;
  bool streamed = false;

  // Low, fast levels only: the readers do not care how hard the writer tried.
  static FrameStyle FromByte(std::uint8_t byte);
};

struct CompressedFrames {
  std::string bytes;
  // Offsets in `bytes` where a frame ends and in the text where its content ends, frame by frame.
  std::vector<std::size_t> frame_ends;
  std::vector<std::size_t> text_ends;
};

// Compresses the pieces of `text` between consecutive `cuts` (ascending, at most text.size())
// as one frame each; the last frame runs to the end of the text. Empty pieces make empty frames.
CompressedFrames CompressFrames(std::string_view text, std::span<const std::size_t> cuts,
                                FrameStyle style);

struct ReferenceDecode {
  // The content before any error or the end of the input.
  std::string text;
  // Empty on success; else the library's error name, or "truncated" when the input ends inside
  // a frame.
  std::string error;
};

// Decodes `chunks`, one after the other, as one stream of frames through an output buffer of
// `output_size` bytes (at least 1), calling the library until each chunk is consumed and the
// buffer is no longer filled. How the library checks damaged frames can depend on the sizes it
// is handed (a frame whose whole announced content fits the buffer is decoded and checked in one
// go), so a differential check must hand over the same pieces.
ReferenceDecode DecodeFrames(std::span<const std::string_view> chunks, std::size_t output_size);

// An upper bound, rough but cheap, of the bytes `bytes` can decode to, even when damaged.
std::size_t DecodedSizeBound(std::string_view bytes);

}  // namespace boardmill::testing
