// The parser of expression text and variable paths.
//
// Every rule takes the remaining text and returns either the rest after
// what it consumed together with its output, or a ParseError. Errors and
// borrowed outputs point into the given text.
#pragma once

#include <cstdint>
#include <string_view>

#include "vintrel/cow.h"
#include "vintrel/exp.h"
#include "vintrel/result.h"
#include "vintrel/var.h"

namespace vintrel {

enum class ErrorKind : uint8_t {
  Tag, MapRes, MapOpt, Alt, IsNot, IsA, SeparatedList, SeparatedNonEmptyList, Many0, Many1, ManyTill, Count,
  TakeUntil, LengthValue, TagClosure, Alpha, Digit, HexDigit, OctDigit, BinDigit, AlphaNumeric, Space, MultiSpace,
  LengthValueFn, Eof, Switch, TagBits, OneOf, NoneOf, Char, CrLf, RegexpMatch, RegexpMatches, RegexpFind,
  RegexpCapture, RegexpCaptures, TakeWhile1, Complete, Fix, Escaped, EscapedTransform, NonEmpty, ManyMN, Not,
  Permutation, Verify, TakeTill1, TakeWhileMN, TooLarge, Many0Count, Many1Count, Float, Satisfy, Fail, Many, Fold,
  Precedence,
};
inline constexpr int kErrorKindCount = 57;

// The kind's name as messages show it: "Char", "Eof", ...
std::string_view error_kind_name(ErrorKind k) noexcept;

struct ParseError {
  std::string_view input;  // the remaining text where the failing rule stood
  ErrorKind kind;
};

template <class T>
struct Parsed {
  std::string_view rest;
  T value;
};

template <class T>
using ParseResult = Expected<Parsed<T>, ParseError>;

// Deepest nesting of expressions (array elements, object values, call
// arguments, parentheses) that parse_exp accepts; deeper text fails with
// kind TooLarge, which no alternative forgets.
inline constexpr int kMaxNesting = 256;

ParseResult<CowStr> parse_string(std::string_view input);
ParseResult<std::string_view> parse_non_keyword(std::string_view input);
ParseResult<VarAccess> parse_variable_name(std::string_view input);
ParseResult<Exp> parse_exp(std::string_view input);

}  // namespace vintrel
