#pragma once

#include <string>
#include <utility>
#include <variant>

namespace boardmill::util {

// The message of a failed operation: final user-facing text that callers pass up unchanged.
struct Error {
  std::string message;
};

inline Error Fail(std::string message) { return Error{std::move(message)}; }

// Either a value or an error message. Expected failures travel in this type instead of
// exceptions; building a successful result never allocates on its own.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const std::string& error() const { return std::get<1>(state_).message; }
  // The failure as an Error, for handing it up to a caller whose result type differs.
  Error TakeError() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_.message; }
  Error TakeError() && { return std::move(error_); }

 private:
  Error error_;
  bool failed_ = false;
};

}  // namespace boardmill::util
