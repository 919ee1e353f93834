// Shared pieces of the fuzz targets: input checks, invariant checks and a
// small bound-value type for driving the interpreter without Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzz {

// A private copy of the fuzzer's bytes. The caller frees it (release())
// before using what was parsed from it again, so anything that still points
// into it is a use after free that ASan reports.
class PrivateText {
 public:
  explicit PrivateText(std::string_view in) : bytes_(std::make_unique<char[]>(in.size() + 1)), size_(in.size()) {
    if (size_) std::memcpy(bytes_.get(), in.data(), size_);
  }
  std::string_view view() const { return {bytes_.get(), size_}; }
  void release() { bytes_.reset(); }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_;
};

// A broken property: print it and abort so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz property broken: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
  std::fflush(stderr);
  std::abort();
}

inline void require(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// Well-formed UTF-8 as Python hands it over (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF). The engine only ever sees such
// text, so inputs that are not are skipped.
inline bool is_utf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < len) return false;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b1 < lo || b1 > hi) return false;
    for (size_t k = 2; k < len; ++k) {
      const auto bk = static_cast<unsigned char>(s[i + k]);
      if (bk < 0x80 || bk > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

// True when `part` is a view into the tail of `whole` (ends where it ends).
inline bool is_suffix_view(std::string_view whole, std::string_view part) {
  if (part.size() > whole.size()) return false;
  if (part.empty()) return true;
  return part.data() == whole.data() + (whole.size() - part.size());
}

// Splits on NUL bytes: the targets take several texts from one input.
inline std::vector<std::string_view> split_nul(std::string_view s, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    size_t p = s.find('\0');
    if (p == std::string_view::npos) break;
    parts.push_back(s.substr(0, p));
    s.remove_prefix(p + 1);
  }
  parts.push_back(s);
  return parts;
}

// A JSON-like bound value, the same shape as the binding's: unsigned and
// signed integers apart, objects in insertion order.
class FuzzValue;

class FuzzObject {
 public:
  using value_type = std::pair<std::string, FuzzValue>;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;
  size_t size() const;
  bool empty() const;

  // Defined below, once FuzzValue is complete.
  iterator find(std::string_view key);
  const_iterator find(std::string_view key) const;
  void insert_or_assign(std::string key, FuzzValue value);

 private:
  std::vector<value_type> entries_;
};

class FuzzValue {
 public:
  enum class Kind { Null, Bool, UInt, Int, Float, String, Array, Object };
  using array_type = std::vector<FuzzValue>;
  using object_type = FuzzObject;

  FuzzValue() = default;
  static FuzzValue null() { return FuzzValue(); }
  static FuzzValue boolean(bool b) {
    FuzzValue v(Kind::Bool);
    v.b_ = b;
    return v;
  }
  static FuzzValue uint(uint64_t u) {
    FuzzValue v(Kind::UInt);
    v.u_ = u;
    return v;
  }
  static FuzzValue sint(int64_t i) {
    FuzzValue v(Kind::Int);
    v.i_ = i;
    return v;
  }
  static FuzzValue real(double f) {
    FuzzValue v(Kind::Float);
    v.f_ = f;
    return v;
  }
  static FuzzValue string(std::string s) {
    FuzzValue v(Kind::String);
    v.s_ = std::move(s);
    return v;
  }
  static FuzzValue array(array_type a) {
    FuzzValue v(Kind::Array);
    v.a_ = std::move(a);
    return v;
  }
  static FuzzValue object(object_type o) {
    FuzzValue v(Kind::Object);
    v.o_ = std::move(o);
    return v;
  }

  bool is_null() const { return kind_ == Kind::Null; }
  std::optional<bool> as_bool() const { return kind_ == Kind::Bool ? std::optional<bool>(b_) : std::nullopt; }
  std::optional<uint64_t> as_u64() const {
    return kind_ == Kind::UInt ? std::optional<uint64_t>(u_) : std::nullopt;
  }
  std::optional<int64_t> as_i64() const { return kind_ == Kind::Int ? std::optional<int64_t>(i_) : std::nullopt; }
  std::optional<double> as_f64() const { return kind_ == Kind::Float ? std::optional<double>(f_) : std::nullopt; }
  bool is_string() const { return kind_ == Kind::String; }
  std::optional<std::string_view> as_str() const {
    return is_string() ? std::optional<std::string_view>(s_) : std::nullopt;
  }
  std::optional<std::string> into_string() && {
    return is_string() ? std::optional<std::string>(std::move(s_)) : std::nullopt;
  }
  bool is_array() const { return kind_ == Kind::Array; }
  const array_type* as_array() const { return is_array() ? &a_ : nullptr; }
  array_type* as_array_mut() { return is_array() ? &a_ : nullptr; }
  std::optional<array_type> into_array() && {
    return is_array() ? std::optional<array_type>(std::move(a_)) : std::nullopt;
  }
  bool is_object() const { return kind_ == Kind::Object; }
  const object_type* as_object() const { return is_object() ? &o_ : nullptr; }
  object_type* as_object_mut() { return is_object() ? &o_ : nullptr; }
  std::optional<object_type> into_object() && {
    return is_object() ? std::optional<object_type>(std::move(o_)) : std::nullopt;
  }
  void debug_fmt(std::string& out) const {
    // Only shown in messages; the targets never compare it.
    static constexpr const char* kNames[] = {"Null", "Bool", "UInt", "Int", "Float", "String", "Array", "Object"};
    out += kNames[static_cast<int>(kind_)];
  }

 private:
  explicit FuzzValue(Kind k) : kind_(k) {}
  Kind kind_ = Kind::Null;
  bool b_ = false;
  uint64_t u_ = 0;
  int64_t i_ = 0;
  double f_ = 0;
  std::string s_;
  array_type a_;
  object_type o_;
};

inline FuzzObject::iterator FuzzObject::begin() { return entries_.begin(); }
inline FuzzObject::iterator FuzzObject::end() { return entries_.end(); }
inline FuzzObject::const_iterator FuzzObject::begin() const { return entries_.begin(); }
inline FuzzObject::const_iterator FuzzObject::end() const { return entries_.end(); }
inline size_t FuzzObject::size() const { return entries_.size(); }
inline bool FuzzObject::empty() const { return entries_.empty(); }

inline FuzzObject::iterator FuzzObject::find(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->first == key) return it;
  return entries_.end();
}

inline FuzzObject::const_iterator FuzzObject::find(std::string_view key) const {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->first == key) return it;
  return entries_.end();
}

inline void FuzzObject::insert_or_assign(std::string key, FuzzValue value) {
  auto it = find(key);
  if (it != end()) {
    it->second = std::move(value);
  } else {
    entries_.emplace_back(std::move(key), std::move(value));
  }
}

}  // namespace fuzz
