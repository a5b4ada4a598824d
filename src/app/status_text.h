#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace boardmill::app {

// The share of the work done, 0 to 1; empty while the total is unknown (0).
std::optional<double> FractionDone(std::uint64_t done, std::uint64_t total);

// How far work is that goes an item (a file, a shard) at a time, counted in items and in their
// bytes on disk.
struct ItemsDone {
  std::uint64_t items_done = 0;
  std::uint64_t items_total = 0;
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_total = 0;

  // Items differ in size, so bytes tell the share done better, unless no byte total is known.
  std::optional<double> Fraction() const;
};

// The time left as a status line shows it: estimated afresh whenever the share done moves, and
// counted down between those moments, so that a counter that moves a file or a shard at a time
// does not make the estimate grow while a long file or shard is under way.
class TimeLeftEstimate {
 public:
  // `seconds_spent` on the work so far; it only grows between calls.
  std::optional<double> Update(std::optional<double> fraction_done, double seconds_spent);

 private:
  std::optional<double> fraction_done_;
  double estimated_at_ = 0;
  std::optional<double> estimate_;
};

// The time left of a phase that begins while the status line runs: it goes at a pace of its own,
// so its estimate counts only the time since the phase was first seen.
class PhaseTimeLeft {
 public:
  // `elapsed_seconds` since the status line began.
  std::optional<double> Update(std::optional<double> fraction_done, double elapsed_seconds);

 private:
  TimeLeftEstimate estimate_;
  std::optional<double> began_at_;  // elapsed seconds
};

// One status line, built field by field: the activity first, then fields two spaces apart,
// such as "converting  files 3/8  input 1.2 MiB/4.0 MiB  positions 1.23M  812k/s".
class StatusText {
 public:
  explicit StatusText(std::string_view activity) : text_(activity) {}

  StatusText& Items(std::string_view label, std::uint64_t done, std::uint64_t total);
  // "files 3/8  input 1.2 MiB/4.0 MiB"
  StatusText& ItemsAndBytes(std::string_view items_label, std::string_view bytes_label,
                            const ItemsDone& done);
  StatusText& Count(std::string_view label, std::uint64_t count);
  StatusText& Rate(std::uint64_t count, double seconds);
  // "elapsed 0:12  left 0:30", or "left --" without an estimate.
  StatusText& Times(double elapsed_seconds, std::optional<double> seconds_left);

  std::string Take() { return std::move(text_); }

 private:
  StatusText& Field(std::string_view label, const std::string& value);

  std::string text_;
};

// The line of work that goes an item at a time and counts the records it reads, such as
// "verifying  shards 3/8  read 1.2 MiB/4.0 MiB  records 1.23M  812k/s  elapsed 0:12  left 0:30".
std::string ItemsAndRecordsStatus(std::string_view activity, std::string_view items_label,
                                  std::string_view bytes_label, const ItemsDone& done,
                                  std::uint64_t records, double elapsed_seconds,
                                  TimeLeftEstimate& time_left);

}  // namespace boardmill::app
