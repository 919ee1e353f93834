// The expression grammar: outcomes, precedence, atoms, whitespace, numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "parser_test_util.h"
#include "vintrel/parser.h"

namespace {

using namespace parser_test;
using vintrel::ErrorKind;

const std::string kNbsp = "\xc2\xa0";       // U+00A0 NO-BREAK SPACE
const std::string kIdeoSpace = "\xe3\x80\x80";  // U+3000 IDEOGRAPHIC SPACE

struct Ok {
  std::string text;
  Exp tree;
  std::string rest;
};

void expect_parses(const std::vector<Ok>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = vintrel::parse_exp(c.text);
    ASSERT_TRUE(r.has_value()) << vintrel::error_kind_name(r.error().kind) << " at \"" << r.error().input << "\"";
    EXPECT_TRUE(r->value == c.tree) << "got " << show(r->value) << ", expected " << show(c.tree);
    EXPECT_TRUE(is_suffix(c.text, r->rest, c.rest));
  }
}

struct Bad {
  std::string text;
  ErrorKind kind;
  std::string input;
};

void expect_fails(const std::vector<Bad>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(fails_with(vintrel::parse_exp(c.text), c.text, c.kind, c.input));
  }
}

TEST(ParserExp, Failures) {
  expect_fails({
      {"", ErrorKind::Char, ""},
      {" \t" + kNbsp + kIdeoSpace, ErrorKind::Char, ""},
      {"#", ErrorKind::Char, "#"},
      {"(1", ErrorKind::Char, ""},
      {"[1, 2", ErrorKind::Char, "[1, 2"},
      {"a &&", ErrorKind::Char, ""},
      {"a || ", ErrorKind::Char, ""},
      {"a < )", ErrorKind::Char, ")"},
      {"a <> b", ErrorKind::Char, "> b"},
      {"1 == 2 == 3", ErrorKind::Count, ""},
      {"1 == 2 == 3 || x", ErrorKind::Count, "|| x"},
      {"a != b != c == d", ErrorKind::Count, "== d"},
      {"a == b == c == )", ErrorKind::Count, "== )"},
      {"(a == )", ErrorKind::Char, "== )"},
      {"(1 == 2 == 3)", ErrorKind::Count, ")"},
      {"((a) b)", ErrorKind::Char, "b)"},
      {"!!a", ErrorKind::Char, "!a"},
      {"!", ErrorKind::Char, ""},
      // No later alternative reads what a failed one began: the atom fails at its start.
      {"9223372036854775808", ErrorKind::Char, "9223372036854775808"},
      {"-9223372036854775809", ErrorKind::Char, "-9223372036854775809"},
      {"'abc", ErrorKind::Char, "'abc"},
      {R"("a\qb")", ErrorKind::Char, R"("a\qb")"},
      {"[1, 2,]", ErrorKind::Char, "[1, 2,]"},
      {"[1 2]", ErrorKind::Char, "[1 2]"},
      {"{'a' : 1}", ErrorKind::Char, "{'a' : 1}"},
      {"{a: 1}", ErrorKind::Char, "{a: 1}"},
      {"{'a': 1,}", ErrorKind::Char, "{'a': 1,}"},
      {"{" + kNbsp + "'a': 1}", ErrorKind::Char, "{" + kNbsp + "'a': 1}"},
      {"a.1b", ErrorKind::Char, "a.1b"},
      {"a.''", ErrorKind::Char, "a.''"},
      {"a[18446744073709551616]", ErrorKind::Char, "a[18446744073709551616]"},
      {"x || a.0", ErrorKind::Char, "a.0"},
      // No unary minus, no leading ".", no space after a sign.
      {"- 5", ErrorKind::Char, "- 5"},
      {".5", ErrorKind::Char, ".5"},
      {"-a", ErrorKind::Char, "-a"},
      {"-(1)", ErrorKind::Char, "-(1)"},
      // A no-break space is no ASCII whitespace: after an operator it fails the operand.
      {"a ||" + kNbsp + "b", ErrorKind::Char, kNbsp + "b"},
      {"a <" + kNbsp + "b", ErrorKind::Char, kNbsp + "b"},
      {"!" + kNbsp + "a", ErrorKind::Char, kNbsp + "a"},
  });
}

TEST(ParserExp, StopsWhereNoRuleGoesOn) {
  expect_parses({
      {"a == )", var("a"), "== )"},
      {"a == b == )", Exp::eq(var("a"), var("b")), "== )"},
      {"a != b != )", Exp::neq(var("a"), var("b")), "!= )"},
      {"a == 1 != 2 != 3", var("a"), "== 1 != 2 != 3"},  // a Count inside the operand is given back too
      {"a # b", var("a"), "# b"},
      {"f(1", var("f"), "(1"},
      {"a b", var("a"), "b"},
      {"a = b", var("a"), "= b"},
      {"a => b", var("a"), "=> b"},
      {"a | b", var("a"), "| b"},
      {"a & b", var("a"), "& b"},
      {"a !b", var("a"), "!b"},
      {"a\v", var("a"), "\v"},
      {"a" + kNbsp + "|| b", var("a"), kNbsp + "|| b"},
      {"trueish", b(true), "ish"},
      {"nullable", null(), "able"},
      {"true(1)", b(true), "(1)"},
      {"null(1)", null(), "(1)"},
      {"f(,,)", var("f"), "(,,)"},
      {"my_fn(x)", var("my_fn"), "(x)"},
      {"a.b(x)", var({{"a"}, {"b"}}), "(x)"},
      {"f(1 == 2 == 3)", var("f"), "(1 == 2 == 3)"},
  });
}

TEST(ParserExp, Precedence) {
  const Exp a = var("a"), bv = var("b"), c = var("c"), d = var("d");
  expect_parses({
      {"a && b || c && d", Exp::or_(Exp::and_(a, bv), Exp::and_(c, d)), ""},
      {"a || b || c", Exp::or_(Exp::or_(a, bv), c), ""},
      {"a && b && c", Exp::and_(Exp::and_(a, bv), c), ""},
      {"a || b && c", Exp::or_(a, Exp::and_(bv, c)), ""},
      {"a < b < c", Exp::lt(Exp::lt(a, bv), c), ""},
      {"a < b >= c", Exp::geq(Exp::lt(a, bv), c), ""},
      {"a>b<=c>=d", Exp::geq(Exp::leq(Exp::gt(a, bv), c), d), ""},
      {"a != b == c", Exp::eq(Exp::neq(a, bv), c), ""},
      {"a == b != c", Exp::eq(a, Exp::neq(bv, c)), ""},
      {"a < b == c > d", Exp::eq(Exp::lt(a, bv), Exp::gt(c, d)), ""},
      {"a == b && c != d", Exp::and_(Exp::eq(a, bv), Exp::neq(c, d)), ""},
      {"!a == b", Exp::eq(Exp::not_(a), bv), ""},
      {"!a < !b", Exp::lt(Exp::not_(a), Exp::not_(bv)), ""},
      {"(a == b) == c", Exp::eq(Exp::eq(a, bv), c), ""},
      {"a == (b == c)", Exp::eq(a, Exp::eq(bv, c)), ""},
      {"(a || b) && c", Exp::and_(Exp::or_(a, bv), c), ""},
      {"! a", Exp::not_(a), ""},
      {"!a.b", Exp::not_(var({{"a"}, {"b"}})), ""},
      {"!(a || b)", Exp::not_(Exp::or_(a, bv)), ""},
      {"!(!a)", Exp::not_(Exp::not_(a)), ""},
      {"!true", Exp::not_(b(true)), ""},
      {"(a)", a, ""},
      {"((1))", i(1), ""},
      {"( ( a ) )", a, ""},
  });
}

TEST(ParserExp, Atoms) {
  expect_parses({
      {"null", null(), ""},
      {"false", b(false), ""},
      {"True", var("True"), ""},
      {"'x'", str("x"), ""},
      {"\"x\"", str("x"), ""},
      {"r'a\\n'", str("a\\n"), ""},
      {"a[0].b", var({{"a", 0}, {"b"}}), ""},
      {"[]", arr({}), ""},
      {"[ ]", arr({}), ""},
      {"[[1], [2]]", arr({arr({i(1)}), arr({i(2)})}), ""},
      {"[1, 'x', null, [true]]", arr({i(1), str("x"), null(), arr({b(true)})}), ""},
      {"[a == b, c]", arr({Exp::eq(var("a"), var("b")), var("c")}), ""},
      {"{}", obj({}), ""},
      {"{ }", obj({}), ""},
      {"{'a': 1, 'a': 2}", obj({{"a", i(2)}}), ""},
      {"{'b': 1, \"a\": 2, r'c': [3]}", obj({{"a", i(2)}, {"b", i(1)}, {"c", arr({i(3)})}}), ""},
      {"{'a':{'b': x}}", obj({{"a", obj({{"b", var("x")}})}}), ""},
      {"len(x)", call("len", {var("x")}), ""},
      {"len (x)", call("len", {var("x")}), ""},
      {"len\n(x)", call("len", {var("x")}), ""},
      {"len( x )", call("len", {var("x")}), ""},
      {"f()", call("f", {}), ""},
      {"f(1, 2,)", call("f", {i(1), i(2)}), ""},
      {"f(1, 2, )", call("f", {i(1), i(2)}), ""},
      {"f(,)", call("f", {}), ""},
      {"f( , )", call("f", {}), ""},
      {"f(a)(b)", call("f", {var("a")}), "(b)"},
      {"base64Encode(x)", call("base64Encode", {var("x")}), ""},
      {"x2y(1)", call("x2y", {i(1)}), ""},
      {"\xc3\xa9t\xc3\xa9(1)", call("\xc3\xa9t\xc3\xa9", {i(1)}), ""},  // été: Unicode letters
      {"f(g(1), [2])", call("f", {call("g", {i(1)}), arr({i(2)})}), ""},
  });
}

TEST(ParserExp, Numbers) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::string zeros(400, '0');
  expect_parses({
      {"9223372036854775807", i(9223372036854775807), ""},
      {"-9223372036854775808", i(std::numeric_limits<int64_t>::min()), ""},
      {"+5", i(5), ""},
      {"-5", i(-5), ""},
      {"-0", i(0), ""},
      {"007", i(7), ""},
      {"5.", i(5), "."},
      {"1.5.2", f(1.5), ".2"},
      {"1e5", i(1), "e5"},
      {"1.5e5", f(1.5), "e5"},
      {"0.1", f(0.1), ""},
      {"+2.50", f(2.5), ""},
      {"-1.25", f(-1.25), ""},
      // Ties round to even.
      {"9007199254740993.0", f(9007199254740992.0), ""},
      {"1" + zeros + ".0", f(inf), ""},
      {"-1" + zeros + ".0", f(-inf), ""},
      {"0." + zeros + "1", f(0.0), ""},
      {"17976931348623157" + std::string(292, '0') + ".0", f(std::numeric_limits<double>::max()), ""},
      {"0." + std::string(323, '0') + "494065645841246544", f(std::numeric_limits<double>::denorm_min()), ""},
  });
  // Signs of zero survive, and the sign of an underflow is the literal's.
  for (const std::string& text : {std::string("-0.0"), "-0." + zeros + "1"}) {
    auto r = vintrel::parse_exp(text);
    ASSERT_TRUE(r.has_value()) << text;
    ASSERT_TRUE(r->value.as_value().is_float());
    EXPECT_EQ(r->value.as_value().as_float(), 0.0);
    EXPECT_TRUE(std::signbit(r->value.as_value().as_float())) << text;
  }
  auto pos = vintrel::parse_exp("0." + zeros + "1");
  ASSERT_TRUE(pos.has_value());
  EXPECT_FALSE(std::signbit(pos->value.as_value().as_float()));
}

TEST(ParserExp, Whitespace) {
  const Exp a = var("a"), bv = var("b");
  expect_parses({
      // Unicode whitespace where an expression begins and around a call's parentheses.
      {kNbsp + "a", a, ""},
      {"\v\f" + kIdeoSpace + "a", a, ""},
      {"[" + kNbsp + "1," + kNbsp + "2]", arr({i(1), i(2)}), ""},
      {"{'a':" + kNbsp + "1}", obj({{"a", i(1)}}), ""},
      {"(" + kNbsp + "a)", a, ""},
      {"f" + kNbsp + "(" + kNbsp + "a," + kNbsp + "b" + kNbsp + ")", call("f", {a, bv}), ""},
      {"f(a," + kNbsp + ")", call("f", {a}), ""},
      // ASCII whitespace after atoms, operators, "[", "{", "(", "," and ":".
      {"a\r\n&&\tb\n", Exp::and_(a, bv), ""},
      {"! \ta", Exp::not_(a), ""},
      {"[\n1 ,\n2 ]", arr({i(1), i(2)}), ""},
      {"{ 'a':\t1 , 'b': 2 }", obj({{"a", i(1)}, {"b", i(2)}}), ""},
      {"( a ) ", a, ""},
      {"a<b", Exp::lt(a, bv), ""},
      {"a  <  b", Exp::lt(a, bv), ""},
  });
  // Vertical tab and form feed are Unicode but not ASCII whitespace.
  expect_fails({
      {"a <\vb", ErrorKind::Char, "\vb"},
      {"(a\f)", ErrorKind::Char, "\f)"},
  });
}

TEST(ParserExp, LiteralTextIsBorrowedWhereItCanBe) {
  const std::string src = "[r'raw', 'quoted', '', \"\"]";
  auto r = vintrel::parse_exp(src);
  ASSERT_TRUE(r.has_value());
  const auto& items = r->value.as_array();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[0].as_value().as_cow_str().is_borrowed());
  EXPECT_EQ(items[0].as_value().as_str().data(), src.data() + 3);
  EXPECT_TRUE(items[1].as_value().as_cow_str().is_owned());
  EXPECT_TRUE(items[2].as_value().as_cow_str().is_borrowed());
  EXPECT_TRUE(items[3].as_value().as_cow_str().is_borrowed());
}

TEST(ParserExp, HostileBytesNeverCrash) {
  // Invalid UTF-8 is neither whitespace nor a letter.
  expect_fails({
      {"\xff", ErrorKind::Char, "\xff"},
      {"\xc2", ErrorKind::Char, "\xc2"},
      {"\xe3\x80", ErrorKind::Char, "\xe3\x80"},
      {"\xed\xa0\x80", ErrorKind::Char, "\xed\xa0\x80"},  // a surrogate
      {"\xc0\xa0", ErrorKind::Char, "\xc0\xa0"},          // overlong space
  });
  expect_parses({
      {"'\xff\xfe'", str("\xff\xfe"), ""},
      {"f\xc2(1)", var("f"), "\xc2(1)"},
      {std::string("a\0b", 3), var("a"), std::string("\0b", 2)},
  });
}

}  // namespace
