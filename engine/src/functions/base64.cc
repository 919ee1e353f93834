#include "functions/base64.h"

#include <array>
#include <cstdint>

namespace vintrel::detail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;
constexpr unsigned char kPad = '=';

constexpr std::array<uint8_t, 256> make_decode_table() {
  std::array<uint8_t, 256> t{};
  for (auto& e : t) e = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
  return t;
}
constexpr std::array<uint8_t, 256> kDecode = make_decode_table();

std::string invalid_symbol(size_t offset, unsigned char byte) {
  return "Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) + ".";
}

}  // namespace

std::string base64_encode(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  std::string out;
  out.resize((n + 2) / 3 * 4);
  char* o = out.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = uint32_t{p[i]} << 16;
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = '=';
    *o++ = '=';
  } else if (n - i == 2) {
    uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8);
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = '=';
  }
  return out;
}

// When a text has several faults, the one named is found in this order:
//  1. a length that leaves one byte over a multiple of four, ending in a byte
//     that is neither a symbol nor "=": that last byte (a trailing line break
//     is the common case, and naming it beats naming the length);
//  2. scanning the groups of four before the last one, left to right: the
//     first byte that is not a symbol ("=" included, since padding cannot
//     stand there);
//  3. the final group (one to four bytes), left to right: a non-symbol, an
//     "=" among its first two bytes, or a symbol after an "=" (named by the
//     first "=");
//  4. a final group holding a single symbol: the input length;
//  5. symbols plus padding not filling a group of four: "Invalid padding";
//  6. set bits in the unused part of the last symbol.
Expected<std::string, std::string> base64_decode(std::string_view text) {
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  const size_t rem = n % 4;
  if (rem == 1 && in[n - 1] != kPad && kDecode[in[n - 1]] == kInvalid) return unexpected(invalid_symbol(n - 1, in[n - 1]));

  // The last group is decoded apart because it may hold padding.
  size_t body = n - rem;
  if (rem == 0 && n > 0) body -= 4;

  std::string out;
  out.resize(body / 4 * 3 + 3);
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  for (size_t i = 0; i < body; i += 4) {
    uint8_t a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
    if ((a | b | c | d) & 0xC0) {  // only kInvalid has these bits
      for (size_t k = i; k < i + 4; ++k)
        if (kDecode[in[k]] == kInvalid) return unexpected(invalid_symbol(k, in[k]));
    }
    uint32_t v = (uint32_t{a} << 18) | (uint32_t{b} << 12) | (uint32_t{c} << 6) | d;
    *o++ = static_cast<unsigned char>(v >> 16);
    *o++ = static_cast<unsigned char>(v >> 8);
    *o++ = static_cast<unsigned char>(v);
  }

  uint8_t morsels[4] = {0, 0, 0, 0};
  size_t n_morsels = 0, n_pad = 0, first_pad = 0;
  unsigned char last_symbol = 0;
  for (size_t k = body; k < n; ++k) {
    unsigned char ch = in[k];
    if (ch == kPad) {
      if (k - body < 2) return unexpected(invalid_symbol(k, ch));
      if (n_pad == 0) first_pad = k;
      ++n_pad;
      continue;
    }
    if (n_pad > 0) return unexpected(invalid_symbol(first_pad, kPad));
    uint8_t m = kDecode[ch];
    if (m == kInvalid) return unexpected(invalid_symbol(k, ch));
    last_symbol = ch;
    morsels[n_morsels++] = m;
  }
  if (n > 0 && n_morsels < 2) return unexpected("Invalid input length: " + std::to_string(n));
  if ((n_pad + n_morsels) % 4 != 0) return unexpected(std::string("Invalid padding"));

  const size_t tail_bytes = n_morsels * 6 / 8;
  uint32_t v = (uint32_t{morsels[0]} << 26) | (uint32_t{morsels[1]} << 20) | (uint32_t{morsels[2]} << 14) |
               (uint32_t{morsels[3]} << 8);
  const uint32_t unused = tail_bytes == 0 ? ~uint32_t{0} : ~uint32_t{0} >> (tail_bytes * 8);
  if (v & unused) {
    return unexpected("Invalid last symbol " + std::to_string(last_symbol) + ", offset " +
                      std::to_string(body + n_morsels - 1) + ".");
  }
  for (size_t k = 0; k < tail_bytes; ++k) *o++ = static_cast<unsigned char>(v >> (24 - 8 * k));
  out.resize(static_cast<size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
  return out;
}

std::optional<std::string> utf8_error(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  auto is_cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  size_t i = 0;
  while (i < n) {
    unsigned char b0 = p[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    size_t width = b0 >= 0xC2 && b0 <= 0xDF ? 2 : b0 >= 0xE0 && b0 <= 0xEF ? 3 : b0 >= 0xF0 && b0 <= 0xF4 ? 4 : 0;
    // The second byte's allowed range excludes overlong forms, surrogates
    // and code points above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
    // `good` counts the bytes that start a well-formed sequence: the length
    // of the maximal subpart when the sequence breaks off.
    size_t good = 1;
    if (width != 0) {
      for (; good < width; ++good) {
        if (i + good >= n) return "incomplete utf-8 byte sequence from index " + std::to_string(i);
        unsigned char b = p[i + good];
        bool ok = good == 1 ? (b >= lo && b <= hi) : is_cont(b);
        if (!ok) break;
      }
      if (good == width) {
        i += width;
        continue;
      }
    }
    return "invalid utf-8 sequence of " + std::to_string(good) + " bytes from index " + std::to_string(i);
  }
  return std::nullopt;
}

}  // namespace vintrel::detail
