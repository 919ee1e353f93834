// Standard-alphabet base64 with required padding, and the strict UTF-8
// check that decoded text must pass.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vintrel/result.h"

namespace vintrel::detail {

// RFC 4648 section 4 alphabet, "=" padding, no line breaks.
std::string base64_encode(std::string_view bytes);

// The decoded bytes, or the description of the first fault found, e.g.
// "Invalid symbol 10, offset 4." or "Invalid padding". Only the canonical
// encoding is accepted: padding is required and unused trailing bits are zero.
Expected<std::string, std::string> base64_decode(std::string_view text);

// nullopt for well-formed UTF-8 (RFC 3629); otherwise the description of the
// first ill-formed position, e.g. "invalid utf-8 sequence of 1 bytes from
// index 0" or "incomplete utf-8 byte sequence from index 3".
std::optional<std::string> utf8_error(std::string_view bytes);

}  // namespace vintrel::detail
