#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tarvo::net {

/// A value, or the readable reason (with the system's error text) why there is none.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)

  /// A failure carrying `error`.
  static Result Failure(std::string error) {  // NOLINT(performance-unnecessary-value-param)
    Result result;
    result.error_ = std::move(error);
    return result;
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  /// Empty when ok().
  const std::string& error() const { return error_; }

  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  Result() = default;

  std::optional<T> value_;
  std::string error_;
};

}  // namespace tarvo::net
