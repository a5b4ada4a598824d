#pragma once

#include <cstdint>
#include <optional>

namespace boardmill::app {

// A count as strtoull base 10 reads it: non-empty, consumed whole; leading white space is
// skipped and out-of-range values saturate, as the C library does.
std::optional<std::uint64_t> ParseCountValue(const char* text);

// A compression level as strtol base 10 reads it, saturated into the signed 32-bit range so
// that an out-of-range value is refused by the level check instead of wrapping into a valid one.
std::optional<std::int32_t> ParseLevelValue(const char* text);

// Stores the number `text` holds into `field`, read as the field's type asks: a count (unsigned)
// or a level (signed). False, and the field unchanged, when `text` is not such a number.
bool StoreNumber(const char* text, std::uint64_t& field);
bool StoreNumber(const char* text, std::optional<std::uint64_t>& field);
bool StoreNumber(const char* text, std::int32_t& field);

// N gibibytes in bytes, saturating instead of wrapping for absurdly large N.
std::uint64_t GibibytesToBytes(std::uint64_t gibibytes);

}  // namespace boardmill::app
