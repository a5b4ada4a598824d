#pragma once

#include <exception>
#include <string_view>

namespace boardmill::library {

// Keeps `message` as the calling thread's last error (cut to a fixed length: recording an error
// never allocates, so it cannot fail while another failure is being reported) and returns -1.
int SetLastError(std::string_view message) noexcept;

// The calling thread's last error; "" before the first.
const char* LastError() noexcept;

// Runs `body` and returns what it returns; an exception that escapes it, which no C caller
// could handle, becomes the last error and -1.
template <typename Body>
auto CatchAtBoundary(Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::exception& error) {
    SetLastError(error.what());
  } catch (...) {
    SetLastError("Unknown internal error.");
  }
  return -1;
}

}  // namespace boardmill::library
