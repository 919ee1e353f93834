// Template definitions for vintrel/env.h: building environments, and turning
// bound values into Values. Included at the end of env.h; not a header of its
// own.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "vintrel/panic.h"
#include "vintrel/small_stack.h"

namespace vintrel {

namespace detail {

// GCC 12 sees the move of a default (null) Value through std::variant's
// visitor and warns that the other alternatives may be uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The V held under an object iterator. Some ordered maps give write access
// only through it.value(); maps of std::pair expose it->second.
template <class It>
decltype(auto) entry_value(It& it) {
  if constexpr (requires { it.value(); }) {
    return (it.value());
  } else {
    return (it->second);
  }
}

// Puts the entries of a just-converted object, which arrive in the source's
// order, into ascending byte order of the keys; of equal keys the later wins.
void sort_object_entries(ValueObject& m);

// Converts one bound value into a Value with an explicit stack of open
// containers, so the depth of the data never deepens the native stack.
// kOwned: the source is consumed and its text moved; otherwise the
// strings of the result borrow the source's text.
template <class V, bool kOwned>
class BoundConverter {
  using Src = std::conditional_t<kOwned, V, const V>;
  using Arr = typename V::array_type;
  using Obj = typename V::object_type;
  // A consumed container is moved to the heap, so that its elements keep
  // their addresses while the frame stack grows; a read one is pointed to.
  using ArrHold = std::conditional_t<kOwned, std::unique_ptr<Arr>, const Arr*>;
  using ObjHold = std::conditional_t<kOwned, std::unique_ptr<Obj>, const Obj*>;
  using ObjIt = std::conditional_t<kOwned, typename Obj::iterator, typename Obj::const_iterator>;

  // `out` already holds the container, reserved to its final size, so the
  // addresses of its elements stay put while they are filled.
  struct ArrayFrame {
    ArrHold src;
    size_t next;
    ValueArray* out;
  };
  struct ObjectFrame {
    ObjHold src;
    ObjIt it;
    ObjIt end;
    ValueObject* out;
  };
  using Frame = std::variant<ArrayFrame, ObjectFrame>;

 public:
  BoundConverter() noexcept {}

  // Converts `root` into `result`, which must be null on entry. False when
  // some value inside is of no kind the engine knows.
  bool run(Src& root, Value& result) {
    if (!open(root, result)) return false;
    while (!frames_.empty()) {
      Src* child;
      Value* slot;
      if (auto* a = std::get_if<ArrayFrame>(&frames_.back())) {
        auto& src = *a->src;
        if (a->next == src.size()) {
          frames_.drop(1);
          continue;
        }
        child = &src[a->next++];
        slot = &a->out->emplace_back();
      } else {
        auto& o = *std::get_if<ObjectFrame>(&frames_.back());
        if (o.it == o.end) {
          sort_object_entries(*o.out);
          frames_.drop(1);
          continue;
        }
        // Moves the key out of a consumed map that allows it, else copies.
        std::string key(std::move(o.it->first));
        child = &entry_value(o.it);
        ++o.it;
        // Kept in source order until the object is complete, then sorted once.
        o.out->push_back_sorted(std::move(key), Value());  // filled in below
        slot = &(o.out->end() - 1)->second;
      }
      if (!open(*child, *slot)) return false;
    }
    return true;
  }

 private:

  // Converts a scalar into `out` (null on entry), or makes `out` an empty
  // container of the source's size and pushes the frame that fills it.
  // False when `v` is of no kind the engine knows.
  bool open(Src& v, Value& out) {
    if (v.is_string()) {
      if constexpr (kOwned) {
        auto s = std::move(v).into_string();
        if (!s) panic("Expected JSON string");
        out.v.template emplace<CowStr>(CowStr::Owned(std::move(*s)));
      } else {
        auto s = v.as_str();
        if (!s) panic("Expected JSON string");
        out.v.template emplace<CowStr>(CowStr::Borrowed(*s));
      }
      return true;
    }
    if (auto u = v.as_u64()) {
      // Above the signed range the nearest double is the closest we can hold.
      if (*u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        out.v.template emplace<int64_t>(static_cast<int64_t>(*u));
      else
        out.v.template emplace<double>(static_cast<double>(*u));
      return true;
    }
    if (auto i = v.as_i64()) {
      out.v.template emplace<int64_t>(*i);
      return true;
    }
    if (auto f = v.as_f64()) {
      out.v.template emplace<double>(*f);
      return true;
    }
    if (auto b = v.as_bool()) {
      out.v.template emplace<bool>(*b);
      return true;
    }
    if (v.is_array()) {
      ArrHold src;
      if constexpr (kOwned) {
        auto a = std::move(v).into_array();
        if (!a) panic("Expected JSON array");
        src = std::make_unique<Arr>(std::move(*a));
      } else {
        src = v.as_array();
        if (!src) panic("Expected JSON array");
      }
      out.v.template emplace<ValueArray>().reserve(src->size());
      frames_.emplace_back(std::in_place_type<ArrayFrame>, ArrayFrame{std::move(src), 0, &out.as_array()});
      return true;
    }
    if (v.is_null()) return true;  // `out` is null already
    if (v.is_object()) {
      ObjHold src;
      if constexpr (kOwned) {
        auto o = std::move(v).into_object();
        if (!o) panic("Expected JSON object");
        src = std::make_unique<Obj>(std::move(*o));
      } else {
        src = v.as_object();
        if (!src) panic("Expected JSON object");
      }
      out.v.template emplace<ValueObject>().reserve(src->size());
      ObjIt begin = src->begin();
      ObjIt end = src->end();
      frames_.emplace_back(std::in_place_type<ObjectFrame>, ObjectFrame{std::move(src), begin, end, &out.as_object()});
      return true;
    }
    return false;
  }

  SmallStack<Frame, 8> frames_;
};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace detail

namespace detail {

inline constexpr std::string_view kUnsupportedValueType = "Unsupported value type";

inline Expected<Value, std::string> conversion_result(bool ok, Value& v) {
  if (!ok) return unexpected(std::string(kUnsupportedValueType));
  return std::move(v);
}

// The borrowing conversion into a null `out`, for callers that place the
// result themselves; false stands for kUnsupportedValueType.
template <class V>
bool convert_bound_ref(const V& v, Value& out) {
  return BoundConverter<V, false>().run(v, out);
}

}  // namespace detail

template <class V>
Expected<Value, std::string> Value::from_json_object(V&& v) {
  static_assert(!std::is_lvalue_reference_v<V>, "from_json_object consumes its argument; borrow with from_json_object_ref");
  using T = std::remove_cvref_t<V>;
  static_assert(BoundValue<T>);
  // Taken over here, so whatever the conversion leaves of it is released on return.
  T source = std::move(v);
  Value out;
  bool ok = detail::BoundConverter<T, true>().run(source, out);
  return detail::conversion_result(ok, out);
}

template <class V>
Expected<Value, std::string> Value::from_json_object_ref(const V& v) {
  static_assert(BoundValue<V>);
  Value out;
  bool ok = detail::convert_bound_ref(v, out);
  return detail::conversion_result(ok, out);
}

template <class V>
EnvBuilder<V>& EnvBuilder<V>::bind_multiple(NameMap<V> values) {
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

template <class V>
Env<V> EnvBuilder<V>::build() const& {
  // Copying a Cow keeps a borrowed value borrowed and copies an owned one deeply.
  return Env<V>{bindings, functions ? *functions : Cow<FunctionTable>::Borrowed(DEFAULT_VTABLE())};
}

template <class V>
Env<V> EnvBuilder<V>::build() && {
  return Env<V>{std::move(bindings),
                functions ? std::move(*functions) : Cow<FunctionTable>::Borrowed(DEFAULT_VTABLE())};
}

}  // namespace vintrel
