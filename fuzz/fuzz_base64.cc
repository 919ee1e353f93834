// The base64 codec and the UTF-8 check behind base64Decode.
//
// The raw decoder accepts exactly the canonical encodings, so a decoded
// text encodes back to the input; the UTF-8 check agrees with a reference
// validator; and base64Decode(base64Encode(t)) == t for every text.
#include <string>
#include <string_view>
#include <vector>

#include "functions/base64.h"
#include "fuzz_util.h"
#include "vintrel/functions.h"
#include "vintrel/value.h"

namespace {

using vintrel::CowStr;
using vintrel::Value;

Value text(std::string_view s) { return Value::String(CowStr::Borrowed(s)); }

bool canonical_symbols(std::string_view b) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  return b.find_first_not_of(kAlphabet) == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);

  // Raw decoding of any bytes.
  auto decoded = vintrel::detail::base64_decode(in);
  if (decoded) {
    const std::string& bytes = *decoded;
    fuzz::require(in.size() % 4 == 0, "accepted input has a length divisible by four");
    fuzz::require(canonical_symbols(in), "accepted input holds only alphabet symbols and '='");
    size_t padding = 0;
    while (padding < in.size() && in[in.size() - 1 - padding] == '=') ++padding;
    fuzz::require(padding <= 2, "at most two padding symbols");
    fuzz::require(bytes.size() == in.size() / 4 * 3 - padding, "decoded length follows from the padding");
    fuzz::require(vintrel::detail::base64_encode(bytes) == in, "the raw codec round-trips canonical input");
    // The UTF-8 check agrees with the reference.
    bool reference_ok = fuzz::is_utf8(bytes);
    bool engine_ok = !vintrel::detail::utf8_error(bytes);
    fuzz::require(reference_ok == engine_ok, "utf8_error agrees with the reference validator", bytes);
    if (reference_ok) {
      // Canonical: the decoded text encodes back to exactly the input.
      std::vector<Value> args{text(bytes)};
      auto encoded = vintrel::functions::base64_encode(args);
      fuzz::require(encoded.has_value() && encoded->as_str() == in, "decode then encode gives the input back");
    }
  }

  if (!fuzz::is_utf8(in)) {
    // The UTF-8 check on arbitrary bytes, too.
    fuzz::require(static_cast<bool>(vintrel::detail::utf8_error(in)), "utf8_error finds ill-formed text");
    return 0;
  }
  fuzz::require(!vintrel::detail::utf8_error(in), "utf8_error accepts well-formed text");

  // The built-ins: base64Decode of the text, and the round trip.
  std::vector<Value> args{text(in)};
  auto d = vintrel::functions::base64_decode(args);
  if (d) {
    fuzz::require(d->is_string() && fuzz::is_utf8(d->as_str()), "base64Decode gives UTF-8 text");
  } else {
    fuzz::require(d.error().kind() == vintrel::EvalError::Kind::ValueError, "base64Decode fails with ValueError");
  }
  auto e = vintrel::functions::base64_encode(args);
  fuzz::require(e.has_value() && e->is_string(), "base64Encode of a string succeeds");
  fuzz::require(e->as_str().size() == (in.size() + 2) / 3 * 4, "encoded length is 4 * ceil(n / 3)");
  std::vector<Value> back_args{*e};
  auto back = vintrel::functions::base64_decode(back_args);
  fuzz::require(back.has_value() && back->as_str() == in, "base64Decode(base64Encode(t)) == t");
  return 0;
}
