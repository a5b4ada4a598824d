#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <variant>

namespace boardmill::pipeline {

// The counts and busy seconds that add up across files and threads: what a conversion of one
// file reports, what stage threads add to a run's totals, and the summable part of a run's
// summary. Every member has its row in kTotalsFields, which every output of them reads.
struct ConversionTotals {
  std::uint64_t visited_lines = 0;
  std::uint64_t encoded_positions = 0;
  std::uint64_t invalid_positions = 0;
  std::uint64_t compressed_input_bytes = 0;
  std::uint64_t decompressed_input_bytes = 0;
  std::uint64_t raw_output_bytes = 0;
  std::uint64_t compressed_output_bytes = 0;
  double read_seconds = 0.0;
  double decompress_seconds = 0.0;
  double split_seconds = 0.0;
  double encode_seconds = 0.0;
  double compress_seconds = 0.0;
  double write_seconds = 0.0;
  std::uint64_t lenient_positions = 0;

  ConversionTotals& operator+=(const ConversionTotals& other);
};

// Where a field stands in the reports and summaries: run-wide values such as the elapsed time
// go between the groups, so each output lists the groups it shows at its own places.
// kReading holds what only a run under the lenient reading reports, after everything else.
enum class TotalsGroup { kLineCounts, kVolumes, kSeconds, kReading };

// One member of ConversionTotals and the names it goes by outside the program.
struct TotalsField {
  TotalsGroup group;
  std::string_view key;  // in run-summary.txt and the manifest's finish record
  const char* label;     // in the console report
  std::variant<std::uint64_t ConversionTotals::*, double ConversionTotals::*> member;
};

// Every member in the order the per-file outputs write them: the fragment's file entry, the
// manifest's file record, and within each group the reports and summaries. A new counter is a
// member and its row here; a fragment written with another set of rows must not be read back,
// so changing the rows also changes the fragment's version tag.
inline constexpr std::array kTotalsFields = {
    TotalsField{TotalsGroup::kLineCounts, "visited_lines",
                "Visited lines: ", &ConversionTotals::visited_lines},
    TotalsField{TotalsGroup::kLineCounts, "encoded_positions",
                "Encoded positions: ", &ConversionTotals::encoded_positions},
    TotalsField{TotalsGroup::kLineCounts, "invalid_positions",
                "Invalid positions: ", &ConversionTotals::invalid_positions},
    TotalsField{TotalsGroup::kVolumes, "compressed_input_bytes",
                "Compressed input bytes: ", &ConversionTotals::compressed_input_bytes},
    TotalsField{TotalsGroup::kVolumes, "decompressed_input_bytes",
                "Decompressed input bytes: ", &ConversionTotals::decompressed_input_bytes},
    TotalsField{TotalsGroup::kVolumes, "raw_output_bytes",
                "Raw output bytes: ", &ConversionTotals::raw_output_bytes},
    TotalsField{TotalsGroup::kVolumes, "compressed_output_bytes",
                "Compressed output bytes: ", &ConversionTotals::compressed_output_bytes},
    TotalsField{TotalsGroup::kSeconds, "read_seconds",
                "Read seconds: ", &ConversionTotals::read_seconds},
    TotalsField{TotalsGroup::kSeconds, "decompress_seconds",
                "Decompress seconds: ", &ConversionTotals::decompress_seconds},
    TotalsField{TotalsGroup::kSeconds, "split_seconds",
                "Split seconds: ", &ConversionTotals::split_seconds},
    TotalsField{TotalsGroup::kSeconds, "encode_seconds",
                "Encode seconds: ", &ConversionTotals::encode_seconds},
    TotalsField{TotalsGroup::kSeconds, "compress_seconds",
                "Compress seconds: ", &ConversionTotals::compress_seconds},
    TotalsField{TotalsGroup::kSeconds, "write_seconds",
                "Write seconds: ", &ConversionTotals::write_seconds},
    TotalsField{TotalsGroup::kReading, "lenient_positions",
                "Lenient positions: ", &ConversionTotals::lenient_positions},
};

// Every member is eight bytes, so a member without its row changes the size.
static_assert(sizeof(ConversionTotals) == kTotalsFields.size() * 8,
              "every member of ConversionTotals needs its row in kTotalsFields");

// Calls `use` with the field's member of `totals` (a std::uint64_t or a double, const as
// `totals` is).
template <typename Totals, typename Use>
void UseField(const TotalsField& field, Totals& totals, Use&& use) {
  std::visit([&](auto member) { use(totals.*member); }, field.member);
}

// Calls `use(field, value)` for the fields of `group` in table order.
template <typename Totals, typename Use>
void ForEachField(TotalsGroup group, Totals& totals, Use&& use) {
  for (const TotalsField& field : kTotalsFields) {
    if (field.group == group) UseField(field, totals, [&](auto& value) { use(field, value); });
  }
}

inline ConversionTotals& ConversionTotals::operator+=(const ConversionTotals& other) {
  for (const TotalsField& field : kTotalsFields) {
    std::visit([&](auto member) { this->*member += other.*member; }, field.member);
  }
  return *this;
}

}  // namespace boardmill::pipeline
