#include "vintrel/utils.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <random>

#include "unicode_tables.h"

namespace vintrel {

// ---------------------------------------------------------------------------
// JSON escaping for nested strings in display text. The single quote is one
// of the escape set but replaced by itself, so it only makes the result owned.

static bool is_json_escape_char(char c) {
  return c == '\\' || c == '"' || c == '\'' || c == '\n' || c == '\r' || c == '\t';
}

// Borrows `s` when nothing needs escaping; otherwise a new owned text.
CowStr escape_str_for_json(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && !is_json_escape_char(s[i])) ++i;
  if (i == s.size()) return CowStr::Borrowed(s);
  std::string out;
  out.reserve(s.size() + 8);
  out.append(s.data(), i);
  for (; i < s.size(); ++i) {
    char c = s[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return CowStr::Owned(std::move(out));
}

// ---------------------------------------------------------------------------
// SipHash-1-3

static inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

namespace {
struct SipState {
  uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

inline uint64_t load_le64(const unsigned char* p) {
  uint64_t r;
  std::memcpy(&r, p, 8);
  if constexpr (std::endian::native == std::endian::big) r = __builtin_bswap64(r);
  return r;
}
}  // namespace

uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view data) noexcept {
  SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
             k1 ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  size_t n = data.size();
  size_t full = n & ~size_t{7};
  for (size_t i = 0; i < full; i += 8) {
    uint64_t m = load_le64(p + i);
    s.v3 ^= m;
    s.round();
    s.v0 ^= m;
  }
  uint64_t b = static_cast<uint64_t>(n) << 56;
  for (size_t i = full; i < n; ++i) b |= static_cast<uint64_t>(p[i]) << (8 * (i - full));
  s.v3 ^= b;
  s.round();
  s.v0 ^= b;
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {
struct HashKeys {
  uint64_t k0, k1;
};

HashKeys make_hash_keys() {
  try {
    std::random_device rd;
    auto word = [&rd] { return (static_cast<uint64_t>(rd()) << 32) ^ rd(); };
    return {word(), word()};
  } catch (...) {
    // No random source: still differ between processes and runs.
    uint64_t t = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint64_t a = reinterpret_cast<uintptr_t>(&t);
    return {t ^ 0x9e3779b97f4a7c15ULL, a ^ (t << 17)};
  }
}

const HashKeys& hash_keys() {
  static const HashKeys keys = make_hash_keys();
  return keys;
}


uint64_t read64(const unsigned char* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

uint64_t read32(const unsigned char* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The high and low halves of the 128-bit product, folded together.
uint64_t fold_multiply(uint64_t a, uint64_t b) noexcept {
  __extension__ using u128 = unsigned __int128;
  u128 r = static_cast<u128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}
}  // namespace

// Names are hashed on every binding and every variable read, so this is a
// keyed multiply-fold hash (a few instructions per 16 bytes) rather than
// SipHash: the per-process random keys still keep colliding names from
// being planned in advance.
size_t NameHash::operator()(std::string_view s) const noexcept {
  const HashKeys& k = hash_keys();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  uint64_t seed = k.k0 ^ fold_multiply(n ^ 0x9e3779b97f4a7c15ULL, k.k1);
  uint64_t a = 0, b = 0;
  if (n <= 16) {
    if (n >= 8) {
      a = read64(p);
      b = read64(p + n - 8);
    } else if (n >= 4) {
      a = read32(p);
      b = read32(p + n - 4);
    } else if (n > 0) {
      a = (static_cast<uint64_t>(p[0]) << 16) | (static_cast<uint64_t>(p[n >> 1]) << 8) | p[n - 1];
    }
  } else {
    size_t i = 0;
    for (; i + 16 < n; i += 16) seed = fold_multiply(read64(p + i) ^ k.k1, read64(p + i + 8) ^ seed);
    a = read64(p + n - 16);
    b = read64(p + n - 8);
  }
  return static_cast<size_t>(fold_multiply(fold_multiply(a ^ k.k1, b ^ seed), k.k0 ^ n));
}

// ---------------------------------------------------------------------------
// Unicode classes

bool is_unicode_white_space(char32_t c) noexcept { return unicode::kWhiteSpace.contains(c); }

bool is_ascii_white_space(char32_t c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_unicode_alphabetic(char32_t c) noexcept { return unicode::kAlphabetic.contains(c); }

// Invalid input (a stray continuation byte, a truncated, overlong or
// surrogate sequence) decodes as U+FFFD over its maximal invalid prefix,
// at least one byte, so a caller always advances. Empty input returns 0.
size_t utf8_decode(std::string_view s, char32_t* out) noexcept {
  if (s.empty()) {
    *out = 0;
    return 0;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  unsigned char b0 = p[0];
  if (b0 < 0x80) {
    *out = b0;
    return 1;
  }
  size_t need;
  char32_t c;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    *out = 0xFFFD;
    return 1;
  }
  for (size_t i = 1; i <= need; ++i) {
    if (i >= s.size()) {
      *out = 0xFFFD;
      return i;
    }
    unsigned char b = p[i];
    unsigned char l = i == 1 ? lo : 0x80, h = i == 1 ? hi : 0xBF;
    if (b < l || b > h) {
      *out = 0xFFFD;
      return i;
    }
    c = (c << 6) | (b & 0x3F);
  }
  *out = c;
  return need + 1;
}

}  // namespace vintrel
