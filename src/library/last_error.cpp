#include "library/last_error.h"

#include <algorithm>
#include <array>

namespace boardmill::library {

namespace {

thread_local std::array<char, 1024> last_error{};

}  // namespace

int SetLastError(std::string_view message) noexcept {
  const std::size_t length = std::min(message.size(), last_error.size() - 1);
  std::copy_n(message.data(), length, last_error.data());
  last_error[length] = '\0';
  return -1;
}

const char* LastError() noexcept { return last_error.data(); }

}  // namespace boardmill::library
