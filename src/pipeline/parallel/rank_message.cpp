#include "pipeline/parallel/rank_message.h"

#include <bit>

namespace boardmill::pipeline {

namespace {

constexpr std::size_t kWordBytes = 8;

}  // namespace

RankMessageWriter& RankMessageWriter::Number(std::uint64_t value) {
  for (std::size_t byte = 0; byte < kWordBytes; ++byte) {
    bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
  }
  return *this;
}

RankMessageWriter& RankMessageWriter::Real(double value) {
  return Number(std::bit_cast<std::uint64_t>(value));
}

RankMessageWriter& RankMessageWriter::Text(std::string_view text) {
  Number(text.size());
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

RankMessageWriter& RankMessageWriter::Group(const FileGroup& group) {
  return Number(group.first_file).Number(group.file_count);
}

RankMessageKind RankMessageReader::Kind() const {
  return bytes_.empty() ? RankMessageKind{} : static_cast<RankMessageKind>(bytes_[0]);
}

bool RankMessageReader::Take(std::size_t size) {
  if (damaged_ || size > bytes_.size() || at_ > bytes_.size() - size) {
    damaged_ = true;
    return false;
  }
  return true;
}

std::uint64_t RankMessageReader::Number() {
  if (!Take(kWordBytes)) return 0;
  std::uint64_t value = 0;
  for (std::size_t byte = 0; byte < kWordBytes; ++byte) {
    value |= std::uint64_t{bytes_[at_ + byte]} << (8 * byte);
  }
  at_ += kWordBytes;
  return value;
}

double RankMessageReader::Real() { return std::bit_cast<double>(Number()); }

std::string RankMessageReader::Text() {
  const std::uint64_t size = Number();
  if (!Take(size)) return {};
  std::string text(reinterpret_cast<const char*>(bytes_.data() + at_), size);
  at_ += size;
  return text;
}

FileGroup RankMessageReader::Group() {
  const std::uint64_t first = Number();
  return {first, Number()};
}

}  // namespace boardmill::pipeline
