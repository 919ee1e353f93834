// The evaluation environment over a bound-value type V.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vintrel/bound.h"
#include "vintrel/cow.h"
#include "vintrel/func.h"
#include "vintrel/name_table.h"
#include "vintrel/utils.h"
#include "vintrel/value.h"
#include "vintrel/var.h"

namespace vintrel {

// Name to value; iteration order is unspecified and never observable.
template <class T>
using NameMap = NameTable<T>;

// Bindings read where they lie: the entries of one object of V (the host's
// own mapping of names to values) instead of a table of their own.
template <class V>
struct BoundObject {
  const typename BoundOps<V>::object_type* object;
  // The binding found last, so that a tree naming one binding again and
  // again (user.age, user.name, ...) looks it up once. An environment serves
  // one evaluation on one thread, and the data does not change meanwhile.
  mutable std::string_view last_name = {};
  mutable const V* last = nullptr;
};

namespace detail {

template <class V>
const V* find_binding(const NameMap<Cow<V>>& table, const VarName& name) {
  auto it = table.find(name.name);
  return it == table.end() ? nullptr : &it->second.get();
}

template <class V>
const V* find_binding(const BoundObject<V>& bindings, const VarName& name) {
  if (bindings.last && bindings.last_name == name.name) return bindings.last;
  const V* found = BoundOps<V>::find(*bindings.object, name);
  if (found) {
    bindings.last_name = name.name;
    bindings.last = found;
  }
  return found;
}

}  // namespace detail

// The environment of one evaluation: the bound values, found by the first
// name of a path, and the callable functions.
template <class V, class Bindings = NameMap<Cow<V>>>
struct Env {
  static_assert(BoundValue<V>);
  Bindings bindings;
  Cow<FunctionTable> functions;

  // The value bound to `name`'s name, or null.
  const V* lookup(const VarName& name) const { return detail::find_binding<V>(bindings, name); }
};

template <class V>
class EnvBuilder {
 public:
  NameMap<Cow<V>> bindings;
  std::optional<Cow<FunctionTable>> functions;

  static EnvBuilder new_() { return EnvBuilder(); }

  // Binds every pair as an owned value; a later value for a bound name
  // replaces the earlier one in place.
  EnvBuilder& bind_multiple(NameMap<V> values) {
    bindings.reserve(bindings.size() + values.size());
    bool fresh = bindings.empty();
    for (auto& [name, value] : values) {
      // The given names are unique, so a fresh builder needs no look-ups; an
      // equal name keeps its first text and only the value is replaced.
      if (fresh)
        bindings.push_back_unique(std::move(name), Cow<V>::Owned(std::move(value)));
      else
        bindings.insert_or_assign(std::move(name), Cow<V>::Owned(std::move(value)));
    }
    return *this;
  }

  // A new environment; the builder stays valid. Copying a Cow keeps a
  // borrowed value borrowed and copies an owned one deeply.
  Env<V> build() const& {
    static_assert(OwnedBoundValue<V>);
    return Env<V>{bindings, functions ? *functions : Cow<FunctionTable>::Borrowed(DEFAULT_VTABLE())};
  }
  // The same, moving the bound values over instead of copying them.
  Env<V> build() && {
    return Env<V>{std::move(bindings),
                  functions ? std::move(*functions) : Cow<FunctionTable>::Borrowed(DEFAULT_VTABLE())};
  }
};

}  // namespace vintrel
