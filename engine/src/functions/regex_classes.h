// Unicode-aware \d \s \w for RE2, whose own classes are ASCII-only.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::detail {

// The pattern with every class escape \d \D \s \S \w \W replaced, inside and
// outside bracket classes, by explicit code-point ranges: \d is Nd, \s is
// White_Space, \w is Alphabetic, M, Nd, Pc and Join_Control (the sets of
// unicode_tables.h).
// Everything else is copied unchanged: \\d, \Q...\E, \p{...}, [:name:] and
// the upper end of a range such as [a-\d] (which RE2 then rejects itself).
std::string rewrite_regex_classes(std::string_view pattern);

// As above, but gives nullopt as soon as the rewrite would add more than
// `max_added` bytes to the pattern.
std::optional<std::string> rewrite_regex_classes_bounded(std::string_view pattern, size_t max_added);

}  // namespace vintrel::detail
