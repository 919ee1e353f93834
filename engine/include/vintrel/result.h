// Expected-style result values: the engine reports every failure as a value.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace vintrel {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& e) {
  return Unexpected<std::decay_t<E>>{std::forward<E>(e)};
}

// Holds either a T or an error E. Like std::expected, which the toolchains we
// build with (gcc 12, clang 14) do not all offer.
template <class T, class E>
class Expected {
 public:
  using value_type = T;
  using error_type = E;

  Expected(const T& v) : v_(std::in_place_index<0>, v) {}
  Expected(T&& v) : v_(std::in_place_index<0>, std::move(v)) {}
  template <class G>
  Expected(Unexpected<G>&& u) : v_(std::in_place_index<1>, std::move(u.error)) {}
  template <class G>
  Expected(const Unexpected<G>& u) : v_(std::in_place_index<1>, u.error) {}

  bool has_value() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return *std::get_if<0>(&v_); }
  const T& value() const& { return *std::get_if<0>(&v_); }
  T&& value() && { return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return std::get_if<0>(&v_); }
  const T* operator->() const { return std::get_if<0>(&v_); }

  E& error() & { return *std::get_if<1>(&v_); }
  const E& error() const& { return *std::get_if<1>(&v_); }
  E&& error() && { return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, E> v_;
};

}  // namespace vintrel
