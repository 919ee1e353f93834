// Bound values: the data an environment binds to names, as the engine reads
// it, and its conversion into Values.
//
// The engine is generic over the type V of a bound value. It reads V only
// through BoundOps<V>, and always through pointers and references into the
// data: a value found inside another is never copied to be looked at. The
// default BoundOps forwards to V's own members; a host whose data cannot
// have members of ours (the Python binding reads Python objects where they
// lie) specialises BoundOps for its type instead.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "vintrel/panic.h"
#include "vintrel/small_stack.h"
#include "vintrel/value.h"
#include "vintrel/var.h"

namespace vintrel {

// How the engine reads a V, by default through V's members:
//   is_null, as_bool, as_u64, as_i64, as_f64, is_string, as_str, is_array,
//   as_array, is_object, as_object, debug_fmt;
// V::array_type is a random-access list of V; V::object_type iterates
// (key, V) pairs in the value's own order and finds a key by view.
// Each test and accessor answers for the value itself only.
template <class V>
struct BoundOps {
  using array_type = typename V::array_type;
  using object_type = typename V::object_type;
  // A place among an object's entries.
  struct Cursor {
    typename object_type::const_iterator it, end;
  };

  static bool is_null(const V& v) { return v.is_null(); }
  static std::optional<bool> as_bool(const V& v) { return v.as_bool(); }
  static std::optional<uint64_t> as_u64(const V& v) { return v.as_u64(); }
  static std::optional<int64_t> as_i64(const V& v) { return v.as_i64(); }
  static std::optional<double> as_f64(const V& v) { return v.as_f64(); }
  static bool is_string(const V& v) { return v.is_string(); }
  static std::optional<std::string_view> as_str(const V& v) { return v.as_str(); }
  static bool is_array(const V& v) { return v.is_array(); }
  static const array_type* as_array(const V& v) { return v.as_array(); }
  static size_t array_size(const array_type& a) { return a.size(); }
  static const V& element(const array_type& a, size_t i) { return a[i]; }
  // Element `i` of the array `v`, or null past its end; `size` is the
  // array's size either way. A path step takes one element where a whole
  // array is not needed.
  static const V* element_at(const V& v, size_t i, size_t& size) {
    const array_type& a = *as_array(v);
    size = array_size(a);
    return i < size ? &element(a, i) : nullptr;
  }
  static bool is_object(const V& v) { return v.is_object(); }
  static const object_type* as_object(const V& v) { return v.as_object(); }
  static size_t object_size(const object_type& o) { return o.size(); }
  // The value under `name`'s key (byte-exact), or null.
  static const V* find(const object_type& o, const VarName& name) {
    auto it = o.find(std::string_view(name.name));
    return it == o.end() ? nullptr : &it->second;
  }
  static Cursor first_entry(const object_type& o) { return Cursor{o.begin(), o.end()}; }
  static bool at_end(const Cursor& c) { return c.it == c.end; }
  static void next_entry(Cursor& c) { ++c.it; }
  static std::string_view entry_key(const Cursor& c) { return c.it->first; }
  static const V& entry_value(const Cursor& c) { return c.it->second; }
  static void debug_fmt(const V& v, std::string& out) { v.debug_fmt(out); }
};

// What the engine needs to read a bound value: path walks, lookups from
// bindings and the borrowing conversion into a Value.
template <class V>
concept BoundValue = requires(const V& c, const typename BoundOps<V>::array_type& a,
                              const typename BoundOps<V>::object_type& o,
                              typename BoundOps<V>::Cursor& cur, const VarName& n, std::string& out, size_t& sz) {
  { BoundOps<V>::is_null(c) } -> std::same_as<bool>;
  { BoundOps<V>::as_bool(c) } -> std::same_as<std::optional<bool>>;
  { BoundOps<V>::as_u64(c) } -> std::same_as<std::optional<uint64_t>>;
  { BoundOps<V>::as_i64(c) } -> std::same_as<std::optional<int64_t>>;
  { BoundOps<V>::as_f64(c) } -> std::same_as<std::optional<double>>;
  { BoundOps<V>::is_string(c) } -> std::same_as<bool>;
  { BoundOps<V>::as_str(c) } -> std::same_as<std::optional<std::string_view>>;
  { BoundOps<V>::is_array(c) } -> std::same_as<bool>;
  { BoundOps<V>::as_array(c) } -> std::same_as<const typename BoundOps<V>::array_type*>;
  { BoundOps<V>::array_size(a) } -> std::same_as<size_t>;
  { BoundOps<V>::element(a, size_t{}) } -> std::same_as<const V&>;
  { BoundOps<V>::element_at(c, size_t{}, sz) } -> std::same_as<const V*>;
  { BoundOps<V>::is_object(c) } -> std::same_as<bool>;
  { BoundOps<V>::as_object(c) } -> std::same_as<const typename BoundOps<V>::object_type*>;
  { BoundOps<V>::object_size(o) } -> std::same_as<size_t>;
  { BoundOps<V>::find(o, n) } -> std::same_as<const V*>;
  { BoundOps<V>::first_entry(o) } -> std::same_as<typename BoundOps<V>::Cursor>;
  { BoundOps<V>::at_end(cur) } -> std::same_as<bool>;
  { BoundOps<V>::next_entry(cur) } -> std::same_as<void>;
  { BoundOps<V>::entry_key(cur) } -> std::convertible_to<std::string_view>;
  { BoundOps<V>::entry_value(cur) } -> std::same_as<const V&>;
  { BoundOps<V>::debug_fmt(c, out) } -> std::same_as<void>;
};

namespace detail {

// Whether the containers open around a value, `depth` of them, are more
// than V's BoundOps accept (a too_deep member of its own: data that may
// change while it is read can come to hold itself); by default any depth.
template <class V>
bool too_deep(size_t depth) {
  if constexpr (requires { BoundOps<V>::too_deep(depth); })
    return BoundOps<V>::too_deep(depth);
  else
    return false;
}

}  // namespace detail

// A bound value that the engine may also own, copy deeply, take apart and
// change in place: what an environment's builder, the consuming conversion
// and replacement need. The mutable and consuming forms are V's members.
template <class V>
concept OwnedBoundValue = BoundValue<V> && std::copy_constructible<V> && requires(V& m, V&& r) {
  { m.as_array_mut() } -> std::same_as<typename V::array_type*>;
  { m.as_object_mut() } -> std::same_as<typename V::object_type*>;
  { std::move(r).into_string() } -> std::same_as<std::optional<std::string>>;
  { std::move(r).into_array() } -> std::same_as<std::optional<typename V::array_type>>;
  { std::move(r).into_object() } -> std::same_as<std::optional<typename V::object_type>>;
};

// The debug text of a JSON-like bound value, for a V that uses it as its
// own: Null, Bool(true), UInt(7), Int(-3), Float(1e16), String("a"),
// Array([UInt(1), Null]), Object({"k": Bool(false)}), entries in the
// value's own order. Nested containers are written from an explicit stack.
template <class V>
void json_debug_fmt(const V& root, std::string& out);

namespace detail {

// Puts the entries of a just-converted object, which arrive in the source's
// order, into ascending byte order of the keys; of equal keys the later wins.
void sort_object_entries(ValueObject& m);

inline constexpr std::string_view kUnsupportedValueType = "Unsupported value type";

// Converts one bound value into a Value with an explicit stack of open
// containers, so the depth of the data never deepens the native stack.
// kOwned: the source is consumed and its text moved; otherwise the strings
// of the result borrow the source's text.
template <class V, bool kOwned>
class BoundConverter {
  using Ops = BoundOps<V>;
  using Src = std::conditional_t<kOwned, V, const V>;
  using Arr = typename Ops::array_type;
  using Obj = typename Ops::object_type;

  // `out` already holds the container, reserved to its final size, so the
  // addresses of its elements stay put while they are filled. A consumed
  // container is moved to the heap first, so its elements keep their
  // addresses while the frame stack grows.
  struct ReadArray {
    const Arr* src;
    size_t next;
    ValueArray* out;
  };
  struct ReadObject {
    typename Ops::Cursor at;
    ValueObject* out;
  };
  struct TakenArray {
    std::unique_ptr<Arr> src;
    size_t next;
    ValueArray* out;
  };
  struct TakenObject {
    std::unique_ptr<Obj> src;
    typename Obj::iterator it;
    ValueObject* out;
  };
  using ArrayFrame = std::conditional_t<kOwned, TakenArray, ReadArray>;
  using ObjectFrame = std::conditional_t<kOwned, TakenObject, ReadObject>;
  using Frame = std::variant<ArrayFrame, ObjectFrame>;

 public:
  BoundConverter() noexcept {}

  enum class Opened : uint8_t { Scalar, Container, Unknown };
  // Converts a scalar into `out` (null on entry); Container for an array or
  // an object, which `out` does not yet hold; Unknown for no kind at all.
  static Opened open_scalar(Src& v, Value& out) {
    if (Ops::is_string(v)) {
      if constexpr (kOwned) {
        auto s = std::move(v).into_string();
        if (!s) panic("Expected JSON string");
        out = Value::String(CowStr::Owned(std::move(*s)));
      } else {
        auto s = Ops::as_str(v);
        if (!s) panic("Expected JSON string");
        out = Value::String(CowStr::Borrowed(*s));
      }
      return Opened::Scalar;
    }
    if (auto u = Ops::as_u64(v)) {
      out = Value::from_u64(*u);
      return Opened::Scalar;
    }
    if (auto i = Ops::as_i64(v)) {
      out = Value::Int(*i);
      return Opened::Scalar;
    }
    if (auto f = Ops::as_f64(v)) {
      out = Value::Float(*f);
      return Opened::Scalar;
    }
    if (auto b = Ops::as_bool(v)) {
      out = Value::Bool(*b);
      return Opened::Scalar;
    }
    if (Ops::is_array(v)) return Opened::Container;
    if (Ops::is_null(v)) return Opened::Scalar;  // `out` is null already
    if (Ops::is_object(v)) return Opened::Container;
    return Opened::Unknown;
  }

  // Converts `root` into `result`, which must be null on entry. False when
  // some value inside is of no kind the engine knows.
  bool run(Src& root, Value& result) {
    if (!open(root, result)) return false;
    while (!frames_.empty()) {
      Src* child;
      Value* slot;
      if (auto* a = std::get_if<ArrayFrame>(&frames_.back())) {
        const size_t size = Ops::array_size(*a->src);
        if (a->next == size) {
          frames_.drop(1);
          continue;
        }
        if constexpr (kOwned)
          child = &(*a->src)[a->next++];
        else
          child = &Ops::element(*a->src, a->next++);
        slot = &a->out->emplace_back();
      } else {
        auto& o = *std::get_if<ObjectFrame>(&frames_.back());
        std::string key;
        if constexpr (kOwned) {
          if (o.it == o.src->end()) {
            sort_object_entries(*o.out);
            frames_.drop(1);
            continue;
          }
          // Moves the key out of the consumed map where it allows it.
          key = std::string(std::move(o.it->first));
          child = &o.it->second;
          ++o.it;
        } else {
          if (Ops::at_end(o.at)) {
            sort_object_entries(*o.out);
            frames_.drop(1);
            continue;
          }
          key = std::string(Ops::entry_key(o.at));
          child = &Ops::entry_value(o.at);
          Ops::next_entry(o.at);
        }
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
    switch (open_scalar(v, out)) {
      case Opened::Scalar: return true;
      case Opened::Unknown: return false;
      case Opened::Container: break;
    }
    if (too_deep<V>(frames_.size())) return false;
    if (Ops::is_array(v)) {
      out = Value::Array({});
      ValueArray* items = &out.as_array();
      if constexpr (kOwned) {
        auto a = std::move(v).into_array();
        if (!a) panic("Expected JSON array");
        items->reserve(a->size());
        frames_.emplace_back(std::in_place_type<ArrayFrame>,
                             ArrayFrame{std::make_unique<Arr>(std::move(*a)), 0, items});
      } else {
        const Arr* a = Ops::as_array(v);
        if (!a) panic("Expected JSON array");
        const size_t size = Ops::array_size(*a);
        items->reserve(size);
        // Leading scalars, the usual content, go straight in; a frame is
        // needed only from the first container on.
        size_t i = 0;
        for (; i < size; ++i) {
          Opened kind = open_scalar(Ops::element(*a, i), items->emplace_back());
          if (kind == Opened::Unknown) return false;
          if (kind == Opened::Container) {
            items->pop_back();
            break;
          }
        }
        if (i < size) frames_.emplace_back(std::in_place_type<ArrayFrame>, ArrayFrame{a, i, items});
      }
      return true;
    }
    if (Ops::is_object(v)) {
      out = Value::Object({});
      ValueObject* entries = &out.as_object();
      if constexpr (kOwned) {
        auto o = std::move(v).into_object();
        if (!o) panic("Expected JSON object");
        entries->reserve(o->size());
        auto src = std::make_unique<Obj>(std::move(*o));
        auto begin = src->begin();
        frames_.emplace_back(std::in_place_type<ObjectFrame>, ObjectFrame{std::move(src), begin, entries});
      } else {
        const Obj* o = Ops::as_object(v);
        if (!o) panic("Expected JSON object");
        entries->reserve(Ops::object_size(*o));
        frames_.emplace_back(std::in_place_type<ObjectFrame>, ObjectFrame{Ops::first_entry(*o), entries});
      }
      return true;
    }
    return false;
  }

  SmallStack<Frame, 8> frames_;
};

// The borrowing conversion into a null `out`, for callers that place the
// result themselves; false stands for kUnsupportedValueType. A scalar, the
// usual variable, needs no stack of open containers.
template <class V>
bool convert_bound_ref(const V& v, Value& out) {
  using Converter = BoundConverter<V, false>;
  switch (Converter::open_scalar(v, out)) {
    case Converter::Opened::Scalar: return true;
    case Converter::Opened::Unknown: return false;
    case Converter::Opened::Container: break;
  }
  return Converter().run(v, out);
}

inline Expected<Value, std::string> conversion_result(bool ok, Value& v) {
  if (!ok) return unexpected(std::string(kUnsupportedValueType));
  return std::move(v);
}

}  // namespace detail

template <class V>
Expected<Value, std::string> Value::from_json_object(V&& v) {
  static_assert(!std::is_lvalue_reference_v<V>, "from_json_object consumes its argument; borrow with from_json_object_ref");
  using T = std::remove_cvref_t<V>;
  static_assert(OwnedBoundValue<T>);
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
void json_debug_fmt(const V& root, std::string& out) {
  using Ops = BoundOps<V>;
  // An open container: the next element's position, or the next entry.
  struct Open {
    const typename Ops::array_type* array;  // null for an object
    size_t next;
    typename Ops::Cursor at;
  };
  SmallStack<Open, 8> open;
  const V* cur = &root;
  while (cur) {
    const V& v = *cur;
    if (auto s = Ops::as_str(v)) {
      out += "String(";
      quoted_debug_fmt(*s, out);
      out += ')';
    } else if (auto u = Ops::as_u64(v)) {
      out.append("UInt(").append(std::to_string(*u)).push_back(')');
    } else if (auto i = Ops::as_i64(v)) {
      out.append("Int(").append(std::to_string(*i)).push_back(')');
    } else if (auto f = Ops::as_f64(v)) {
      out += "Float(";
      float_debug_fmt(*f, out);
      out += ')';
    } else if (auto b = Ops::as_bool(v)) {
      out += *b ? "Bool(true)" : "Bool(false)";
    } else if (Ops::is_array(v) && detail::too_deep<V>(open.size())) {
      out += "Array([...])";
    } else if (const auto* a = Ops::as_array(v)) {
      out += "Array([";
      open.push_back(Open{a, 0, {}});
    } else if (Ops::is_object(v) && detail::too_deep<V>(open.size())) {
      out += "Object({...})";
    } else if (const auto* o = Ops::as_object(v)) {
      out += "Object({";
      open.push_back(Open{nullptr, 0, Ops::first_entry(*o)});
    } else {
      out += "Null";
    }
    // The next value to write: the next child of the innermost open
    // container, closing every container that is done.
    cur = nullptr;
    while (!open.empty()) {
      Open& top = open.back();
      bool first = top.next++ == 0;
      if (top.array) {
        if (top.next <= Ops::array_size(*top.array)) {
          if (!first) out += ", ";
          cur = &Ops::element(*top.array, top.next - 1);
          break;
        }
        out += "])";
      } else {
        if (!Ops::at_end(top.at)) {
          if (!first) out += ", ";
          quoted_debug_fmt(Ops::entry_key(top.at), out);
          out += ": ";
          cur = &Ops::entry_value(top.at);
          Ops::next_entry(top.at);
          break;
        }
        out += "})";
      }
      open.drop(1);
    }
  }
}

}  // namespace vintrel
