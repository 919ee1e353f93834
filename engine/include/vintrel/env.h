// The evaluation environment over a bound-value type V.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vintrel/cow.h"
#include "vintrel/func.h"
#include "vintrel/name_table.h"
#include "vintrel/utils.h"
#include "vintrel/value.h"

namespace vintrel {

// What the engine needs of a bound value. Each test and accessor answers for
// the value itself only. V::array_type is a random-access list of V;
// V::object_type is an insertion-ordered map from std::string to V whose
// find(std::string_view) returns an iterator (it->second is the V) and which
// iterates (key, value) pairs.
template <class V>
concept BoundValue = std::copy_constructible<V> && requires(const V& c, V& m, V&& r, std::string& out) {
  typename V::array_type;
  typename V::object_type;
  { c.is_null() } -> std::same_as<bool>;
  { c.as_bool() } -> std::same_as<std::optional<bool>>;
  { c.as_u64() } -> std::same_as<std::optional<uint64_t>>;
  { c.as_i64() } -> std::same_as<std::optional<int64_t>>;
  { c.as_f64() } -> std::same_as<std::optional<double>>;
  { c.is_string() } -> std::same_as<bool>;
  { c.as_str() } -> std::same_as<std::optional<std::string_view>>;
  { std::move(r).into_string() } -> std::same_as<std::optional<std::string>>;
  { c.is_array() } -> std::same_as<bool>;
  { c.as_array() } -> std::same_as<const typename V::array_type*>;
  { m.as_array_mut() } -> std::same_as<typename V::array_type*>;
  { std::move(r).into_array() } -> std::same_as<std::optional<typename V::array_type>>;
  { c.is_object() } -> std::same_as<bool>;
  { c.as_object() } -> std::same_as<const typename V::object_type*>;
  { m.as_object_mut() } -> std::same_as<typename V::object_type*>;
  { std::move(r).into_object() } -> std::same_as<std::optional<typename V::object_type>>;
  { c.debug_fmt(out) } -> std::same_as<void>;
  // The path walk looks keys up by view and addresses elements by position.
  { c.as_object()->find(std::string_view()) == c.as_object()->end() } -> std::convertible_to<bool>;
  { c.as_array()->size() } -> std::convertible_to<size_t>;
};

// Name to value; iteration order is unspecified and never observable.
template <class T>
using NameMap = NameTable<T>;

template <class V>
struct Env {
  NameMap<Cow<V>> bindings;
  Cow<FunctionTable> functions;

  const V* lookup(std::string_view name) const {
    auto it = bindings.find(name);
    return it == bindings.end() ? nullptr : &it->second.get();
  }
};

template <class V>
class EnvBuilder {
 public:
  NameMap<Cow<V>> bindings;
  std::optional<Cow<FunctionTable>> functions;

  static EnvBuilder new_() { return EnvBuilder(); }

  // Binds every pair as an owned value; a later value for a bound name
  // replaces the earlier one in place.
  EnvBuilder& bind_multiple(NameMap<V> values);

  // A new environment; the builder stays valid. Owned values are copied.
  Env<V> build() const&;
  // The same, moving the bound values over instead of copying them.
  Env<V> build() &&;
};

}  // namespace vintrel

#include "vintrel/env_impl.h"
