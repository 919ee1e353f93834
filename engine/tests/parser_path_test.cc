// String literals, identifiers and variable paths.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "parser_test_util.h"
#include "vintrel/parser.h"

namespace {

using namespace std::string_literals;
using parser_test::fails_with;
using parser_test::is_suffix;
using parser_test::Seg;
using vintrel::ErrorKind;

TEST(ParserErrorKind, NamesInDeclaredOrder) {
  const std::string expected =
      "Tag MapRes MapOpt Alt IsNot IsA SeparatedList SeparatedNonEmptyList Many0 Many1 ManyTill Count TakeUntil "
      "LengthValue TagClosure Alpha Digit HexDigit OctDigit BinDigit AlphaNumeric Space MultiSpace LengthValueFn Eof "
      "Switch TagBits OneOf NoneOf Char CrLf RegexpMatch RegexpMatches RegexpFind RegexpCapture RegexpCaptures "
      "TakeWhile1 Complete Fix Escaped EscapedTransform NonEmpty ManyMN Not Permutation Verify TakeTill1 TakeWhileMN "
      "TooLarge Many0Count Many1Count Float Satisfy Fail Many Fold Precedence";
  std::string names;
  for (int k = 0; k < vintrel::kErrorKindCount; ++k) {
    if (k) names += ' ';
    names += vintrel::error_kind_name(static_cast<ErrorKind>(k));
  }
  EXPECT_EQ(names, expected);
  EXPECT_EQ(vintrel::error_kind_name(ErrorKind::Precedence), "Precedence");
  EXPECT_EQ(static_cast<int>(ErrorKind::Precedence), 56);
}

// ---------------------------------------------------------------------------
// parse_string

struct StringOk {
  std::string text;
  std::string value;
  bool borrowed;
  std::string rest;
};

TEST(ParserString, AcceptsTheFourForms) {
  const StringOk cases[] = {
      // Raw forms keep their content verbatim, escape pairs included.
      {R"(r'a\'b')", R"(a\'b)", true, ""},
      {R"(r'a\\')", R"(a\\)", true, ""},
      {R"(r'a\nb')", R"(a\nb)", true, ""},
      {R"(r"a\"b" tail)", R"(a\"b)", true, " tail"},
      {R"(r"it's")", "it's", true, ""},
      {"r''", "", true, ""},
      {"r\"\"", "", true, ""},
      {"r'a\nb'", "a\nb", true, ""},
      // Quoted forms replace exactly the seven escapes.
      {R"('a\tb')", "a\tb", false, ""},
      {R"('\0')", "\0"s, false, ""},
      {R"('\\\'\n\r\t\0')", "\\'\n\r\t\0"s, false, ""},
      {R"("\\\"\n\r\t\0")", "\\\"\n\r\t\0"s, false, ""},
      {R"("it's")", "it's", false, ""},
      {R"('say "hi"')", "say \"hi\"", false, ""},
      {"'a\nb'", "a\nb", false, ""},
      {"'\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80'", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", false, ""},
      {"'abc'", "abc", false, ""},
      // A doubled quote is no escape: the literal ends at the first one.
      {"'it''s'", "it", false, "'s'"},
      {"'a' rest", "a", false, " rest"},
      // Empty quoted literals stay borrowed.
      {"''", "", true, ""},
      {"\"\"x", "", true, "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = vintrel::parse_string(c.text);
    ASSERT_TRUE(r.has_value()) << "failed at \"" << r.error().input << "\"";
    EXPECT_EQ(r->value.view(), c.value);
    EXPECT_EQ(r->value.is_borrowed(), c.borrowed);
    EXPECT_TRUE(is_suffix(c.text, r->rest, c.rest));
  }
}

TEST(ParserString, RawContentIsBorrowedFromTheSource) {
  const std::string_view src = R"(r'a\nb')";
  auto r = vintrel::parse_string(src);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->value.data(), src.data() + 2);
}

struct StringBad {
  std::string text;
  std::string input;
};

TEST(ParserString, FailsWithCharAtTheDoubleQuoteFormsPlace) {
  const StringBad cases[] = {
      // Not a double quote: the given text.
      {"r 'x'", "r 'x'"},
      {"R'x'", "R'x'"},
      {"abc", "abc"},
      {"", ""},
      {"'abc", "'abc"},
      {R"('a\"b')", R"('a\"b')"},
      {R"('a\xb')", R"('a\xb')"},
      {R"(r'a\')", R"(r'a\')"},
      {"r\"abc", "r\"abc"},
      // An invalid escape, or a backslash that ends the text: after the quote.
      {R"("a\qb")", R"(a\qb")"},
      {R"("a\'b")", R"(a\'b")"},
      {R"("\x41")", R"(\x41")"},
      {R"("\u0041")", R"(\u0041")"},
      {R"("a\ b")", R"(a\ b")"},
      {"\"a\\\nb\"", "a\\\nb\""},
      {R"("ab\)", R"(ab\)"},
      // Valid content without its closing quote: the empty end.
      {"\"abc", ""},
      {"\"", ""},
      {"\"a\\\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(fails_with(vintrel::parse_string(c.text), c.text, ErrorKind::Char, c.input));
  }
}

// ---------------------------------------------------------------------------
// parse_non_keyword

TEST(ParserNonKeyword, TakesTheLongestIdentifierExceptKeywords) {
  const std::pair<std::string, std::string> ok[] = {
      {"trueish", ""}, {"True", ""}, {"NULL", ""}, {"_x", ""},    {"1st", ""},       {"007", ""},
      {"a_b_9", ""},   {"false_", ""}, {"nullable", ""}, {"a-b", "-b"}, {"a\xc3\xa9", "\xc3\xa9"}, {"x y", " y"},
  };
  for (const auto& [text, rest] : ok) {
    SCOPED_TRACE(text);
    auto r = vintrel::parse_non_keyword(text);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->value.data(), text.data());  // borrowed prefix
    EXPECT_EQ(r->value.size() + rest.size(), text.size());
    EXPECT_TRUE(is_suffix(text, r->rest, rest));
  }
  for (const std::string text : {"true", "false", "null", "", "\xc3\xa9", "-a", " a", "true.x"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(fails_with(vintrel::parse_non_keyword(text), text, ErrorKind::MapRes, text));
  }
}

// ---------------------------------------------------------------------------
// parse_variable_name

struct PathOk {
  std::string text;
  std::vector<Seg> names;
  std::string rest;
};

TEST(ParserVariableName, ReadsSegmentsAndIndexes) {
  const PathOk cases[] = {
      {"a", {{"a"}}, ""},
      {"a.b[2].c", {{"a"}, {"b", 2}, {"c"}}, ""},
      {"'a b'.c", {{"a b"}, {"c"}}, ""},
      {"'x.y'", {{"x.y"}}, ""},
      {"'\xc3\xbc'", {{"\xc3\xbc"}}, ""},
      {R"("q\"x".y)", {{"q\"x"}, {"y"}}, ""},
      {"a.\"b\"[1]", {{"a"}, {"b", 1}}, ""},
      {"True._x.a_b_9", {{"True"}, {"_x"}, {"a_b_9"}}, ""},
      // Whitespace inside an index, and after it, belongs to the path.
      {"a[ 3 ]", {{"a", 3}}, ""},
      {"a[3]   ", {{"a", 3}}, ""},
      {"a[\t1\r\n]\n", {{"a", 1}}, ""},
      {"a[0] .b", {{"a", 0}, {"b"}}, ""},
      {"a[0] b", {{"a", 0}}, "b"},
      // ...but nowhere else.
      {"a [3]", {{"a"}}, " [3]"},
      {"a .b", {{"a"}}, " .b"},
      {"a. b", {{"a"}}, ". b"},
      {"a[\v1]", {{"a"}}, "[\v1]"},
      // An index that cannot be read leaves the text from its "[".
      {"a[]", {{"a"}}, "[]"},
      {"a[x]", {{"a"}}, "[x]"},
      {"a[-1]", {{"a"}}, "[-1]"},
      {"a[1", {{"a"}}, "[1"},
      {"a[1 2]", {{"a"}}, "[1 2]"},
      {"a[1][2]", {{"a", 1}}, "[2]"},
      // A segment that cannot be read leaves the text from its ".".
      {"a.", {{"a"}}, "."},
      {"a.true", {{"a"}}, ".true"},
      {"a.-b", {{"a"}}, ".-b"},
      {"a.'b", {{"a"}}, ".'b"},
      {"a.'true'", {{"a"}, {"true"}}, ""},
      // The identifier comes first, so r never opens a raw segment.
      {"r'x'", {{"r"}}, "'x'"},
      {"a.r'x'", {{"a"}, {"r"}}, "'x'"},
      {"r''.a", {{"r"}}, "''.a"},
      {"a[007]", {{"a", 7}}, ""},
      {"a[18446744073709551615]", {{"a", 18446744073709551615ull}}, ""},
      {"a-b", {{"a"}}, "-b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = vintrel::parse_variable_name(c.text);
    ASSERT_TRUE(r.has_value()) << vintrel::error_kind_name(r.error().kind) << " at \"" << r.error().input << "\"";
    ASSERT_EQ(r->value.names.size(), c.names.size());
    for (size_t k = 0; k < c.names.size(); ++k) {
      EXPECT_EQ(r->value.names[k].name, c.names[k].name);
      EXPECT_EQ(r->value.names[k].index, c.names[k].index);
    }
    EXPECT_TRUE(is_suffix(c.text, r->rest, c.rest));
  }
}

struct PathBad {
  std::string text;
  ErrorKind kind;
  std::string input;
};

TEST(ParserVariableName, Failures) {
  const PathBad cases[] = {
      // No first segment: parse_string's failure.
      {"true", ErrorKind::Char, "true"},
      {".a", ErrorKind::Char, ".a"},
      {"[0]", ErrorKind::Char, "[0]"},
      {"", ErrorKind::Char, ""},
      {" a", ErrorKind::Char, " a"},
      {"\"abc", ErrorKind::Char, ""},
      {R"("a\qb".c)", ErrorKind::Char, R"(a\qb".c)"},
      // A name that begins with a digit: the text after the whole path.
      {"1a", ErrorKind::Digit, ""},
      {"a.0", ErrorKind::Digit, ""},
      {"a.1b.c", ErrorKind::Digit, ""},
      {"'1'", ErrorKind::Digit, ""},
      {"1a.b xyz", ErrorKind::Digit, " xyz"},
      {"a[1].2 ", ErrorKind::Digit, " "},
      // An empty name, likewise.
      {"a.''", ErrorKind::NonEmpty, ""},
      {"''", ErrorKind::NonEmpty, ""},
      {"\"\".a", ErrorKind::NonEmpty, ""},
      {"a.\"\"", ErrorKind::NonEmpty, ""},
      {"a.''[1] + 1", ErrorKind::NonEmpty, "+ 1"},
      // An index beyond 64 bits, likewise (the whitespace after "]" is the path's).
      {"a[18446744073709551616]", ErrorKind::TooLarge, ""},
      {"a[18446744073709551616] x", ErrorKind::TooLarge, "x"},
      {"a[0].b[99999999999999999999999].c)", ErrorKind::TooLarge, ")"},
      // The first faulty name decides, and every name before any index.
      {"1a.''", ErrorKind::Digit, ""},
      {"a.''.1b", ErrorKind::NonEmpty, ""},
      {"1a[18446744073709551616]", ErrorKind::Digit, ""},
      {"a[18446744073709551616].1b", ErrorKind::Digit, ""},
      {"a[99999999999999999999].''", ErrorKind::NonEmpty, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(fails_with(vintrel::parse_variable_name(c.text), c.text, c.kind, c.input));
  }
}

TEST(ParserVariableName, OwnsItsNames) {
  std::string src = "'a\\tb'.c[1]";
  auto r = vintrel::parse_variable_name(src);
  ASSERT_TRUE(r.has_value());
  src.assign(src.size(), '#');  // the path must not refer to the text
  EXPECT_EQ(r->value, parser_test::path({{"a\tb"}, {"c", 1}}));
}

}  // namespace
