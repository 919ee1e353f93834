// Small shared helpers: JSON escaping, hashing, Unicode classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vintrel/cow.h"

namespace vintrel {

// Escapes backslash, double quote, LF, CR and TAB for display inside
// quotes; returns the input borrowed when nothing needs escaping.
CowStr escape_str_for_json(std::string_view s);

// SipHash-1-3 with the keys k0, k1.
uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view data) noexcept;

// Hash for maps keyed by names that callers choose: keyed once per process
// from the platform's random source, so colliding keys cannot be planned.
// Transparent: std::string_view lookups need no std::string.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept;
};

// Unicode classes, from the engine's own generated tables (one Unicode
// version in every build).
bool is_unicode_white_space(char32_t c) noexcept;  // White_Space: the 25 characters
bool is_ascii_white_space(char32_t c) noexcept;    // space, TAB, LF, CR
bool is_unicode_alphabetic(char32_t c) noexcept;   // Alphabetic

// Decodes one scalar value of UTF-8 at s[0..]; returns its length. Invalid
// input decodes as U+FFFD over its maximal invalid prefix (at least one
// byte), so a caller always advances; empty input gives 0 and length 0.
size_t utf8_decode(std::string_view s, char32_t* out) noexcept;

}  // namespace vintrel
