// A small result type: a value or an error, never an exception.
//
// std::expected would do, but clang 14 (used for the fuzz targets) cannot use
// libstdc++'s <expected>, so the project carries this minimal equivalent.
#pragma once

#include <cassert>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace sorvane {

template <class E>
struct Failure {
  E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Result(Failure<F> failure) : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & {
    assert(has_value());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(has_value());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(has_value());
    return std::get<0>(std::move(state_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & {
    assert(!has_value());
    return std::get<1>(state_);
  }
  const E& error() const& {
    assert(!has_value());
    return std::get<1>(state_);
  }
  E&& error() && {
    assert(!has_value());
    return std::get<1>(std::move(state_));
  }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Result(Failure<F> failure) : error_(E(std::move(failure.error))) {}

  bool has_value() const { return !error_.has_value(); }
  explicit operator bool() const { return has_value(); }

  E& error() & {
    assert(!has_value());
    return *error_;
  }
  const E& error() const& {
    assert(!has_value());
    return *error_;
  }
  E&& error() && {
    assert(!has_value());
    return std::move(*error_);
  }

 private:
  std::optional<E> error_;
};

}  // namespace sorvane
