#include "shards/shard_index_reader.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <system_error>

#include "chess/packed_sfen.h"
#include "shards/shard_naming.h"
#include "util/unique_file.h"

namespace boardmill::shards {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMostRecords =
    std::numeric_limits<std::uint64_t>::max() / chess::kPackedSfenSize;

// Walks the index text token by token. The first problem is kept and every later call does
// nothing, so that the parse reads as the shape it expects and checks for failure at the end.
class IndexTextReader {
 public:
  explicit IndexTextReader(std::string_view text) : text_(text) {}

  bool failed() const { return error_.has_value(); }
  const std::string& error() const { return *error_; }

  void Fail(std::string detail) {
    if (!error_) error_ = std::move(detail);
  }

  // True, and the character consumed, when it is the next one after white space.
  bool Consume(char expected) {
    SkipSpace();
    if (failed() || position_ >= text_.size() || text_[position_] != expected) return false;
    ++position_;
    return true;
  }

  void Expect(char expected) {
    if (!Consume(expected)) FailHere(std::string("expected '") + expected + "'");
  }

  // `"name":`
  void ExpectName(std::string_view name) {
    const std::size_t start = position_;
    if (ReadString() != name || !Consume(':')) {
      position_ = start;
      FailHere("expected " + JsonQuoted(name));
    }
  }

  // A string without escapes or control characters: the index holds none.
  std::string_view ReadString() {
    if (!Consume('"')) {
      FailHere("expected a string");
      return {};
    }
    const std::size_t start = position_;
    while (position_ < text_.size() && text_[position_] != '"') {
      const unsigned char c = static_cast<unsigned char>(text_[position_]);
      if (c == '\\' || c < 0x20) {
        FailHere("unexpected character in a string");
        return {};
      }
      ++position_;
    }
    if (position_ >= text_.size()) {
      FailHere("unterminated string");
      return {};
    }
    return text_.substr(start, position_++ - start);
  }

  // A whole number in plain decimal, without sign, fraction, exponent or leading zeros.
  std::uint64_t ReadCount() {
    SkipSpace();
    const std::size_t start = position_;
    std::uint64_t value = 0;
    while (!failed() && position_ < text_.size() && IsDigit(text_[position_])) {
      const std::uint64_t digit = static_cast<std::uint64_t>(text_[position_] - '0');
      if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
        FailHere("number out of range");
        return 0;
      }
      value = value * 10 + digit;
      ++position_;
    }
    const std::size_t digits = position_ - start;
    if (!failed() && (digits == 0 || (digits > 1 && text_[start] == '0'))) {
      position_ = start;
      FailHere("expected a whole number");
    }
    return value;
  }

  void ExpectEnd() {
    SkipSpace();
    if (!failed() && position_ != text_.size()) FailHere("unexpected text after the index");
  }

 private:
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  void SkipSpace() {
    while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\n' ||
                                        text_[position_] == '\t' || text_[position_] == '\r')) {
      ++position_;
    }
  }

  void FailHere(const std::string& what) { Fail(what + " at byte " + std::to_string(position_)); }

  std::string_view text_;
  std::size_t position_ = 0;
  std::optional<std::string> error_;
};

void ExpectText(IndexTextReader& reader, std::string_view name, std::string_view value) {
  reader.ExpectName(name);
  if (reader.ReadString() != value && !reader.failed()) {
    reader.Fail(JsonQuoted(name) + " is not " + JsonQuoted(value));
  }
  reader.Expect(',');
}

// "routing": any kind this program writes, since verification follows the kind it reads.
RoutingKind ReadRouting(IndexTextReader& reader) {
  reader.ExpectName("routing");
  const std::optional<RoutingKind> routing = ParseRoutingName(reader.ReadString());
  if (!routing && !reader.failed()) {
    reader.Fail("\"routing\" is not " + KnownRoutingNames());
  }
  reader.Expect(',');
  return routing.value_or(RoutingKind::kOccupancy);
}

std::uint64_t ReadCountMember(IndexTextReader& reader, std::string_view name) {
  reader.ExpectName(name);
  return reader.ReadCount();
}

void ExpectCount(IndexTextReader& reader, std::string_view name, std::uint64_t value) {
  if (ReadCountMember(reader, name) != value && !reader.failed()) {
    reader.Fail(JsonQuoted(name) + " is not " + std::to_string(value));
  }
  reader.Expect(',');
}

std::optional<std::uint64_t> ParseXxh64(std::string_view digits) {
  if (digits.size() != 16) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const bool decimal = c >= '0' && c <= '9';
    if (!decimal && !(c >= 'a' && c <= 'f')) return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(decimal ? c - '0' : c - 'a' + 10);
  }
  return value;
}

// One entry of "shards"; `id` is its place in the list.
IndexedShard ReadShard(IndexTextReader& reader, std::uint64_t id, std::uint64_t shard_count) {
  const std::string where = " of shard " + std::to_string(id);
  IndexedShard shard;
  reader.Expect('{');
  reader.ExpectName("file");
  const std::string expected_file = ShardFileName(id, shard_count);
  if (reader.ReadString() != expected_file && !reader.failed()) {
    reader.Fail("\"file\"" + where + " is not " + JsonQuoted(expected_file));
  }
  reader.Expect(',');
  shard.records = ReadCountMember(reader, "records");
  reader.Expect(',');
  const std::uint64_t raw_bytes = ReadCountMember(reader, "raw_bytes");
  if (!reader.failed() &&
      (shard.records > kMostRecords || raw_bytes != shard.records * chess::kPackedSfenSize)) {
    reader.Fail("\"raw_bytes\"" + where + " is not 32 times its records");
  }
  reader.Expect(',');
  shard.bytes = ReadCountMember(reader, "bytes");
  reader.Expect(',');
  reader.ExpectName("xxh64");
  const std::optional<std::uint64_t> hash = ParseXxh64(reader.ReadString());
  if (!hash && !reader.failed()) {
    reader.Fail("\"xxh64\"" + where + " is not 16 lowercase hexadecimal digits");
  }
  shard.xxh64 = hash.value_or(0);
  reader.Expect('}');
  return shard;
}

std::vector<IndexedShard> ReadShardList(IndexTextReader& reader, std::uint64_t shard_count) {
  std::vector<IndexedShard> shards;
  reader.ExpectName("shards");
  reader.Expect('[');
  if (reader.Consume(']')) return shards;
  do {
    if (shards.size() == shard_count) {
      reader.Fail("\"shards\" lists more than " + std::to_string(shard_count) + " shards");
      break;
    }
    shards.push_back(ReadShard(reader, shards.size(), shard_count));
  } while (reader.Consume(','));
  reader.Expect(']');
  return shards;
}

void CheckTotals(IndexTextReader& reader, const std::vector<IndexedShard>& shards,
                 std::uint64_t shard_count, std::uint64_t total_records) {
  if (reader.failed()) return;
  if (shards.size() != shard_count) {
    reader.Fail("\"shards\" lists " + std::to_string(shards.size()) + " shards, not " +
                std::to_string(shard_count));
    return;
  }
  std::uint64_t sum = 0;
  bool sum_fits = true;
  for (const IndexedShard& shard : shards) {
    sum_fits = sum_fits && shard.records <= std::numeric_limits<std::uint64_t>::max() - sum;
    if (sum_fits) sum += shard.records;
  }
  if (!sum_fits || sum != total_records)
    reader.Fail("\"total_records\" is not the sum of the shards' records");
}

util::Result<std::string> ReadIndexText(const fs::path& path) {
  const util::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return util::Fail("Failed to open shard index: " + path.string());
  std::string text;
  char buffer[1 << 16];
  while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, file.get())) {
    text.append(buffer, read);
  }
  if (std::ferror(file.get())) return util::Fail("Failed to read shard index: " + path.string());
  return text;
}

}  // namespace

util::Result<ShardIndex> ParseShardIndex(std::string_view text, const fs::path& path) {
  IndexTextReader reader(text);
  reader.Expect('{');
  ExpectText(reader, "format", kShardIndexFormat);
  ExpectCount(reader, "version", kShardIndexVersion);
  ExpectCount(reader, "record_bytes", chess::kPackedSfenSize);
  ExpectText(reader, "record_format", kShardIndexRecordFormat);
  const RoutingKind routing = ReadRouting(reader);
  const std::uint64_t shard_count = ReadCountMember(reader, "shard_count");
  if (shard_count == 0 && !reader.failed()) reader.Fail("\"shard_count\" is 0");
  reader.Expect(',');
  const std::uint64_t total_records = ReadCountMember(reader, "total_records");
  reader.Expect(',');
  ExpectText(reader, "compression", kShardIndexCompression);
  std::vector<IndexedShard> shards = ReadShardList(reader, shard_count);
  reader.Expect('}');
  reader.ExpectEnd();
  CheckTotals(reader, shards, shard_count, total_records);
  if (reader.failed()) {
    return util::Fail("Invalid shard index " + path.string() + ": " + reader.error() + ".");
  }
  return ShardIndex{.routing = routing, .shards = std::move(shards)};
}

util::Result<std::optional<ShardIndex>> LoadShardIndex(const fs::path& directory) {
  const fs::path path = directory / kShardIndexFileName;
  std::error_code error;
  if (fs::symlink_status(path, error).type() == fs::file_type::not_found) {
    return std::optional<ShardIndex>();
  }
  util::Result<std::string> text = ReadIndexText(path);
  if (!text) return std::move(text).TakeError();
  util::Result<ShardIndex> index = ParseShardIndex(*text, path);
  if (!index) return std::move(index).TakeError();
  return std::optional<ShardIndex>(std::move(*index));
}

}  // namespace boardmill::shards
