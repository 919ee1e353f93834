// The text built-ins: matches, base64Encode, base64Decode, replace, format.
#include <limits>

#include "functions/base64.h"
#include "functions/pattern_cache.h"
#include "functions/support.h"
#include "unicode_tables.h"
#include "vintrel/functions.h"
#include "vintrel/utils.h"

namespace vintrel::functions {

using detail::count_error;
using detail::kind_error;

namespace {

Unexpected<EvalError> value_error(std::string_view what, std::string_view reason) {
  return unexpected(EvalError::value_error(detail::quoted_reason(what, reason)));
}

// Byte length of the Unicode decimal digit (Nd) at s[i], or 0.
size_t decimal_digit_len(std::string_view s, size_t i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return b >= '0' && b <= '9' ? 1 : 0;
  char32_t c = 0;
  size_t len = utf8_decode(s.substr(i), &c);
  return len != 0 && unicode::kDecimalNumber.contains(c) ? len : 0;
}

// Unsigned decimal of a placeholder's digits; the reason of the first
// character that fails, left to right.
Expected<uint64_t, std::string_view> parse_placeholder_index(std::string_view digits) {
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return unexpected(std::string_view("invalid digit found in string"));
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (std::numeric_limits<uint64_t>::max() - d) / 10)
      return unexpected(std::string_view("number too large to fit in target type"));
    v = v * 10 + d;
  }
  return v;
}

}  // namespace

FnResult matches(FnArgs args) {
  auto s = detail::string_args<2>(args);
  if (!s) return unexpected(std::move(s).error());
  auto [text, pattern] = *s;
  // The node's own literal, unless the caller hands in other arguments.
  const detail::LiteralPattern* literal = args.site ? args.site->literal_pattern.get() : nullptr;
  if (literal && literal->text() == pattern) return literal->compiled().search(text);
  return detail::pattern_cache().get(pattern)->search(text);
}

FnResult base64_encode(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  if (!args[0].is_string()) return kind_error(detail::kStringArg, args[0]);
  return detail::owned_string(detail::base64_encode(args[0].as_str()));
}

FnResult base64_decode(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  if (!args[0].is_string()) return kind_error(detail::kStringArg, args[0]);
  auto bytes = detail::base64_decode(args[0].as_str());
  if (!bytes) return value_error("Invalid base64 string", bytes.error());
  if (auto bad = detail::utf8_error(*bytes)) return value_error("Decoded bytes are not valid UTF-8", *bad);
  return detail::owned_string(std::move(bytes).value());
}

FnResult replace(FnArgs args) {
  auto s = detail::string_args<3>(args);
  if (!s) return unexpected(std::move(s).error());
  auto [text, pattern, replacement] = *s;
  std::string out;
  if (pattern.empty()) {
    // The replacement goes before every scalar value and once at the end.
    size_t extra = 0;
    if (!__builtin_mul_overflow(detail::count_scalars(text) + 1, replacement.size(), &extra) &&
        text.size() + extra >= extra)
      out.reserve(text.size() + extra);
    for (size_t i = 0, j; i < text.size(); i = j) {
      j = detail::scalar_end(text, i);
      out += replacement;
      out.append(text, i, j - i);
    }
    out += replacement;
  } else {
    out.reserve(text.size());
    size_t from = 0;
    for (size_t hit; (hit = detail::find_bytes(text, pattern, from)) != std::string_view::npos;
         from = hit + pattern.size()) {
      out.append(text, from, hit - from);
      out += replacement;
    }
    out.append(text, from);
  }
  return detail::owned_string(std::move(out));
}

FnResult format(FnArgs args) {
  if (args.empty()) return count_error(1, args);
  if (!args[0].is_string()) return kind_error(detail::kFirstString, args[0]);
  const std::string_view f = args[0].as_str();
  const detail::RenderedValues values = detail::render_values(args.subspan(1));
  std::string out;
  out.reserve(f.size() + values.total_size);

  // Placeholders are "{", one or more Nd digits, "}", found left to right
  // without overlap; everything between them is copied as it stands.
  size_t copied = 0;
  for (size_t open = f.find('{'); open != std::string_view::npos;) {
    size_t end = open + 1;
    while (end < f.size()) {
      size_t len = decimal_digit_len(f, end);
      if (len == 0) break;
      end += len;
    }
    if (end == open + 1 || end == f.size() || f[end] != '}') {
      open = f.find('{', end == open + 1 ? open + 1 : end);
      continue;
    }
    const std::string_view digits = f.substr(open + 1, end - open - 1);
    const size_t after = end + 1;
    out.append(f, copied, open - copied);
    if (open != 0 && f[open - 1] == '{' && after != f.size() && f[after] == '}') {
      // {{n}}: the copied run already ends with the outer "{"; the outer "}"
      // goes with the next run.
      out += digits;
    } else {
      auto index = parse_placeholder_index(digits);
      if (!index) {
        std::string m = "Invalid format placeholder index '";
        m += digits;
        m += "': ";
        m += index.error();
        return unexpected(EvalError::value_error(std::move(m)));
      }
      if (*index >= values.texts.size()) {
        constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
        return unexpected(EvalError::argument_count(*index > kMax - 2 ? kMax : *index + 2, args.size()));
      }
      out += values.texts[*index];
    }
    copied = after;
    open = f.find('{', after);
  }
  out.append(f, copied);
  return detail::owned_string(std::move(out));
}

}  // namespace vintrel::functions
