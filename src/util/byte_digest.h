#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include "util/result.h"

struct XXH64_state_s;

namespace boardmill::util {

// The length and XXH64 (seed 0) of a stream of bytes, fed piece by piece as the bytes go out, so
// that what a file received is known without reading it back.
class ByteDigest {
 public:
  ByteDigest();

  void Add(std::span<const std::uint8_t> bytes);
  // Forgets everything added, as for a stream that starts again.
  void Reset();

  std::uint64_t bytes() const { return bytes_; }
  std::uint64_t Hash() const;

 private:
  struct StateDeleter {
    void operator()(XXH64_state_s* state) const;
  };

  // The library's opaque state: its layout may differ between library versions.
  std::unique_ptr<XXH64_state_s, StateDeleter> state_;
  std::uint64_t bytes_ = 0;
};

// The digest of a whole regular file, read through a 1 MiB buffer; `what` names the file in the
// messages (see OpenRegularFile).
Result<ByteDigest> DigestFile(const std::filesystem::path& path,
                              std::string_view what = "input file");

}  // namespace boardmill::util
