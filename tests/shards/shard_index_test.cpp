#include "shards/shard_index.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "shards/shard_index_reader.h"

namespace boardmill::shards {
namespace {

// `text` with the white space between its tokens removed, as `jq -c` would write it.
std::string Compacted(std::string_view text) {
  std::string compact;
  bool in_string = false;
  for (const char c : text) {
    if (c == '"') in_string = !in_string;
    if (in_string || (c != ' ' && c != '\n')) compact += c;
  }
  return compact;
}

const std::vector<IndexedShard> kShards = {{3, 100, 0x0123456789abcdef},
                                           {0, 9, 0xef46db3751d8e999}};

// The file readers outside this program (the Python module, users' own tools) rely on.
constexpr char kIndexText[] =
    "{\n"
    "  \"format\": \"boardmill-shards\",\n"
    "  \"version\": 1,\n"
    "  \"record_bytes\": 32,\n"
    "  \"record_format\": \"PackedSfen\",\n"
    "  \"routing\": \"eighth-rank occupancy byte mod shard_count\",\n"
    "  \"shard_count\": 2,\n"
    "  \"total_records\": 3,\n"
    "  \"compression\": \"zstd\",\n"
    "  \"shards\": [\n"
    "    {\"file\": \"shard-000.psfen.zst\", \"records\": 3, \"raw_bytes\": 96, \"bytes\": 100, "
    "\"xxh64\": \"0123456789abcdef\"},\n"
    "    {\"file\": \"shard-001.psfen.zst\", \"records\": 0, \"raw_bytes\": 0, \"bytes\": 9, "
    "\"xxh64\": \"ef46db3751d8e999\"}\n"
    "  ]\n"
    "}\n";

// The index as a JSON tool may rewrite it: keys sorted, another layout, an escape, and members
// a later version might add.
constexpr char kRewrittenIndexText[] =
    "{\"compression\":\"zs\\u0074d\",\"format\":\"boardmill-shards\",\"notes\":{\"by\":[1,2.5,null]"
    "},"
    "\"record_bytes\":32,\"record_format\":\"PackedSfen\","
    "\"routing\":\"eighth-rank occupancy byte mod shard_count\",\"shard_count\":2,\"shards\":[\n"
    "\t{\"bytes\":100,\"file\":\"shard-000.psfen.zst\",\"raw_bytes\":96,\"records\":3,\r\n"
    "\t \"source\":\"a.fen.zst\",\"xxh64\":\"0123456789abcdef\"},\n"
    "\t{\"bytes\":9,\"file\":\"shard-001.psfen.zst\",\"raw_bytes\":0,\"records\":0,"
    "\"xxh64\":\"ef46db3751d8e999\"}],\"total_records\":3,\"version\":1}";

TEST(ShardIndexTest, WritesTheDocumentedFileAndReadsItBackInAnyJsonLayout) {
  EXPECT_EQ(FormatShardIndex(RoutingKind::kOccupancy, kShards), kIndexText);
  for (const std::string& text :
       {std::string(kIndexText), Compacted(kIndexText), std::string(kRewrittenIndexText)}) {
    SCOPED_TRACE(text);
    const util::Result<ShardIndex> read = ParseShardIndex(text, "index");
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read->shards, kShards);
    EXPECT_EQ(read->Routing(), (ShardRouting{RoutingKind::kOccupancy, 2}));
  }
}

// A shuffle's index adds its origin after the members every index has; an input path may hold
// any byte and must still leave valid JSON.
TEST(ShardIndexTest, ReadsBackAShuffleAndItsOriginWhateverTheInputPaths) {
  const ShuffleOrigin origin{.seed = 18446744073709551615ULL,
                             .dedup = "board",
                             .inputs = {{"in\"put\n\\dir\xff", 5, 0xabc}, {"plain", 0, 0}}};
  const std::string text = FormatShardIndex(RoutingKind::kShuffle, kShards, &origin);
  const util::Result<ShardIndex> read = ParseShardIndex(text, "index");
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read->Routing(), (ShardRouting{RoutingKind::kShuffle, 2}));
  EXPECT_EQ(read->shards, kShards);
  EXPECT_LT(text.find("\"shards\""), text.find("\"seed\""));
  const nlohmann::json json = nlohmann::json::parse(text);
  EXPECT_EQ(json["seed"].get<std::uint64_t>(), origin.seed);
  EXPECT_EQ(json["dedup"], "board");
  ASSERT_EQ(json["inputs"].size(), 2U);
  EXPECT_TRUE(json["inputs"][0]["path"].get<std::string>().starts_with("in\"put\n\\dir"));
  EXPECT_EQ(json["inputs"][0]["records"], 5);
  EXPECT_EQ(json["inputs"][0]["xxh64"], "0000000000000abc");
  EXPECT_EQ(json["inputs"][1]["path"], "plain");
}

struct Mutation {
  const char* name;
  std::string from;
  std::string to;
  std::string detail;  // how the message starts after the path
};

TEST(ShardIndexTest, RefusesEveryValueItReliesOnWithOneLine) {
  const std::vector<Mutation> mutations = {
      {"other version", "\"version\": 1", "\"version\": 2", "\"version\" is not 1."},
      {"other format", "boardmill-shards", "webdataset", "\"format\" is not \"boardmill-shards\"."},
      {"unknown routing", "eighth-rank occupancy byte mod shard_count", "by hand",
       "\"routing\" is not \"eighth-rank occupancy byte mod shard_count\" or \"shuffle\"."},
      {"name outside the directory", "shard-001.psfen.zst", "../shard-001.psfen.zst",
       "\"file\" of shard 1 is not \"shard-001.psfen.zst\"."},
      {"raw bytes", "\"raw_bytes\": 96", "\"raw_bytes\": 97",
       "\"raw_bytes\" of shard 0 is not 32 times its records."},
      {"total", "\"total_records\": 3", "\"total_records\": 4",
       "\"total_records\" is not the sum of the shards' records."},
      {"fewer shards listed", "\"shard_count\": 2", "\"shard_count\": 3",
       "\"shards\" lists 2 shards, not 3."},
      {"more shards listed", "\"shard_count\": 2", "\"shard_count\": 1",
       "\"shards\" lists more than 1 shards."},
      {"no shards", "\"shard_count\": 2", "\"shard_count\": 0", "\"shard_count\" is 0."},
      {"upper-case hash", "0123456789abcdef", "0123456789ABCDEF",
       "\"xxh64\" of shard 0 is not 16 lowercase hexadecimal digits."},
      {"short hash", "0123456789abcdef", "123456789abcdef",
       "\"xxh64\" of shard 0 is not 16 lowercase hexadecimal digits."},
      {"other record size", "\"record_bytes\": 32", "\"record_bytes\": 64",
       "\"record_bytes\" is not 32."},
      {"version as a fraction", "\"version\": 1", "\"version\": 1.0", "\"version\" is not 1."},
      {"member missing", "\"bytes\": 9, ", "", "\"bytes\" of shard 1 is missing."},
      {"fraction", "\"records\": 3,", "\"records\": 3.0,",
       "\"records\" of shard 0 is not a whole number below 2^64."},
      {"negative", "\"bytes\": 100", "\"bytes\": -100",
       "\"bytes\" of shard 0 is not a whole number below 2^64."},
      {"too large", "\"bytes\": 100", "\"bytes\": 18446744073709551616",
       "\"bytes\" of shard 0 is not a whole number below 2^64."},
      {"count as text", "\"shard_count\": 2", "\"shard_count\": \"2\"",
       "\"shard_count\" is not a whole number below 2^64."},
      {"hash as a number", "\"0123456789abcdef\"", "123456789",
       "\"xxh64\" of shard 0 is not 16 lowercase hexadecimal digits."},
      {"shards not a list", "\"shards\": [", "\"shards\": \"below\", \"listed\": [",
       "\"shards\" is not a list."},
      {"shard not an object",
       "{\"file\": \"shard-001.psfen.zst\", \"records\": 0, \"raw_bytes\": 0, \"bytes\": 9, "
       "\"xxh64\": \"ef46db3751d8e999\"}",
       "\"shard-001.psfen.zst\"", "shard 1 is not an object."},
      {"leading zero", "\"records\": 3,", "\"records\": 03,", "parse error at line 11, column "},
      {"text after the object", "}\n", "}\n{}", "parse error at line 15, column 1: "},
  };
  for (const Mutation& mutation : mutations) {
    SCOPED_TRACE(mutation.name);
    std::string text = kIndexText;
    const std::size_t at = text.rfind(mutation.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, mutation.from.size(), mutation.to);
    const util::Result<ShardIndex> read = ParseShardIndex(text, "/out/index");
    ASSERT_FALSE(read.ok());
    const std::string prefix = "Invalid shard index /out/index: " + mutation.detail;
    EXPECT_EQ(read.error().substr(0, prefix.size()), prefix);
    EXPECT_EQ(read.error().back(), '.');
    EXPECT_EQ(read.error().find('\n'), std::string::npos);
  }
  const util::Result<ShardIndex> listed =
      ParseShardIndex("\n [" + std::string(kIndexText) + "]", "/out/index");
  ASSERT_FALSE(listed.ok());
  EXPECT_EQ(listed.error(), "Invalid shard index /out/index: expected '{' at byte 2.");
}

}  // namespace
}  // namespace boardmill::shards
