#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tarvo::base {

/// Why an operation failed, in words a log line or a message box can show as they are.
struct Error {
  std::string message;
};

/// A failure carrying `message`; converts to any `Result`.
inline Error Fail(std::string message) { return Error{std::move(message)}; }

/// A value, or the readable reason why there is none. Every fallible operation that is not a hot
/// path returns one; the compiler refuses a call that drops it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}              // NOLINT(google-explicit-constructor)
  Result(Error error) : error_(std::move(error.message)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  /// Empty when ok().
  const std::string& error() const { return error_; }

  /// Only when ok().
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  std::string error_;
};

/// Success without a value, or the reason for the failure.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error)  // NOLINT(google-explicit-constructor)
      : failed_(true), error_(std::move(error.message)) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  /// Empty when ok().
  const std::string& error() const { return error_; }

 private:
  bool failed_ = false;
  std::string error_;
};

/// The success of a `Result<void>`.
inline Result<void> Ok() { return {}; }

}  // namespace tarvo::base
