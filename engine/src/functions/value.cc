// The built-ins on values in general: length, tests, conversions, join, split.
#include "vintrel/functions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "functions/support.h"
#include "vintrel/panic.h"

namespace vintrel::functions {

using detail::count_error;
using detail::kind_error;

namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// The whole text as a decimal i64: one optional sign, then ASCII digits.
std::optional<int64_t> parse_i64(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!is_ascii_digit(s[i])) return std::nullopt;
    uint64_t d = static_cast<uint64_t>(s[i] - '0');
    if (v > (limit - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

bool equals_ignoring_ascii_case(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Decimal order of magnitude of a validated, non-zero decimal number: the
// value lies in [10^(order-1), 10^order). Saturates far beyond the double
// range, which is all its one caller needs.
int64_t decimal_order(std::string_view num) {
  constexpr int64_t kCap = int64_t{1} << 50;  // exp * 10 stays far inside int64
  int64_t int_digits = 0, lead_zeros = 0;
  bool seen_nonzero = false, in_fraction = false;
  size_t i = 0;
  for (; i < num.size() && num[i] != 'e' && num[i] != 'E'; ++i) {
    char c = num[i];
    if (c == '.') {
      in_fraction = true;
      continue;
    }
    if (!in_fraction) ++int_digits;
    if (!seen_nonzero) {
      if (c == '0') {
        ++lead_zeros;
      } else {
        seen_nonzero = true;
      }
    }
  }
  int64_t exp = 0;
  bool exp_negative = false;
  if (i < num.size()) {
    ++i;
    if (num[i] == '+' || num[i] == '-') exp_negative = num[i++] == '-';
    for (; i < num.size(); ++i)
      if (exp < kCap) exp = exp * 10 + (num[i] - '0');
  }
  return int_digits - lead_zeros + (exp_negative ? -exp : exp);
}

// The whole text as an f64: an optional sign, then inf, infinity or nan in
// any case, or digits with an optional point and exponent. Rounds to
// nearest; out-of-range magnitudes give infinity or zero with the sign.
std::optional<double> parse_f64(std::string_view s) {
  bool negative = false;
  std::string_view rest = s;
  if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    negative = rest[0] == '-';
    rest.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_ascii_case(rest, "inf") || equals_ignoring_ascii_case(rest, "infinity"))
    return sign * std::numeric_limits<double>::infinity();
  if (equals_ignoring_ascii_case(rest, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);

  size_t i = 0, digits = 0;
  while (i < rest.size() && is_ascii_digit(rest[i])) ++i, ++digits;
  if (i < rest.size() && rest[i] == '.') {
    ++i;
    while (i < rest.size() && is_ascii_digit(rest[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
    ++i;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) ++i;
    size_t exp_start = i;
    while (i < rest.size() && is_ascii_digit(rest[i])) ++i;
    if (i == exp_start) return std::nullopt;
  }
  if (i != rest.size()) return std::nullopt;

  double v = 0;
  auto r = std::from_chars(rest.data(), rest.data() + rest.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    v = decimal_order(rest) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc{} || r.ptr != rest.data() + rest.size()) {
    panic("Float parser rejected a validated number");
  }
  return sign * v;
}

Unexpected<EvalError> conversion_error(std::string_view target, const Value& v) {
  std::string m = "Expected a value that can be converted to '";
  m += target;
  m += "', got '";
  v.debug_fmt(m);
  m += '\'';
  return unexpected(EvalError::type_error(std::move(m)));
}

int64_t saturating_trunc(double f) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (std::isnan(f)) return 0;
  if (f >= kTwo63) return std::numeric_limits<int64_t>::max();
  if (f <= -kTwo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(f);
}

}  // namespace

FnResult len(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  const Value& v = args[0];
  switch (v.kind()) {
    case Value::Kind::String: {
      return Value::Int(static_cast<int64_t>(detail::count_scalars(v.as_str())));
    }
    case Value::Kind::Array:
      return Value::Int(static_cast<int64_t>(v.as_array().size()));
    case Value::Kind::Object:
      return Value::Int(static_cast<int64_t>(v.as_object().size()));
    default:
      return kind_error("Expected a string, array, or object", v);
  }
}

FnResult starts_with(FnArgs args) {
  auto s = detail::string_args<2>(args);
  if (!s) return unexpected(std::move(s).error());
  auto [text, prefix] = *s;
  return Value::Bool(text.substr(0, prefix.size()) == prefix);
}

FnResult ends_with(FnArgs args) {
  auto s = detail::string_args<2>(args);
  if (!s) return unexpected(std::move(s).error());
  auto [text, suffix] = *s;
  return Value::Bool(text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix);
}

FnResult contains(FnArgs args) {
  if (args.size() != 2) return count_error(2, args);
  const Value& a = args[0];
  const Value& b = args[1];
  if (a.is_array()) {
    for (const Value& e : a.as_array())
      if (e == b) return Value::Bool(true);
    return Value::Bool(false);
  }
  if (b.is_string()) {
    std::string_view needle = b.as_str();
    if (a.is_string())
      return Value::Bool(needle.empty() || detail::find_bytes(a.as_str(), needle, 0) != std::string_view::npos);
    if (a.is_object()) return Value::Bool(a.as_object().contains(needle));
  }
  std::string m = "Expected (string, string), (array, value), or (object, string) arguments, got: ('";
  m += type_name(a.get_type());
  m += "', '";
  m += type_name(b.get_type());
  m += "')";
  return unexpected(EvalError::type_error(std::move(m)));
}

FnResult into_bool(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  return Value::Bool(is_truthy(args[0]));
}

FnResult into_string(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  return detail::owned_string(args[0].display_string());
}

FnResult into_int(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  const Value& v = args[0];
  switch (v.kind()) {
    case Value::Kind::Int:
      return Value::Int(v.as_int());
    case Value::Kind::Float:
      return Value::Int(saturating_trunc(v.as_float()));
    case Value::Kind::Bool:
      return Value::Int(v.as_bool() ? 1 : 0);
    case Value::Kind::String:
      if (auto i = parse_i64(v.as_str())) return Value::Int(*i);
      [[fallthrough]];
    default:
      return conversion_error("i64", v);
  }
}

FnResult into_float(FnArgs args) {
  if (args.size() != 1) return count_error(1, args);
  const Value& v = args[0];
  switch (v.kind()) {
    case Value::Kind::Int:
      return Value::Float(static_cast<double>(v.as_int()));
    case Value::Kind::Float:
      return Value::Float(v.as_float());
    case Value::Kind::Bool:
      return Value::Float(v.as_bool() ? 1.0 : 0.0);
    case Value::Kind::String:
      if (auto f = parse_f64(v.as_str())) return Value::Float(*f);
      [[fallthrough]];
    default:
      return conversion_error("f64", v);
  }
}

FnResult join(FnArgs args) {
  if (args.size() != 2) return count_error(2, args);
  if (!args[0].is_array()) return kind_error("Expected an array argument", args[0]);
  if (!args[1].is_string()) return kind_error(detail::kStringArg, args[1]);
  const ValueArray& items = args[0].as_array();
  std::string_view sep = args[1].as_str();
  detail::RenderedValues r = detail::render_values(items);
  std::string out;
  if (!items.empty()) out.reserve(r.total_size + sep.size() * (items.size() - 1));
  for (size_t i = 0; i < r.texts.size(); ++i) {
    if (i != 0) out += sep;
    out += r.texts[i];
  }
  return detail::owned_string(std::move(out));
}

FnResult split(FnArgs args) {
  auto s = detail::string_args<2>(args);
  if (!s) return unexpected(std::move(s).error());
  auto [text, sep] = *s;
  auto piece = [](std::string_view p) { return detail::owned_string(std::string(p)); };
  ValueArray pieces;
  if (sep.empty()) {
    // An empty separator stands at every scalar boundary and at both ends.
    pieces.reserve(detail::count_scalars(text) + 2);
    pieces.push_back(piece({}));
    for (size_t i = 0, j; i < text.size(); i = j) {
      j = detail::scalar_end(text, i);
      pieces.push_back(piece(text.substr(i, j - i)));
    }
    pieces.push_back(piece({}));
  } else {
    // Counted first: growing the list as pieces arrive moves every piece
    // made so far each time it grows.
    size_t count = 1;
    for (size_t hit, from = 0; (hit = detail::find_bytes(text, sep, from)) != std::string_view::npos;
         from = hit + sep.size())
      ++count;
    pieces.reserve(count);
    size_t from = 0;
    for (size_t hit; (hit = detail::find_bytes(text, sep, from)) != std::string_view::npos; from = hit + sep.size())
      pieces.push_back(piece(text.substr(from, hit - from)));
    pieces.push_back(piece(text.substr(from)));
  }
  return Value::Array(std::move(pieces));
}

}  // namespace vintrel::functions
