#include "util/byte_digest.h"

#include <xxhash.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "util/regular_file.h"

namespace boardmill::util {

namespace {

constexpr XXH64_hash_t kSeed = 0;
constexpr std::size_t kReadChunkSize = std::size_t{1} << 20;

}  // namespace

void ByteDigest::StateDeleter::operator()(XXH64_state_s* state) const { XXH64_freeState(state); }

ByteDigest::ByteDigest() : state_(XXH64_createState()) {
  if (!state_) throw std::bad_alloc();
  Reset();
}

void ByteDigest::Add(std::span<const std::uint8_t> bytes) {
  XXH64_update(state_.get(), bytes.data(), bytes.size());
  bytes_ += bytes.size();
}

void ByteDigest::Reset() {
  XXH64_reset(state_.get(), kSeed);
  bytes_ = 0;
}

std::uint64_t ByteDigest::Hash() const { return XXH64_digest(state_.get()); }

Result<ByteDigest> DigestFile(const std::filesystem::path& path, std::string_view what) {
  const Result<UniqueFile> file = OpenRegularFile(path, what);
  if (!file) return Fail(file.error());
  ByteDigest digest;
  std::vector<std::uint8_t> chunk(kReadChunkSize);
  while (const std::size_t read = std::fread(chunk.data(), 1, chunk.size(), file->get())) {
    digest.Add({chunk.data(), read});
  }
  if (std::ferror(file->get())) {
    return Fail("Failed while reading " + std::string(what) + ": " + path.string());
  }
  return digest;
}

}  // namespace boardmill::util
