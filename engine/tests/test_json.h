// The engine tests' own bound-value type: a small JSON value with an
// insertion-ordered object, written independently of the binding's value so
// that the tests show the engine depends only on the BoundValue operations.
//
// Besides the eight JSON kinds it has two kinds for failure tests:
// Opaque answers no kind test at all, and Lying claims a kind (string,
// array or object) whose accessors then yield nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vintrel/env.h"
#include "vintrel/errors.h"
#include "vintrel/value.h"

namespace vtest {

// Insertion-ordered map from text to T; linear lookup is plenty for tests.
template <class T>
class OrderedMap {
 public:
  using value_type = std::pair<std::string, T>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  OrderedMap() = default;
  OrderedMap(std::initializer_list<value_type> init) {
    for (const auto& e : init) insert_or_assign(e.first, e.second);
  }

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  size_t size() const { return entries_.size(); }

  iterator find(std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->first == key) return it;
    return entries_.end();
  }
  const_iterator find(std::string_view key) const { return const_cast<OrderedMap*>(this)->find(key); }

  // A new key goes last; an existing one keeps its place.
  void insert_or_assign(std::string key, T value) {
    auto it = find(key);
    if (it != end())
      it->second = std::move(value);
    else
      entries_.emplace_back(std::move(key), std::move(value));
  }

  friend bool operator==(const OrderedMap& a, const OrderedMap& b) { return a.entries_ == b.entries_; }

 private:
  std::vector<value_type> entries_;
};

class Json {
 public:
  using array_type = std::vector<Json>;
  using object_type = OrderedMap<Json>;
  struct Opaque {
    friend bool operator==(Opaque, Opaque) { return true; }
  };
  enum class Claim : uint8_t { String, Array, Object };
  struct Lying {
    Claim claim;
    friend bool operator==(Lying, Lying) = default;
  };
  using Storage = std::variant<std::monostate, bool, uint64_t, int64_t, double, std::string, array_type,
                               object_type, Opaque, Lying>;
  explicit Json(Storage s) : v_(std::move(s)) {}

  Json() = default;  // null
  static Json null() { return Json(); }
  static Json boolean(bool b) { return Json(Storage(std::in_place_type<bool>, b)); }
  static Json u(uint64_t n) { return Json(Storage(std::in_place_type<uint64_t>, n)); }
  static Json i(int64_t n) { return Json(Storage(std::in_place_type<int64_t>, n)); }
  static Json f(double d) { return Json(Storage(std::in_place_type<double>, d)); }
  static Json str(std::string s) { return Json(Storage(std::in_place_type<std::string>, std::move(s))); }
  static Json arr(std::initializer_list<Json> items) { return arr(array_type(items)); }
  static Json arr(array_type items) { return Json(Storage(std::in_place_type<array_type>, std::move(items))); }
  static Json obj(std::initializer_list<object_type::value_type> entries) { return obj(object_type(entries)); }
  static Json obj(object_type entries) { return Json(Storage(std::in_place_type<object_type>, std::move(entries))); }
  static Json opaque() { return Json(Storage(std::in_place_type<Opaque>)); }
  static Json lying(Claim c) { return Json(Storage(std::in_place_type<Lying>, Lying{c})); }

  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  std::optional<bool> as_bool() const { return get<bool>(); }
  std::optional<uint64_t> as_u64() const { return get<uint64_t>(); }
  std::optional<int64_t> as_i64() const { return get<int64_t>(); }
  std::optional<double> as_f64() const { return get<double>(); }

  bool is_string() const { return std::holds_alternative<std::string>(v_) || claims(Claim::String); }
  std::optional<std::string_view> as_str() const {
    if (auto* s = std::get_if<std::string>(&v_)) return std::string_view(*s);
    return std::nullopt;
  }
  std::optional<std::string> into_string() && {
    if (auto* s = std::get_if<std::string>(&v_)) return std::move(*s);
    return std::nullopt;
  }

  bool is_array() const { return std::holds_alternative<array_type>(v_) || claims(Claim::Array); }
  const array_type* as_array() const { return std::get_if<array_type>(&v_); }
  array_type* as_array_mut() { return std::get_if<array_type>(&v_); }
  std::optional<array_type> into_array() && {
    if (auto* a = std::get_if<array_type>(&v_)) return std::move(*a);
    return std::nullopt;
  }

  bool is_object() const { return std::holds_alternative<object_type>(v_) || claims(Claim::Object); }
  const object_type* as_object() const { return std::get_if<object_type>(&v_); }
  object_type* as_object_mut() { return std::get_if<object_type>(&v_); }
  std::optional<object_type> into_object() && {
    if (auto* o = std::get_if<object_type>(&v_)) return std::move(*o);
    return std::nullopt;
  }

  // Null, Bool(true), UInt(7), Int(-1), Float(1.5), String("a"),
  // Array([UInt(1)]), Object({"k": Null}).
  void debug_fmt(std::string& out) const {
    struct Fmt {
      std::string& out;
      void operator()(std::monostate) { out += "Null"; }
      void operator()(bool b) { out += b ? "Bool(true)" : "Bool(false)"; }
      void operator()(uint64_t n) { out += "UInt(" + std::to_string(n) + ")"; }
      void operator()(int64_t n) { out += "Int(" + std::to_string(n) + ")"; }
      void operator()(double d) {
        out += "Float(";
        vintrel::float_debug_fmt(d, out);
        out += ")";
      }
      void operator()(const std::string& s) {
        out += "String(";
        vintrel::quoted_debug_fmt(s, out);
        out += ")";
      }
      void operator()(const array_type& a) {
        out += "Array([";
        for (size_t k = 0; k < a.size(); ++k) {
          if (k) out += ", ";
          a[k].debug_fmt(out);
        }
        out += "])";
      }
      void operator()(const object_type& o) {
        out += "Object({";
        bool first = true;
        for (const auto& [key, val] : o) {
          if (!first) out += ", ";
          first = false;
          vintrel::quoted_debug_fmt(key, out);
          out += ": ";
          val.debug_fmt(out);
        }
        out += "})";
      }
      void operator()(Opaque) { out += "Opaque"; }
      void operator()(Lying) { out += "Lying"; }
    };
    std::visit(Fmt{out}, v_);
  }
  std::string debug_string() const {
    std::string s;
    debug_fmt(s);
    return s;
  }

  friend bool operator==(const Json& a, const Json& b) { return a.v_ == b.v_; }

 private:

  template <class T>
  std::optional<T> get() const {
    if (auto* p = std::get_if<T>(&v_)) return *p;
    return std::nullopt;
  }
  bool claims(Claim c) const {
    auto* l = std::get_if<Lying>(&v_);
    return l && l->claim == c;
  }

  Storage v_;
};

static_assert(vintrel::BoundValue<Json>);

using Bindings = vintrel::NameMap<Json>;

// Variant, text and key of a path error in one comparable string.
inline std::string describe(const vintrel::VarAccessError& e) {
  static const char* const kinds[] = {"Empty", "NotFound", "KeyNotFound", "TypeError", "IndexOutOfBounds",
                                      "ConversionError"};
  std::string s = kinds[static_cast<int>(e.kind())];
  s += ": " + e.text();
  if (e.kind() == vintrel::VarAccessError::Kind::KeyNotFound) s += " / " + e.key();
  return s;
}

inline vintrel::Env<Json> make_env(Bindings bindings) {
  auto builder = vintrel::EnvBuilder<Json>::new_();
  builder.bind_multiple(std::move(bindings));
  return std::move(builder).build();
}

}  // namespace vtest
