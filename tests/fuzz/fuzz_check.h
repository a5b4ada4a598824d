#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace boardmill::testing {

// Ends the run on a broken property so that libFuzzer (and the corpus replay) report the input.
inline void AbortOnFault(const std::string& fault) {
  if (fault.empty()) return;
  std::fprintf(stderr, "codec property broken: %s\n", fault.c_str());
  std::abort();
}

}  // namespace boardmill::testing
