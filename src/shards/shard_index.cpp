#include "shards/shard_index.h"

#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "chess/packed_sfen.h"
#include "shards/shard_naming.h"
#include "util/whole_file.h"

namespace boardmill::shards {

namespace {

namespace fs = std::filesystem;

void AppendMember(std::string& text, std::string_view name, std::string_view json_value) {
  text.append("\"").append(name).append("\": ").append(json_value);
}

std::string ShardLine(std::uint64_t id, std::uint64_t shard_count, const IndexedShard& shard) {
  std::string line = "    {";
  AppendMember(line, "file", JsonQuoted(ShardFileName(id, shard_count)));
  line += ", ";
  AppendMember(line, "records", std::to_string(shard.records));
  line += ", ";
  AppendMember(line, "raw_bytes", std::to_string(shard.records * chess::kPackedSfenSize));
  line += ", ";
  AppendMember(line, "bytes", std::to_string(shard.bytes));
  line += ", ";
  AppendMember(line, "xxh64", JsonQuoted(FormatXxh64(shard.xxh64)));
  return line + "}";
}

// `text` as a JSON string. Paths may hold any byte: quotes and control characters are escaped,
// and bytes that are not UTF-8 are replaced, so the index stays valid JSON.
std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string InputLine(const IndexedInput& input) {
  std::string line = "    {";
  AppendMember(line, "path", JsonString(input.path));
  line += ", ";
  AppendMember(line, "records", std::to_string(input.records));
  line += ", ";
  AppendMember(line, "xxh64", JsonQuoted(FormatXxh64(input.xxh64)));
  return line + "}";
}

void AppendOrigin(std::string& text, const ShuffleOrigin& origin) {
  text += ",\n  ";
  AppendMember(text, "seed", std::to_string(origin.seed));
  text += ",\n  ";
  AppendMember(text, "dedup", JsonQuoted(origin.dedup));
  text += ",\n  \"inputs\": [\n";
  for (std::size_t at = 0; at < origin.inputs.size(); ++at) {
    text += InputLine(origin.inputs[at]);
    text += at + 1 < origin.inputs.size() ? ",\n" : "\n";
  }
  text += "  ]";
}

}  // namespace

std::string FormatXxh64(std::uint64_t hash) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016" PRIx64, hash);
  return digits;
}

std::string FormatShardIndex(RoutingKind routing, std::span<const IndexedShard> shards,
                             const ShuffleOrigin* origin) {
  std::uint64_t total_records = 0;
  for (const IndexedShard& shard : shards) total_records += shard.records;

  std::string text = "{\n";
  const auto member = [&text](std::string_view name, const std::string& json_value) {
    text += "  ";
    AppendMember(text, name, json_value);
    text += ",\n";
  };
  member("format", JsonQuoted(kShardIndexFormat));
  member("version", std::to_string(kShardIndexVersion));
  member("record_bytes", std::to_string(chess::kPackedSfenSize));
  member("record_format", JsonQuoted(kShardIndexRecordFormat));
  member("routing", JsonQuoted(RoutingName(routing)));
  member("shard_count", std::to_string(shards.size()));
  member("total_records", std::to_string(total_records));
  member("compression", JsonQuoted(kShardIndexCompression));
  text += "  \"shards\": [\n";
  for (std::uint64_t id = 0; id < shards.size(); ++id) {
    text += ShardLine(id, shards.size(), shards[id]);
    text += id + 1 < shards.size() ? ",\n" : "\n";
  }
  text += "  ]";
  if (origin != nullptr) AppendOrigin(text, *origin);
  text += "\n}\n";
  return text;
}

util::Result<void> RemoveStaleShardIndex(const fs::path& directory) {
  const fs::path path = directory / kShardIndexFileName;
  if (!util::RemoveFileIfPresent(path)) {
    return util::Fail("Failed to remove the shard index of an earlier run: " + path.string());
  }
  return {};
}

util::Result<void> WriteShardIndex(const fs::path& directory, RoutingKind routing,
                                   std::span<const IndexedShard> shards,
                                   const ShuffleOrigin* origin) {
  const fs::path path = directory / kShardIndexFileName;
  if (util::WriteWholeFile(path, FormatShardIndex(routing, shards, origin)) !=
      util::WholeFileWrite::kWritten) {
    return util::Fail("Failed to write shard index: " + path.string());
  }
  return {};
}

}  // namespace boardmill::shards
