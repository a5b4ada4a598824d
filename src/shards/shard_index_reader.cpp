#include "shards/shard_index_reader.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "chess/packed_sfen.h"
#include "shards/shard_naming.h"
#include "shards/shard_routing.h"
#include "util/regular_file.h"

namespace boardmill::shards {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Far beyond the index of the largest shard count (about 150 bytes a shard), and small enough to
// hold in memory: a larger file is not an index this program wrote.
constexpr std::size_t kMostIndexBytes = std::size_t{64} << 20;

constexpr std::uint64_t kMostRecords =
    std::numeric_limits<std::uint64_t>::max() / chess::kPackedSfenSize;

// Checks the members of a parsed index. The first problem is kept and every later check does
// nothing, so that the reading goes straight through the shape it expects and looks for a
// failure at the end. `where` (" of shard 3", or empty) places a member in the messages.
class IndexChecker {
 public:
  bool failed() const { return error_.has_value(); }
  const std::string& error() const { return *error_; }

  void Fail(std::string detail) {
    if (!error_) error_ = std::move(detail);
  }

  // The member `name` of `object`, or null with the index refused when there is none. Members
  // the reader does not know are never looked at, so a later writer may add some.
  const Json& Member(const Json& object, std::string_view name, std::string_view where = {}) {
    static const Json kAbsent;
    if (failed()) return kAbsent;
    const auto found = object.find(name);
    if (found == object.end()) {
      Fail(JsonQuoted(name) + std::string(where) + " is missing");
      return kAbsent;
    }
    return *found;
  }

  void ExpectText(const Json& object, std::string_view name, std::string_view value) {
    const Json& member = Member(object, name);
    if (!failed() && !(member.is_string() && member.get_ref<const std::string&>() == value)) {
      Fail(JsonQuoted(name) + " is not " + JsonQuoted(value));
    }
  }

  // "routing": any kind this program writes, since verification follows the kind it reads.
  RoutingKind Routing(const Json& object) {
    const Json& member = Member(object, "routing");
    if (failed()) return RoutingKind::kOccupancy;
    const std::optional<RoutingKind> routing =
        member.is_string() ? ParseRoutingName(member.get_ref<const std::string&>()) : std::nullopt;
    if (!routing) Fail("\"routing\" is not " + KnownRoutingNames());
    return routing.value_or(RoutingKind::kOccupancy);
  }

  void ExpectCount(const Json& object, std::string_view name, std::uint64_t value) {
    const Json& member = Member(object, name);
    if (!failed() && !(member.is_number_unsigned() && member.get<std::uint64_t>() == value)) {
      Fail(JsonQuoted(name) + " is not " + std::to_string(value));
    }
  }

  // A whole number a count or size can be: no sign, fraction or exponent, below 2^64.
  std::uint64_t Count(const Json& object, std::string_view name, std::string_view where = {}) {
    const Json& member = Member(object, name, where);
    if (failed()) return 0;
    if (!member.is_number_unsigned()) {
      Fail(JsonQuoted(name) + std::string(where) + " is not a whole number below 2^64");
      return 0;
    }
    return member.get<std::uint64_t>();
  }

  // The member's text; empty when it is not a string, which every caller refuses as a value.
  std::string_view Text(const Json& object, std::string_view name, std::string_view where) {
    const Json& member = Member(object, name, where);
    return member.is_string() ? std::string_view(member.get_ref<const std::string&>())
                              : std::string_view();
  }

 private:
  std::optional<std::string> error_;
};

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
IndexedShard ReadShard(IndexChecker& checker, const Json& entry, std::uint64_t id,
                       std::uint64_t shard_count) {
  const std::string where = " of shard " + std::to_string(id);
  IndexedShard shard;
  if (!entry.is_object()) {
    checker.Fail("shard " + std::to_string(id) + " is not an object");
    return shard;
  }
  const std::string expected_file = ShardFileName(id, shard_count);
  if (checker.Text(entry, "file", where) != expected_file && !checker.failed()) {
    checker.Fail("\"file\"" + where + " is not " + JsonQuoted(expected_file));
  }
  shard.records = checker.Count(entry, "records", where);
  const std::uint64_t raw_bytes = checker.Count(entry, "raw_bytes", where);
  if (!checker.failed() &&
      (shard.records > kMostRecords || raw_bytes != shard.records * chess::kPackedSfenSize)) {
    checker.Fail("\"raw_bytes\"" + where + " is not 32 times its records");
  }
  shard.bytes = checker.Count(entry, "bytes", where);
  const std::optional<std::uint64_t> hash = ParseXxh64(checker.Text(entry, "xxh64", where));
  if (!hash && !checker.failed()) {
    checker.Fail("\"xxh64\"" + where + " is not 16 lowercase hexadecimal digits");
  }
  shard.xxh64 = hash.value_or(0);
  return shard;
}

std::vector<IndexedShard> ReadShardList(IndexChecker& checker, const Json& index,
                                        std::uint64_t shard_count) {
  std::vector<IndexedShard> shards;
  const Json& list = checker.Member(index, "shards");
  if (checker.failed()) return shards;
  if (!list.is_array()) {
    checker.Fail("\"shards\" is not a list");
  } else if (list.size() > shard_count) {
    checker.Fail("\"shards\" lists more than " + std::to_string(shard_count) + " shards");
  } else if (list.size() < shard_count) {
    checker.Fail("\"shards\" lists " + std::to_string(list.size()) + " shards, not " +
                 std::to_string(shard_count));
  }
  if (checker.failed()) return shards;
  shards.reserve(list.size());
  for (const Json& entry : list) {
    shards.push_back(ReadShard(checker, entry, shards.size(), shard_count));
    if (checker.failed()) break;
  }
  return shards;
}

void CheckTotal(IndexChecker& checker, const std::vector<IndexedShard>& shards,
                std::uint64_t total_records) {
  if (checker.failed()) return;
  std::uint64_t sum = 0;
  bool sum_fits = true;
  for (const IndexedShard& shard : shards) {
    sum_fits = sum_fits && shard.records <= std::numeric_limits<std::uint64_t>::max() - sum;
    if (sum_fits) sum += shard.records;
  }
  if (!sum_fits || sum != total_records) {
    checker.Fail("\"total_records\" is not the sum of the shards' records");
  }
}

// The library's account of where the text stops being JSON, without its exception's id:
// "parse error at line 3, column 5: syntax error while parsing ...". One line: it shows control
// characters of the text as <U+000A> and the like.
std::string DescribeParseError(const Json::parse_error& error) {
  const std::string_view what = error.what();
  const std::size_t id_end = what.find("] ");
  return std::string(id_end == std::string_view::npos ? what : what.substr(id_end + 2));
}

// Today's message for an index that is JSON but not one object, naming where the value starts.
std::string NotAnObject(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t\n\r");
  return "expected '{' at byte " + std::to_string(start == std::string_view::npos ? 0 : start);
}

util::Result<std::string> ReadIndexText(const fs::path& path) {
  util::Result<util::UniqueFile> file = util::OpenRegularFile(path, "shard index");
  if (!file) return std::move(file).TakeError();
  std::string text;
  char buffer[1 << 16];
  // Reads one byte past the cap, so that a file that grows while it is read is caught as well.
  while (text.size() <= kMostIndexBytes) {
    const std::size_t read = std::fread(buffer, 1, sizeof buffer, file->get());
    if (read == 0) break;
    text.append(buffer, read);
  }
  if (std::ferror(file->get())) return util::Fail("Failed to read shard index: " + path.string());
  if (text.size() > kMostIndexBytes) {
    return util::Fail("Shard index is larger than " + std::to_string(kMostIndexBytes >> 20) +
                      " MiB: " + path.string());
  }
  return text;
}

}  // namespace

util::Result<ShardIndex> ParseShardIndex(std::string_view text, const fs::path& path) {
  const std::string refused = "Invalid shard index " + path.string() + ": ";
  Json index;
  try {
    index = Json::parse(text);
  } catch (const Json::parse_error& error) {
    return util::Fail(refused + DescribeParseError(error) + ".");
  }
  if (!index.is_object()) return util::Fail(refused + NotAnObject(text) + ".");

  IndexChecker checker;
  checker.ExpectText(index, "format", kShardIndexFormat);
  checker.ExpectCount(index, "version", kShardIndexVersion);
  checker.ExpectCount(index, "record_bytes", chess::kPackedSfenSize);
  checker.ExpectText(index, "record_format", kShardIndexRecordFormat);
  const RoutingKind routing = checker.Routing(index);
  const std::uint64_t shard_count = checker.Count(index, "shard_count");
  if (shard_count == 0 && !checker.failed()) checker.Fail("\"shard_count\" is 0");
  const std::uint64_t total_records = checker.Count(index, "total_records");
  checker.ExpectText(index, "compression", kShardIndexCompression);
  std::vector<IndexedShard> shards = ReadShardList(checker, index, shard_count);
  CheckTotal(checker, shards, total_records);
  if (checker.failed()) return util::Fail(refused + checker.error() + ".");
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
