#include "compression/line_indexer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

using Slab = std::shared_ptr<const std::string>;

Slab MakeSlab(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

struct Line {
  std::string text;
  std::uint64_t number = 0;
  friend bool operator==(const Line&, const Line&) = default;
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
  return out << line.number << ":\"" << line.text << "\"";
}

// The text of every reference, checking that it points inside the batch.
std::vector<Line> Resolve(const TextLineBatch& batch) {
  std::vector<Line> lines;
  for (const TextLineReference& reference : batch.references) {
    const std::string* source = nullptr;
    if (reference.owned) {
      EXPECT_LT(reference.index, batch.owned_lines.size());
      EXPECT_EQ(reference.offset, 0U);
      if (reference.index < batch.owned_lines.size()) source = &batch.owned_lines[reference.index];
    } else {
      EXPECT_LT(reference.index, batch.slabs.size());
      if (reference.index < batch.slabs.size()) source = batch.slabs[reference.index].get();
    }
    if (source == nullptr || reference.offset + reference.length > source->size()) {
      ADD_FAILURE() << "reference to line " << reference.line_number << " is out of range";
      continue;
    }
    lines.push_back(
        Line{source->substr(reference.offset, reference.length), reference.line_number});
  }
  return lines;
}

// What a whole file produced: the batches in order and the summed counts of every call.
struct Indexed {
  std::vector<TextLineBatch> batches;
  std::size_t batches_before_finish = 0;
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;

  std::vector<Line> Lines() const {
    std::vector<Line> lines;
    for (const TextLineBatch& batch : batches) {
      for (Line& line : Resolve(batch)) lines.push_back(std::move(line));
    }
    return lines;
  }
};

TextLineBatchVisitor CollectInto(std::vector<TextLineBatch>& batches) {
  return [&batches](TextLineBatch&& batch) -> util::Result<bool> {
    batches.push_back(std::move(batch));
    return true;
  };
}

Indexed IndexSlabs(const std::vector<Slab>& slabs, std::uint64_t batch_size) {
  LineIndexer indexer(batch_size);
  Indexed indexed;
  for (const Slab& slab : slabs) {
    const util::Result<PushSummary> pushed = indexer.Push(slab, CollectInto(indexed.batches));
    EXPECT_TRUE(pushed.ok()) << pushed.error();
    if (!pushed.ok()) return indexed;
    EXPECT_TRUE(pushed->should_continue);
    indexed.lines += pushed->lines;
    indexed.bytes += pushed->bytes;
  }
  indexed.batches_before_finish = indexed.batches.size();
  const util::Result<FinishSummary> finished = indexer.Finish(CollectInto(indexed.batches));
  EXPECT_TRUE(finished.ok()) << finished.error();
  if (finished.ok()) {
    indexed.lines += finished->lines;
    indexed.bytes += finished->bytes;
  }
  return indexed;
}

Indexed IndexTexts(const std::vector<std::string>& texts, std::uint64_t batch_size) {
  std::vector<Slab> slabs;
  for (const std::string& text : texts) slabs.push_back(MakeSlab(text));
  return IndexSlabs(slabs, batch_size);
}

// The plain meaning of a file's lines: split at line feeds, drop one trailing carriage return,
// skip what is then empty, number the rest from 1.
std::vector<Line> ReferenceLines(const std::string& text) {
  std::vector<Line> lines;
  for (std::string& line : testing::DeliveredLines(text)) {
    lines.push_back(Line{std::move(line), lines.size() + 1});
  }
  return lines;
}

TEST(LineIndexerTest, LineAcrossTwoSlabsIsOwnedAndLineInsideASlabIsShared) {
  const Slab first = MakeSlab("ab");
  const Slab second = MakeSlab("c\nd\n");
  const Indexed indexed = IndexSlabs({first, second}, 10);
  ASSERT_EQ(indexed.batches.size(), 1U);
  const TextLineBatch& batch = indexed.batches[0];
  ASSERT_EQ(batch.references.size(), 2U);
  EXPECT_TRUE(batch.references[0].owned);
  EXPECT_EQ(batch.references[0].line_number, 1U);
  EXPECT_FALSE(batch.references[1].owned);
  EXPECT_EQ(batch.references[1].offset, 2U);
  EXPECT_EQ(batch.references[1].line_number, 2U);
  ASSERT_EQ(batch.slabs.size(), 1U);
  EXPECT_EQ(batch.slabs[0].get(), second.get());
  EXPECT_EQ(indexed.Lines(), (std::vector<Line>{{"abc", 1}, {"d", 2}}));
  EXPECT_EQ(batch.total_bytes, 4U);
}

TEST(LineIndexerTest, CarriageReturnsBeforeLineFeedsAreDropped) {
  struct Case {
    std::vector<std::string> slabs;
    std::vector<Line> lines;
  };
  const Case cases[] = {
      // Empty lines, with or without a carriage return, take no line number.
      {{"\r\n\r\nx\r\n"}, {{"x", 1}}},
      // The carriage return ends one slab and its line feed starts the next.
      {{"abc\r", "\ndef\n"}, {{"abc", 1}, {"def", 2}}},
      // A carriage return alone in a slab before the line feed is an empty line.
      {{"a\n\r", "\nb\n"}, {{"a", 1}, {"b", 2}}},
      // A carriage return inside a line stays; only one at the end is dropped.
      {{"a\rb\r\r\n"}, {{"a\rb\r", 1}}},
      // The unterminated last line loses its carriage return too.
      {{"a\nb\r"}, {{"a", 1}, {"b", 2}}},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(::testing::PrintToString(test_case.slabs));
    const Indexed indexed = IndexTexts(test_case.slabs, 10);
    EXPECT_EQ(indexed.Lines(), test_case.lines);
  }
  const Indexed indexed = IndexTexts({"\r\n\r\nx\r\n"}, 10);
  ASSERT_EQ(indexed.batches.size(), 1U);
  EXPECT_EQ(indexed.batches[0].references.at(0).length, 1U);
}

TEST(LineIndexerTest, UnterminatedLastLineComesFromFinish) {
  LineIndexer indexer(10);
  std::vector<TextLineBatch> batches;
  const util::Result<PushSummary> pushed =
      indexer.Push(MakeSlab("first\nlast"), CollectInto(batches));
  ASSERT_TRUE(pushed.ok()) << pushed.error();
  EXPECT_EQ(pushed->lines, 1U);
  EXPECT_EQ(pushed->bytes, 5U);
  EXPECT_TRUE(batches.empty());
  const util::Result<FinishSummary> finished = indexer.Finish(CollectInto(batches));
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->lines, 1U);
  EXPECT_EQ(finished->bytes, 4U);
  ASSERT_EQ(batches.size(), 1U);
  EXPECT_EQ(Resolve(batches[0]), (std::vector<Line>{{"first", 1}, {"last", 2}}));

  // A rest of only a carriage return is no line.
  LineIndexer carriage_return_only(10);
  batches.clear();
  ASSERT_TRUE(carriage_return_only.Push(MakeSlab("x\n\r"), CollectInto(batches)).ok());
  const util::Result<FinishSummary> nothing_left =
      carriage_return_only.Finish(CollectInto(batches));
  ASSERT_TRUE(nothing_left.ok()) << nothing_left.error();
  EXPECT_EQ(nothing_left->lines, 0U);
  ASSERT_EQ(batches.size(), 1U);
  EXPECT_EQ(Resolve(batches[0]), (std::vector<Line>{{"x", 1}}));
}

TEST(LineIndexerTest, FullBatchesLeaveDuringPushAndThePartialOneAtFinish) {
  const Indexed indexed = IndexTexts({"1\n2\n3\n4\n", "5\n6\n7\n"}, 3);
  ASSERT_EQ(indexed.batches.size(), 3U);
  EXPECT_EQ(indexed.batches_before_finish, 2U);
  EXPECT_EQ(indexed.batches[0].references.size(), 3U);
  EXPECT_EQ(indexed.batches[1].references.size(), 3U);
  EXPECT_EQ(indexed.batches[2].references.size(), 1U);
  EXPECT_EQ(indexed.Lines(), ReferenceLines("1\n2\n3\n4\n5\n6\n7\n"));
  EXPECT_EQ(indexed.lines, 7U);

  // Batch size 0 behaves as 1.
  EXPECT_EQ(IndexTexts({"a\nb\n"}, 0).batches.size(), 2U);
}

TEST(LineIndexerTest, EachBatchSharesASlabOnceAndANewBatchSharesItAgain) {
  const Slab first = MakeSlab("a\nb\nc");
  const Slab second = MakeSlab("d\ne\nf\ng\n");
  const Indexed indexed = IndexSlabs({first, second}, 4);
  ASSERT_EQ(indexed.batches.size(), 2U);
  // "a", "b" from the first slab, "cd" assembled, "e" from the second slab.
  const TextLineBatch& full = indexed.batches[0];
  ASSERT_EQ(full.slabs.size(), 2U);
  EXPECT_EQ(full.slabs[0].get(), first.get());
  EXPECT_EQ(full.slabs[1].get(), second.get());
  EXPECT_EQ(full.owned_lines.size(), 1U);
  // "f" and "g" come from the second slab, shared anew by the next batch.
  const TextLineBatch& rest = indexed.batches[1];
  ASSERT_EQ(rest.slabs.size(), 1U);
  EXPECT_EQ(rest.slabs[0].get(), second.get());
  EXPECT_TRUE(rest.owned_lines.empty());
  EXPECT_EQ(indexed.Lines(), ReferenceLines("a\nb\ncd\ne\nf\ng\n"));
}

TEST(LineIndexerTest, EmptySlabChangesNothing) {
  LineIndexer indexer(10);
  std::vector<TextLineBatch> batches;
  ASSERT_TRUE(indexer.Push(MakeSlab("ab"), CollectInto(batches)).ok());
  const util::Result<PushSummary> empty = indexer.Push(MakeSlab(""), CollectInto(batches));
  ASSERT_TRUE(empty.ok()) << empty.error();
  EXPECT_EQ(empty->lines, 0U);
  EXPECT_TRUE(empty->should_continue);
  ASSERT_TRUE(indexer.Push(MakeSlab("c\n"), CollectInto(batches)).ok());
  ASSERT_TRUE(indexer.Finish(CollectInto(batches)).ok());
  ASSERT_EQ(batches.size(), 1U);
  EXPECT_EQ(Resolve(batches[0]), (std::vector<Line>{{"abc", 1}}));
}

TEST(LineIndexerTest, VisitorCanStopOrFailTheIndexing) {
  LineIndexer stopping(1);
  int calls = 0;
  const util::Result<PushSummary> stopped =
      stopping.Push(MakeSlab("a\nb\nc\n"), [&calls](TextLineBatch&&) -> util::Result<bool> {
        ++calls;
        return false;
      });
  ASSERT_TRUE(stopped.ok()) << stopped.error();
  EXPECT_FALSE(stopped->should_continue);
  EXPECT_EQ(stopped->lines, 1U);
  EXPECT_EQ(calls, 1);

  const auto refuse = [](TextLineBatch&&) -> util::Result<bool> {
    return util::Fail("Batch refused.");
  };
  LineIndexer failing_push(1);
  const util::Result<PushSummary> pushed = failing_push.Push(MakeSlab("a\n"), refuse);
  ASSERT_FALSE(pushed.ok());
  EXPECT_EQ(pushed.error(), "Batch refused.");
  LineIndexer failing_finish(5);
  std::vector<TextLineBatch> batches;
  ASSERT_TRUE(failing_finish.Push(MakeSlab("a\nb"), CollectInto(batches)).ok());
  const util::Result<FinishSummary> finished = failing_finish.Finish(refuse);
  ASSERT_FALSE(finished.ok());
  EXPECT_EQ(finished.error(), "Batch refused.");
}

TEST(LineIndexerTest, RefusesANullSlabAndAnEmptyVisitor) {
  LineIndexer indexer(10);
  std::vector<TextLineBatch> batches;
  const util::Result<PushSummary> null_slab = indexer.Push(nullptr, CollectInto(batches));
  ASSERT_FALSE(null_slab.ok());
  EXPECT_EQ(null_slab.error(), "Line indexer received a null text slab.");
  const util::Result<PushSummary> no_visitor = indexer.Push(MakeSlab("a\n"), {});
  ASSERT_FALSE(no_visitor.ok());
  EXPECT_EQ(no_visitor.error(), "Line batch visitor must be callable.");
  const util::Result<FinishSummary> no_finish_visitor = indexer.Finish({});
  ASSERT_FALSE(no_finish_visitor.ok());
  EXPECT_EQ(no_finish_visitor.error(), "Line batch visitor must be callable.");
}

// Text with empty lines, carriage returns in and at the end of lines, and lines longer than
// the slabs they are cut into.
std::string RandomLines(std::mt19937& generator) {
  std::string text;
  const int line_count = static_cast<int>(generator() % 60);
  for (int line = 0; line < line_count; ++line) {
    const std::size_t length = generator() % 8 == 0 ? 40 + generator() % 80 : generator() % 12;
    for (std::size_t index = 0; index < length; ++index) {
      text.push_back(generator() % 25 == 0 ? '\r' : static_cast<char>('a' + generator() % 26));
    }
    if (generator() % 3 == 0) text.push_back('\r');
    text.push_back('\n');
  }
  if (generator() % 2 == 0) text += "tail";
  return text;
}

std::vector<std::string> CutAtRandomPlaces(const std::string& text, std::mt19937& generator) {
  std::vector<std::size_t> cuts;
  const std::size_t cut_count = text.empty() ? 0 : generator() % (text.size() / 4 + 2);
  for (std::size_t cut = 0; cut < cut_count; ++cut) cuts.push_back(generator() % text.size());
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::string> slabs;
  std::size_t start = 0;
  for (const std::size_t cut : cuts) {
    slabs.push_back(text.substr(start, cut - start));  // repeated cuts give empty slabs
    start = cut;
  }
  slabs.push_back(text.substr(start));
  return slabs;
}

// A line beyond the limit is indexed as its first kMaxLineBytes + 1 bytes, in one slab or
// gathered from many, ended by a line feed or by the end of the file, and the lines after it keep
// their numbers.
TEST(LineIndexerTest, LinesBeyondTheLimitAreCutOneByteAfterIt) {
  const std::string too_long(compression::kMaxLineBytes + 40, 'x');
  const std::string text = "a\n" + too_long + "\r\nb\n" + too_long;
  const std::string cut = too_long.substr(0, compression::kMaxLineBytes + 1);
  const std::vector<Line> expected{{"a", 1}, {cut, 2}, {"b", 3}, {cut, 4}};
  std::vector<std::string> small_slabs;
  for (std::size_t start = 0; start < text.size(); start += 4096) {
    small_slabs.push_back(text.substr(start, 4096));
  }
  for (const std::vector<std::string>& slabs : {std::vector<std::string>{text}, small_slabs}) {
    SCOPED_TRACE(slabs.size());
    EXPECT_EQ(IndexTexts(slabs, 3).Lines(), expected);
  }
}

// The batch holding the last line a limit allows goes out at once, however far from full, and
// nothing after it is delivered, not even by Finish.
TEST(LineIndexerTest, ALineLimitSendsTheBatchThatReachesItAtOnceAndStops) {
  LineIndexer indexer(100, 3);
  std::vector<TextLineBatch> batches;
  const util::Result<PushSummary> pushed =
      indexer.Push(MakeSlab("a\n\nb\nc\nd\ne"), CollectInto(batches));
  ASSERT_TRUE(pushed.ok()) << pushed.error();
  EXPECT_FALSE(pushed->should_continue);
  ASSERT_EQ(batches.size(), 1U);
  EXPECT_EQ(Resolve(batches[0]), (std::vector<Line>{{"a", 1}, {"b", 2}, {"c", 3}}));
  ASSERT_TRUE(indexer.Finish(CollectInto(batches)).ok());
  EXPECT_EQ(batches.size(), 1U);
}

// A restarted indexer serves another file as if it were new, and reference vectors handed back
// still holding a batch's references are refilled from empty.
TEST(LineIndexerTest, RestartedIndexerAndReusedReferencesCarryNothingOver) {
  LineIndexer indexer(2);
  std::vector<TextLineBatch> first;
  const TextLineBatchVisitor keep_and_return = [&](TextLineBatch&& batch) -> util::Result<bool> {
    first.push_back(batch);
    indexer.ReuseReferences(std::move(batch.references));
    return true;
  };
  ASSERT_TRUE(indexer.Push(MakeSlab("a\nb\nc\nd\nunfinished"), keep_and_return).ok());
  std::vector<Line> first_lines;
  for (const TextLineBatch& batch : first) {
    for (Line& line : Resolve(batch)) first_lines.push_back(std::move(line));
  }
  EXPECT_EQ(first_lines, (std::vector<Line>{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}}));

  indexer.Restart();
  std::vector<TextLineBatch> second;
  ASSERT_TRUE(indexer.Push(MakeSlab("x\ny"), CollectInto(second)).ok());
  ASSERT_TRUE(indexer.Finish(CollectInto(second)).ok());
  Indexed indexed;
  indexed.batches = std::move(second);
  EXPECT_EQ(indexed.Lines(), (std::vector<Line>{{"x", 1}, {"y", 2}}));
}

TEST(LineIndexerTest, LinesDoNotDependOnWhereTheSlabsAreCut) {
  std::mt19937 generator(2024);
  for (int round = 0; round < 300; ++round) {
    const std::string text = RandomLines(generator);
    const std::vector<std::string> slabs = CutAtRandomPlaces(text, generator);
    const std::vector<Line> expected = ReferenceLines(text);
    std::uint64_t expected_bytes = 0;
    for (const Line& line : expected) expected_bytes += line.text.size();
    for (const std::uint64_t batch_size : {1, 3, 1000}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", batch size " << batch_size
                                        << ", slabs " << ::testing::PrintToString(slabs));
      const Indexed indexed = IndexTexts(slabs, batch_size);
      ASSERT_EQ(indexed.Lines(), expected);
      EXPECT_EQ(indexed.lines, expected.size());
      EXPECT_EQ(indexed.bytes, expected_bytes);
      for (const TextLineBatch& batch : indexed.batches) {
        EXPECT_GE(batch.references.size(), 1U);
        EXPECT_LE(batch.references.size(), batch_size);
        std::uint64_t batch_bytes = 0;
        for (const TextLineReference& reference : batch.references) batch_bytes += reference.length;
        EXPECT_EQ(batch.total_bytes, batch_bytes);
        std::set<const std::string*> distinct_slabs;
        for (const Slab& slab : batch.slabs) distinct_slabs.insert(slab.get());
        EXPECT_EQ(distinct_slabs.size(), batch.slabs.size());
      }
    }
  }
}

}  // namespace
}  // namespace boardmill::pipeline
