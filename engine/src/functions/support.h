// Helpers shared by the built-in functions: argument checks and the
// substring search.
#pragma once

#include <string.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vintrel/errors.h"
#include "vintrel/func.h"
#include "vintrel/value.h"

namespace vintrel::detail {

inline constexpr std::string_view kFirstString = "Expected a string as the first argument";
inline constexpr std::string_view kSecondString = "Expected a string as the second argument";
inline constexpr std::string_view kThirdString = "Expected a string as the third argument";
inline constexpr std::string_view kStringArg = "Expected a string argument";

// "<what>, got: '<kind of v>'" as a TypeError.
inline Unexpected<EvalError> kind_error(std::string_view what, const Value& v) {
  std::string m;
  m.reserve(what.size() + 16);
  m += what;
  m += ", got: '";
  m += type_name(v.get_type());
  m += '\'';
  return unexpected(EvalError::type_error(std::move(m)));
}

// "<what>: '<reason>'": how a built-in names a failure and quotes its cause.
inline std::string quoted_reason(std::string_view what, std::string_view reason) {
  std::string m;
  m.reserve(what.size() + reason.size() + 4);
  m += what;
  m += ": '";
  m += reason;
  m += '\'';
  return m;
}

inline Unexpected<EvalError> count_error(uint64_t expected, FnArgs args) {
  return unexpected(EvalError::argument_count(expected, args.size()));
}

// First position >= `from` where `needle` (non-empty) occurs in `hay`, or npos.
// glibc's memmem runs in time linear in the haystack for every needle
// (two-way search), unlike std::string_view::find.
inline size_t find_bytes(std::string_view hay, std::string_view needle, size_t from) {
  if (from > hay.size() || needle.size() > hay.size() - from) return std::string_view::npos;
  const void* hit = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
  return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
}

inline bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Unicode scalar values in valid UTF-8: the bytes that start one.
inline size_t count_scalars(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += !is_utf8_continuation(c);
  return n;
}

// End of the scalar value that starts at s[i].
inline size_t scalar_end(std::string_view s, size_t i) {
  size_t j = i + 1;
  while (j < s.size() && is_utf8_continuation(s[j])) ++j;
  return j;
}

// A result value that owns its text.
inline Value owned_string(std::string s) { return Value::String(CowStr::Owned(std::move(s))); }

}  // namespace vintrel::detail

namespace vintrel::detail {

// Count `N` and N string arguments, checked in that order, left to right.
template <size_t N>
Expected<std::array<std::string_view, N>, EvalError> string_args(FnArgs args) {
  static_assert(N >= 1 && N <= 3);
  static constexpr std::string_view kWhat[3] = {kFirstString, kSecondString, kThirdString};
  if (args.size() != N) return count_error(N, args);
  std::array<std::string_view, N> out;
  for (size_t i = 0; i < N; ++i) {
    if (!args[i].is_string()) return kind_error(kWhat[i], args[i]);
    out[i] = args[i].as_str();
  }
  return out;
}

// The display texts of a run of values, each rendered once. A string's text
// is used in place; `storage` owns the texts of all other values.
struct RenderedValues {
  std::vector<std::string> storage;
  std::vector<std::string_view> texts;
  size_t total_size = 0;
};

inline RenderedValues render_values(std::span<const Value> values) {
  RenderedValues r;
  size_t others = 0;
  for (const Value& v : values) others += !v.is_string();
  r.storage.reserve(others);  // no reallocation: `texts` points into it
  r.texts.reserve(values.size());
  for (const Value& v : values) {
    if (v.is_string()) {
      r.texts.push_back(v.as_str());
    } else {
      r.texts.push_back(r.storage.emplace_back(v.display_string()));
    }
    r.total_size += r.texts.back().size();
  }
  return r;
}

}  // namespace vintrel::detail
