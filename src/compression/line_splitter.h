#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "util/result.h"

namespace boardmill::compression {

// Cuts text that arrives in chunks into lines. A line feed ends a line and one carriage return
// before it is dropped; empty lines are skipped and take no number, so line numbers do not
// depend on where the chunks are cut. A line that lies inside one chunk is handed over in place;
// one that straddles chunks is gathered in the splitter's carry and handed over as a string the
// receiver keeps.
//
// No line is held whole beyond kMaxLineBytes: a longer line is handed over as its first
// kMaxLineBytes + 1 bytes (so its receiver can tell it apart by its size) and the rest is skipped
// as it arrives. It still takes one line number, and the lines after it are read on.
inline constexpr std::size_t kMaxLineBytes = 65536;

class LineSplitter {
 public:
  LineSplitter() { carry_.reserve(kCarryReserve); }

  // Hands each line that `chunk` completes to `in_chunk(std::string_view text, number)`, text
  // pointing into the chunk, or to `carried(std::string&& text, number)`. Both return a
  // util::Result<bool>: false or an error ends the split at once and is returned, the rest of
  // the chunk unread. Otherwise the unterminated end of the chunk waits in the carry.
  template <typename InChunk, typename Carried>
  util::Result<bool> Split(std::string_view chunk, InChunk&& in_chunk, Carried&& carried) {
    std::size_t start = 0;
    while (const void* found = std::memchr(chunk.data() + start, '\n', chunk.size() - start)) {
      const std::size_t end =
          static_cast<std::size_t>(static_cast<const char*>(found) - chunk.data());
      const std::string_view piece = chunk.substr(start, end - start);
      start = end + 1;
      util::Result<bool> more =
          carry_.empty() ? TakeInChunk(piece, in_chunk) : TakeCarried(piece, carried);
      if (!more || !*more) return more;
    }
    AppendToCarry(chunk.substr(start));
    return true;
  }

  // Ends the text: an unterminated last line goes to `carried`, as in Split.
  template <typename Carried>
  util::Result<bool> Finish(Carried&& carried) {
    if (carry_.empty()) return true;
    return TakeCarried({}, carried);
  }

  // Ready for another text, keeping the carry's room.
  void Restart() {
    carry_.clear();
    carry_cut_ = false;
    line_count_ = 0;
  }

  // The lines handed over since the start of the text.
  std::uint64_t line_count() const { return line_count_; }

 private:
  // Room for an unterminated line, so that the carry rarely grows.
  static constexpr std::size_t kCarryReserve = 4096;

  // The most bytes of one line that are kept: one beyond the limit marks a line as too long.
  static constexpr std::size_t kKeptLineBytes = kMaxLineBytes + 1;

  // A piece longer than kKeptLineBytes is too long with or without a carriage return, and is cut;
  // a shorter one is whole and loses its carriage return.
  static std::string_view WithoutCarriageReturn(std::string_view line) {
    if (line.size() > kKeptLineBytes) return line.substr(0, kKeptLineBytes);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  // Keeps at most kKeptLineBytes of the carried line; `carry_cut_` records that more came.
  void AppendToCarry(std::string_view piece) {
    const std::size_t room = kKeptLineBytes - std::min(carry_.size(), kKeptLineBytes);
    if (piece.size() > room) carry_cut_ = true;
    carry_.append(piece.substr(0, std::min(piece.size(), room)));
  }

  template <typename InChunk>
  util::Result<bool> TakeInChunk(std::string_view piece, InChunk& in_chunk) {
    const std::string_view line = WithoutCarriageReturn(piece);
    if (line.empty()) return true;
    return in_chunk(line, ++line_count_);
  }

  template <typename Carried>
  util::Result<bool> TakeCarried(std::string_view piece, Carried& carried) {
    AppendToCarry(piece);
    if (!carry_cut_ && carry_.back() == '\r') carry_.pop_back();
    carry_cut_ = false;
    if (carry_.empty()) return true;
    std::string line = std::exchange(carry_, std::string());
    carry_.reserve(kCarryReserve);
    return carried(std::move(line), ++line_count_);
  }

  std::string carry_;
  bool carry_cut_ = false;
  std::uint64_t line_count_ = 0;
};

}  // namespace boardmill::compression
