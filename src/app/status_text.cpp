#include "app/status_text.h"

#include <algorithm>
#include <cmath>

#include "app/human_units.h"

namespace boardmill::app {

namespace {

// Seconds still to go if the rest goes as fast as `fraction_done` took `seconds_spent`; empty
// until there is some progress to go by.
std::optional<double> SecondsLeft(std::optional<double> fraction_done, double seconds_spent) {
  if (!fraction_done || !(*fraction_done > 0)) return std::nullopt;
  const double left = seconds_spent * (1 - *fraction_done) / *fraction_done;
  if (!std::isfinite(left)) return std::nullopt;
  return left;
}

}  // namespace

std::optional<double> FractionDone(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return std::nullopt;
  return done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

std::optional<double> ItemsDone::Fraction() const {
  return bytes_total > 0 ? FractionDone(bytes_done, bytes_total)
                         : FractionDone(items_done, items_total);
}

std::optional<double> TimeLeftEstimate::Update(std::optional<double> fraction_done,
                                               double seconds_spent) {
  if (fraction_done != fraction_done_) {
    fraction_done_ = fraction_done;
    estimated_at_ = seconds_spent;
    estimate_ = SecondsLeft(fraction_done, seconds_spent);
  }
  if (!estimate_) return std::nullopt;
  return std::max(0.0, *estimate_ - (seconds_spent - estimated_at_));
}

std::optional<double> PhaseTimeLeft::Update(std::optional<double> fraction_done,
                                            double elapsed_seconds) {
  if (!began_at_) began_at_ = elapsed_seconds;
  return estimate_.Update(fraction_done, elapsed_seconds - *began_at_);
}

StatusText& StatusText::Items(std::string_view label, std::uint64_t done, std::uint64_t total) {
  return Field(label, std::to_string(done) + "/" + std::to_string(total));
}

StatusText& StatusText::ItemsAndBytes(std::string_view items_label, std::string_view bytes_label,
                                      const ItemsDone& done) {
  Items(items_label, done.items_done, done.items_total);
  return Field(bytes_label, FormatBytes(done.bytes_done) + "/" + FormatBytes(done.bytes_total));
}

StatusText& StatusText::Count(std::string_view label, std::uint64_t count) {
  return Field(label, FormatQuantity(static_cast<double>(count)));
}

StatusText& StatusText::Rate(std::uint64_t count, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(count) / seconds : 0;
  text_ += "  ";
  text_ += FormatQuantity(rate);
  text_ += "/s";
  return *this;
}

StatusText& StatusText::Times(double elapsed_seconds, std::optional<double> seconds_left) {
  Field("elapsed", FormatDuration(elapsed_seconds));
  return Field("left", seconds_left ? FormatDuration(*seconds_left) : "--");
}

StatusText& StatusText::Field(std::string_view label, const std::string& value) {
  text_ += "  ";
  text_ += label;
  text_ += ' ';
  text_ += value;
  return *this;
}

std::string ItemsAndRecordsStatus(std::string_view activity, std::string_view items_label,
                                  std::string_view bytes_label, const ItemsDone& done,
                                  std::uint64_t records, double elapsed_seconds,
                                  TimeLeftEstimate& time_left) {
  return StatusText(activity)
      .ItemsAndBytes(items_label, bytes_label, done)
      .Count("records", records)
      .Rate(records, elapsed_seconds)
      .Times(elapsed_seconds, time_left.Update(done.Fraction(), elapsed_seconds))
      .Take();
}

}  // namespace boardmill::app
