// The walks of a variable path over bound data: reading inside a value,
// reading from an environment's bindings, and replacing in place.
//
// Reads return references into the given data and allocate nothing when
// they succeed; the path text and the copied key of a failure are built only
// once the failure is known.
#pragma once

#include <cstdint>
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

// Applies `index` to `cur` (an element of an array, or a failure whose path
// text covers the first `until` names).
template <class V>
Expected<const V*, VarAccessError> apply_index(const V* cur, uint64_t index, const std::vector<VarName>& names,
                                               size_t until) {
  using Ops = BoundOps<V>;
  const auto* arr = Ops::as_array(*cur);
  if (!arr) return unexpected(not_an_array<V>(names, until, cur));
  size_t size = Ops::array_size(*arr);
  if (index >= size) return unexpected(index_out_of_bounds(names, until, index, size));
  return &Ops::element(*arr, static_cast<size_t>(index));
}

// Walks names[from..] as object keys with their indexes, starting at `cur`.
template <class V>
Expected<const V*, VarAccessError> walk(const V* cur, const std::vector<VarName>& names, size_t from) {
  using Ops = BoundOps<V>;
  for (size_t i = from; i < names.size(); ++i) {
    const VarName& n = names[i];
    const auto* obj = Ops::as_object(*cur);
    if (!obj) return unexpected(missing_key(names, i));
    cur = Ops::find(*obj, n);
    if (!cur) return unexpected(missing_key(names, i));
    if (n.index) {
      auto elem = apply_index(cur, *n.index, names, i);
      if (!elem) return unexpected(std::move(elem).error());
      cur = *elem;
    }
  }
  return cur;
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
  if (names.empty()) detail::panic_empty_path();
  const V* cur = &value;
  size_t from = 0;
  if (first_resolved) {
    // The value bound to the first name: only its index is left to apply,
    // and its messages name the first name itself.
    from = 1;
    if (names[0].index) {
      auto elem = detail::apply_index(cur, *names[0].index, names, 1);
      if (!elem) return unexpected(std::move(elem).error());
      cur = *elem;
    }
  }
  return detail::walk(cur, names, from);
}

template <class V, class Bindings>
Expected<const V*, VarAccessError> VarAccess::access_from_bindings(const Env<V, Bindings>& env) const {
  if (names.empty()) detail::panic_empty_path();
  const V* bound = env.lookup(names.front());
  if (!bound) return unexpected(VarAccessError::not_found(names.front().name));
  return access_names(names, *bound, true);
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
