#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace boardmill::testing {

// Ends the run on a broken property so that libFuzzer (and the corpus replay) report the input.
inline void AbortOnFault(const std::string& fault) {
  if (fault.empty()) return;
  std::fprintf(stderr, "property broken: %s\n", fault.c_str());
  std::abort();
}

inline void AbortUnless(bool holds, std::string_view property) {
  if (!holds) AbortOnFault(std::string(property));
}

// Errors reach the user as one line on standard error.
inline bool IsOneLineMessage(std::string_view message) {
  return !message.empty() && message.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace boardmill::testing
