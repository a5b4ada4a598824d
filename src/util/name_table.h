#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace boardmill::util {

// A value of an enumeration and the word that names it in files and on command lines.
template <typename Enum>
struct NamedValue {
  Enum value;
  std::string_view name;
};

template <typename Enum, std::size_t kSize>
using NameTable = std::array<NamedValue<Enum>, kSize>;

// True when every value stands at the place it converts to, which lets NameOf index the table
// instead of searching it.
template <typename Enum, std::size_t kSize>
constexpr bool EachValueIsItsPlace(const NameTable<Enum, kSize>& table) {
  for (std::size_t place = 0; place < kSize; ++place) {
    if (static_cast<std::size_t>(table[place].value) != place) return false;
  }
  return true;
}

template <typename Enum, std::size_t kSize>
constexpr std::string_view NameOf(const NameTable<Enum, kSize>& table, Enum value) {
  return table[static_cast<std::size_t>(value)].name;
}

// The value `name` names; empty for any other word.
template <typename Enum, std::size_t kSize>
constexpr std::optional<Enum> ValueNamed(const NameTable<Enum, kSize>& table,
                                         std::string_view name) {
  for (const NamedValue<Enum>& entry : table) {
    if (entry.name == name) return entry.value;
  }
  return std::nullopt;
}

}  // namespace boardmill::util
