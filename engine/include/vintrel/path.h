// The walks of a variable path over bound data: reading inside a value,
// reading from an environment's bindings, and replacing in place.
//
// Reads return references into the given data and allocate nothing when
// they succeed; the path text and the copied key of a failure are built only
// once the failure is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vintrel/env.h"
#include "vintrel/errors.h"
#include "vintrel/panic.h"
#include "vintrel/result.h"
#include "vintrel/var.h"

namespace vintrel {

namespace detail {

[[noreturn]] inline void panic_empty_path() { panic("Variable access must have at least one name"); }

// The path text of the container in which names[at] is looked up (or, for
// an index, of the container holding the indexed value). A walk that starts
// from an already resolved first name names its containers the same way:
// the root's text followed by the walked names is the text of the first
// names of the whole path.
inline std::string container_path(const std::vector<VarName>& names, size_t until) {
  return VarAccess::resolve_name_until(names, nullptr, until);
}

[[gnu::cold, gnu::noinline]] inline VarAccessError missing_key(const std::vector<VarName>& names, size_t at) {
  return VarAccessError::key_not_found(container_path(names, at), names[at].name);
}

[[gnu::cold, gnu::noinline]] inline VarAccessError index_out_of_bounds(const std::vector<VarName>& names,
                                                                       size_t until, uint64_t index,
                                                                       size_t length) {
  std::string m = "Index out of bounds at '";
  m += container_path(names, until);
  m += "' (index: ";
  m += std::to_string(index);
  m += ", length: ";
  m += std::to_string(length);
  m += ')';
  return VarAccessError::index_out_of_bounds(std::move(m));
}

// `found` is null for the shorter text of a replacement.
template <class V>
[[gnu::cold, gnu::noinline]] VarAccessError not_an_array(const std::vector<VarName>& names, size_t until,
                                                         const V* found) {
  std::string m = "Expected array at '";
  m += container_path(names, until);
  m += '\'';
  if (found) {
    m += ", found ";
    BoundOps<V>::debug_fmt(*found, m);
  }
  return VarAccessError::type_error(std::move(m));
}

// The reads below return the value found, or null with `error` set. A
// failure's text is built only then, out of line; success returns a
// pointer and nothing else.
using ReadError = std::optional<VarAccessError>;

// Applies `index` to `cur` (an element of an array, or a failure whose path
// text covers the first `until` names).
template <class V>
const V* apply_index(const V* cur, uint64_t index, const std::vector<VarName>& names, size_t until,
                     ReadError& error) {
  using Ops = BoundOps<V>;
  if (!Ops::is_array(*cur)) {
    error = not_an_array<V>(names, until, cur);
    return nullptr;
  }
  // An index beyond size_t is past the end of any array.
  const size_t i = index <= SIZE_MAX ? static_cast<size_t>(index) : SIZE_MAX;
  size_t size = 0;
  const V* found = Ops::element_at(*cur, i, size);
  if (!found) error = index_out_of_bounds(names, until, index, size);
  return found;
}

// Walks names[from..] as object keys with their indexes, starting at `cur`.
template <class V>
const V* walk(const V* cur, const std::vector<VarName>& names, size_t from, ReadError& error) {
  using Ops = BoundOps<V>;
  for (size_t i = from; i < names.size(); ++i) {
    const VarName& n = names[i];
    const auto* obj = Ops::as_object(*cur);
    if (obj) cur = Ops::find(*obj, n);
    if (!obj || !cur) {
      error = missing_key(names, i);
      return nullptr;
    }
    if (n.index && !(cur = apply_index(cur, *n.index, names, i, error))) return nullptr;
  }
  return cur;
}

// VarAccess::access_names without the result wrapper.
template <class V>
const V* read_names(const std::vector<VarName>& names, const V& value, bool first_resolved, ReadError& error) {
  if (names.empty()) panic_empty_path();
  const V* cur = &value;
  if (!first_resolved) return walk(cur, names, 0, error);
  // The value bound to the first name: only its index is left to apply,
  // and its messages name the first name itself.
  if (names[0].index && !(cur = apply_index(cur, *names[0].index, names, 1, error))) return nullptr;
  return walk(cur, names, 1, error);
}

// VarAccess::access_from_bindings without the result wrapper; the
// interpreter reads every variable through it.
template <class V, class Bindings>
const V* read_from_bindings(const VarAccess& var, const Env<V, Bindings>& env, ReadError& error) {
  if (var.names.empty()) panic_empty_path();
  const VarName& first = var.names.front();
  const V* bound = env.lookup(first);
  if (!bound) {
    error = VarAccessError::not_found(first.name);
    return nullptr;
  }
  return read_names(var.names, *bound, true, error);
}

// The same walk through the mutable accessors of an owned value, to the
// slot that a replacement goes into.
template <class V>
Expected<V*, VarAccessError> walk_mut(V* cur, const std::vector<VarName>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    const VarName& n = names[i];
    auto* obj = cur->as_object_mut();
    if (!obj) return unexpected(missing_key(names, i));
    auto it = obj->find(std::string_view(n.name));
    if (it == obj->end()) return unexpected(missing_key(names, i));
    cur = &it->second;
    if (n.index) {
      auto* arr = cur->as_array_mut();
      if (!arr) return unexpected(not_an_array<V>(names, i, nullptr));
      if (*n.index >= arr->size()) return unexpected(index_out_of_bounds(names, i, *n.index, arr->size()));
      cur = &(*arr)[*n.index];
    }
  }
  return cur;
}

}  // namespace detail

template <class V>
Expected<const V*, VarAccessError> VarAccess::access_names(const std::vector<VarName>& names, const V& value,
                                                           bool first_resolved) {
  static_assert(BoundValue<V>);
  detail::ReadError error;
  if (const V* found = detail::read_names(names, value, first_resolved, error)) return found;
  return unexpected(std::move(*error));
}

template <class V, class Bindings>
Expected<const V*, VarAccessError> VarAccess::access_from_bindings(const Env<V, Bindings>& env) const {
  detail::ReadError error;
  if (const V* found = detail::read_from_bindings(*this, env, error)) return found;
  return unexpected(std::move(*error));
}

template <class V>
Expected<V, VarAccessError> VarAccess::replace(V& value, V replacement) const {
  static_assert(OwnedBoundValue<V>);
  if (names.empty()) detail::panic_empty_path();
  auto slot = detail::walk_mut(&value, names);
  if (!slot) return unexpected(std::move(slot).error());
  V old = std::move(**slot);
  **slot = std::move(replacement);
  return old;
}

}  // namespace vintrel
