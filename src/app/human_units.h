#pragma once

#include <cstdint>
#include <string>

namespace boardmill::app {

// Sizes, counts and durations as a person reads them at a glance on a status line; exact
// figures belong to the report.

// Bytes in binary units with one decimal: 512 B, 1.0 KiB, 12.3 MiB, 4.0 GiB.
std::string FormatBytes(std::uint64_t bytes);

// A count or rate with three significant digits above 9999: 9999, 12.3k, 456k, 7.89M, 1.00G.
std::string FormatQuantity(double value);

// Whole seconds on a clock: 0:07, 12:34, 1:02:03.
std::string FormatDuration(double seconds);

}  // namespace boardmill::app
