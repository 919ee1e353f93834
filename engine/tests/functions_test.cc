#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "builtin_cases.h"
#include "vintrel/func.h"
#include "vintrel/functions.h"

using namespace builtin_cases;
namespace fns = vintrel::functions;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int64_t kMinI64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxI64 = std::numeric_limits<int64_t>::max();

Value Strings(std::vector<std::string> parts) {
  std::vector<Value> items;
  for (auto& p : parts) items.push_back(S(p));
  return A(std::move(items));
}

std::string conv_err(std::string_view target, const Value& v) {
  return "Expected a value that can be converted to '" + std::string(target) + "', got '" + v.debug_string() + "'";
}

}  // namespace

TEST(DefaultVtable, HoldsTheFifteenBuiltinsAsSyncCallables) {
  const vintrel::FunctionTable& table = vintrel::DEFAULT_VTABLE();
  EXPECT_EQ(&table, &vintrel::DEFAULT_VTABLE());
  const std::set<std::string> names = {"matches", "len",          "startsWith", "endsWith", "contains",
                                       "bool",    "string",       "int",        "float",    "base64Encode",
                                       "base64Decode", "replace", "format",     "join",     "split"};
  EXPECT_EQ(table.size(), names.size());
  for (const std::string& name : names) {
    auto it = table.find(name);
    ASSERT_NE(it, table.end()) << name;
    EXPECT_NE(it->second.as_sync(), nullptr) << name;
  }
  // Byte-exact lookup: no case folding.
  EXPECT_EQ(table.find(std::string_view("Len")), table.end());
  EXPECT_EQ(table.find(std::string_view("startswith")), table.end());

  // Each name reaches its own operation.
  std::vector<Value> args = {S("héllo")};
  auto r = (*table.find(std::string_view("len"))->second.as_sync())(args);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->as_int(), 5);
  std::vector<Value> two = {S("a,b"), S(",")};
  auto parts = (*table.find(std::string_view("split"))->second.as_sync())(two);
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->as_array().size(), 2u);
}

TEST(DefaultVtable, CopiesShareTheCallables) {
  vintrel::FunctionTable copy = vintrel::DEFAULT_VTABLE();
  for (const auto& [name, cb] : vintrel::DEFAULT_VTABLE()) EXPECT_EQ(copy.at(name).as_sync(), cb.as_sync()) << name;
  // Inserting replaces the earlier entry.
  copy.insert_or_assign("len", vintrel::FnCallback::sync([](vintrel::FnArgs) -> vintrel::FnResult { return I(7); }));
  EXPECT_NE(copy.at("len").as_sync(), vintrel::DEFAULT_VTABLE().at("len").as_sync());
  EXPECT_EQ((*copy.at("len").as_sync())({})->as_int(), 7);
}

TEST(Len, CountsScalarValuesElementsAndEntries) {
  check_all(fns::len, {
                          {{}, Count{1, 0}},
                          {{S("a"), S("b")}, Count{1, 2}},
                          {{N(), N()}, Count{1, 2}},  // count before kinds
                          {{N()}, TypeErr("Expected a string, array, or object, got: 'null'")},
                          {{I(3)}, TypeErr("Expected a string, array, or object, got: 'int'")},
                          {{F(1.5)}, TypeErr("Expected a string, array, or object, got: 'float'")},
                          {{B(true)}, TypeErr("Expected a string, array, or object, got: 'bool'")},
                          {{S("")}, I(0)},
                          {{S("héllo")}, I(5)},
                          {{S("\xF0\x9F\x98\x80" "a")}, I(2)},  // four-byte scalar
                          {{S("e\xCC\x81")}, I(2)},             // e + combining acute: two scalars
                          {{S("日本語")}, I(3)},
                          {{A({})}, I(0)},
                          {{A({N(), A({I(1), I(2)})})}, I(2)},
                          {{O({})}, I(0)},
                          {{O({{"a", I(1)}, {"b", N()}})}, I(2)},
                      });
}

TEST(StartsEndsWith, CompareBytesWithoutFolding) {
  check_all(fns::starts_with, {
                                  {{S("a")}, Count{2, 1}},
                                  {{I(1), B(true), I(3)}, Count{2, 3}},
                                  {{I(1), B(true)}, TypeErr("Expected a string as the first argument, got: 'int'")},
                                  {{S("a"), N()}, TypeErr("Expected a string as the second argument, got: 'null'")},
                                  {{S("abc"), S("ab")}, B(true)},
                                  {{S("abc"), S("abc")}, B(true)},
                                  {{S("abc"), S("")}, B(true)},
                                  {{S(""), S("")}, B(true)},
                                  {{S("a"), S("ab")}, B(false)},
                                  {{S("Abc"), S("a")}, B(false)},
                                  {{S("abc"), S("bc")}, B(false)},
                              });
  check_all(fns::ends_with, {
                                {{}, Count{2, 0}},
                                {{A({}), S("a")}, TypeErr("Expected a string as the first argument, got: 'array'")},
                                {{S("a"), O({})}, TypeErr("Expected a string as the second argument, got: 'object'")},
                                {{S("abc"), S("bc")}, B(true)},
                                {{S("abc"), S("")}, B(true)},
                                {{S(""), S("")}, B(true)},
                                {{S("c"), S("bc")}, B(false)},
                                {{S("abC"), S("c")}, B(false)},
                                {{S("abc"), S("ab")}, B(false)},
                                {{S("é"), S("\xA9")}, B(true)},  // bytes, not characters
                            });
}

TEST(Contains, DispatchesOnTheFirstArgument) {
  const Value pair = A({I(1), I(2)});
  check_all(fns::contains, {
                               {{S("a")}, Count{2, 1}},
                               {{S("a"), S("b"), S("c")}, Count{2, 3}},
                               // Strings: contiguous bytes.
                               {{S("abc"), S("")}, B(true)},
                               {{S(""), S("")}, B(true)},
                               {{S(""), S("a")}, B(false)},
                               {{S("abc"), S("bc")}, B(true)},
                               {{S("abc"), S("cb")}, B(false)},
                               {{S("aaab"), S("aab")}, B(true)},
                               {{S("abc"), S("abcd")}, B(false)},
                               // Arrays: value equality, never across Int and Float.
                               {{A({I(1)}), F(1.0)}, B(false)},
                               {{A({F(1.0)}), F(1.0)}, B(true)},
                               {{A({F(kNaN)}), F(kNaN)}, B(false)},
                               {{A({pair}), pair}, B(true)},
                               {{A({A({I(2), I(1)})}), pair}, B(false)},
                               {{A({O({{"k", I(1)}})}), O({{"k", I(1)}})}, B(true)},
                               {{A({S("a")}), S("a")}, B(true)},
                               {{A({N()}), N()}, B(true)},
                               {{A({}), N()}, B(false)},
                               {{A({I(0)}), B(false)}, B(false)},
                               // Objects: keys only.
                               {{O({{"k", S("v")}}), S("k")}, B(true)},
                               {{O({{"k", S("v")}}), S("v")}, B(false)},
                               {{O({}), S("")}, B(false)},
                               // Every other pairing names both kinds.
                               {{I(1), S("a")},
                                TypeErr("Expected (string, string), (array, value), or (object, string) arguments, "
                                        "got: ('int', 'string')")},
                               {{S("a"), I(1)},
                                TypeErr("Expected (string, string), (array, value), or (object, string) arguments, "
                                        "got: ('string', 'int')")},
                               {{O({}), N()},
                                TypeErr("Expected (string, string), (array, value), or (object, string) arguments, "
                                        "got: ('object', 'null')")},
                               {{N(), A({})},
                                TypeErr("Expected (string, string), (array, value), or (object, string) arguments, "
                                        "got: ('null', 'array')")},
                               {{F(1), B(true)},
                                TypeErr("Expected (string, string), (array, value), or (object, string) arguments, "
                                        "got: ('float', 'bool')")},
                           });
}

TEST(Contains, LongAdversarialStringsStayCorrect) {
  std::string hay(200000, 'a');
  std::string needle(999, 'a');
  needle += 'b';
  check(fns::contains, {{S(hay), S(needle)}, B(false)});
  hay += 'b';
  check(fns::contains, {{S(hay), S(needle)}, B(true)});
}

TEST(IntoBool, FollowsTruthiness) {
  check_all(fns::into_bool, {
                                {{}, Count{1, 0}},
                                {{I(0), I(1)}, Count{1, 2}},
                                {{I(0)}, B(false)},
                                {{F(0.0)}, B(false)},
                                {{F(-0.0)}, B(false)},
                                {{S("")}, B(false)},
                                {{A({})}, B(false)},
                                {{O({})}, B(false)},
                                {{N()}, B(false)},
                                {{B(false)}, B(false)},
                                {{I(-1)}, B(true)},
                                {{F(kNaN)}, B(true)},
                                {{S(" ")}, B(true)},
                                {{S("false")}, B(true)},
                                {{A({B(false)})}, B(true)},
                                {{O({{"k", N()}})}, B(true)},
                            });
}

TEST(IntoString, GivesTheDisplayText) {
  check_all(fns::into_string, {
                                  {{}, Count{1, 0}},
                                  {{N(), N()}, Count{1, 2}},
                                  {{N()}, S("null")},
                                  {{S("a\"b\n")}, S("a\"b\n")},
                                  {{A({S("a\"b")})}, S("[\"a\\\"b\"]")},
                                  {{F(1.0)}, S("1")},
                                  {{B(true)}, S("true")},
                                  {{O({{"b", I(1)}, {"a", A({})}})}, S("{\"a\": [], \"b\": 1}")},
                              });
}

TEST(IntoInt, ConvertsNumbersBoolsAndDecimalText) {
  std::vector<Case> cases = {
      {{}, Count{1, 0}},
      {{S("1"), S("2")}, Count{1, 2}},
      {{I(-5)}, I(-5)},
      {{F(3.99)}, I(3)},
      {{F(-3.99)}, I(-3)},
      {{F(-0.0)}, I(0)},
      {{F(1e300)}, I(kMaxI64)},
      {{F(9223372036854775808.0)}, I(kMaxI64)},
      {{F(-9223372036854775808.0)}, I(kMinI64)},
      {{F(-kInf)}, I(kMinI64)},
      {{F(kInf)}, I(kMaxI64)},
      {{F(kNaN)}, I(0)},
      {{B(true)}, I(1)},
      {{B(false)}, I(0)},
      {{S("+42")}, I(42)},
      {{S("-0")}, I(0)},
      {{S("007")}, I(7)},
      {{S("9223372036854775807")}, I(kMaxI64)},
      {{S("-9223372036854775808")}, I(kMinI64)},
  };
  for (const char* bad : {" 1", "1 ", "1_000", "1.0", "1e3", "", "+", "-", "+-1", "--1", "0x10", "9223372036854775808",
                          "-9223372036854775809", "99999999999999999999999", "\xD9\xA1", "\xEF\xBC\x91", "١٢"}) {
    cases.push_back({{S(bad)}, TypeErr(conv_err("i64", S(bad)))});
  }
  cases.push_back({{S("a\"b\t")}, TypeErr("Expected a value that can be converted to 'i64', got 'String(\"a\\\"b\\t\")'")});
  cases.push_back({{N()}, TypeErr("Expected a value that can be converted to 'i64', got 'Null'")});
  cases.push_back({{A({I(1)})}, TypeErr("Expected a value that can be converted to 'i64', got 'Array([Int(1)])'")});
  cases.push_back({{O({})}, TypeErr("Expected a value that can be converted to 'i64', got 'Object({})'")});
  check_all(fns::into_int, cases);
}

TEST(IntoFloat, ConvertsNumbersBoolsAndFloatText) {
  const std::string zeros(400, '0');
  std::vector<Case> cases = {
      {{}, Count{1, 0}},
      {{I(9007199254740993)}, F(9007199254740992.0)},
      {{I(kMinI64)}, F(-9223372036854775808.0)},
      {{F(1.5)}, F(1.5)},
      {{F(-0.0)}, F(-0.0)},
      {{B(true)}, F(1.0)},
      {{B(false)}, F(0.0)},
      {{S(".5")}, F(0.5)},
      {{S("1.")}, F(1.0)},
      {{S("1e3")}, F(1000.0)},
      {{S("1E+3")}, F(1000.0)},
      {{S("1.e5")}, F(1e5)},
      {{S("+1.5e-1")}, F(0.15)},
      {{S("0.1")}, F(0.1)},
      {{S("-0")}, F(-0.0)},
      {{S("INF")}, F(kInf)},
      {{S("+inF")}, F(kInf)},
      {{S("-Infinity")}, F(-kInf)},
      {{S("nan")}, F(kNaN)},
      {{S("-NaN")}, F(kNaN)},
      {{S("2.2250738585072011e-308")}, F(2.2250738585072011e-308)},
      {{S("2.4703282292062328e-324")}, F(4.9406564584124654e-324)},  // just above half the least subnormal
      {{S("1.7976931348623157e308")}, F(1.7976931348623157e308)},
      // Out of range: infinity or zero with the sign, not an error.
      {{S("1e400")}, F(kInf)},
      {{S("-1e400")}, F(-kInf)},
      {{S("1e-400")}, F(0.0)},
      {{S("-1e-400")}, F(-0.0)},
      {{S("2.4703282292062327e-324")}, F(0.0)},
      {{S("1.7976931348623159e308")}, F(kInf)},
      {{S("1e99999999999999999999")}, F(kInf)},
      {{S("0e99999999999999999999")}, F(0.0)},
      {{S("1" + zeros + "e-10")}, F(kInf)},           // the digits carry the magnitude
      {{S("0." + zeros + "1e300")}, F(1e-101)},
      {{S("0." + zeros + zeros + "1e10")}, F(0.0)},  // the leading zeros carry it
  };
  for (const char* bad : {"1e", "e3", ".", "", "+", "-", " 1", "1 ", "0x10", "1_0", "1e+", "1.2.3", "--1", "+-1",
                          "inff", "infinit", "in", "nan(1)", "+ 1", ".e5", "\xD9\xA1", "1,5"}) {
    cases.push_back({{S(bad)}, TypeErr(conv_err("f64", S(bad)))});
  }
  cases.push_back({{N()}, TypeErr("Expected a value that can be converted to 'f64', got 'Null'")});
  cases.push_back({{A({})}, TypeErr("Expected a value that can be converted to 'f64', got 'Array([])'")});
  check_all(fns::into_float, cases);
}

TEST(Join, ConcatenatesDisplayTexts) {
  check_all(fns::join, {
                           {{A({})}, Count{2, 1}},
                           {{S("a"), I(1)}, TypeErr("Expected an array argument, got: 'string'")},
                           {{A({}), I(1)}, TypeErr("Expected a string argument, got: 'int'")},
                           {{A({}), S("-")}, S("")},
                           {{A({S("a")}), S("-")}, S("a")},
                           {{A({S("a"), I(1), N(), B(true)}), S("-")}, S("a-1-null-true")},
                           {{A({S("x"), S("y")}), S("")}, S("xy")},
                           {{A({A({S("a")}), F(1.5), F(1.0)}), S(", ")}, S("[\"a\"], 1.5, 1")},
                           {{A({S("é"), S("\n")}), S("→")}, S("é→\n")},
                       });
}

TEST(Split, CutsAtEveryOccurrence) {
  check_all(fns::split, {
                            {{S("a")}, Count{2, 1}},
                            {{N(), S("a")}, TypeErr("Expected a string as the first argument, got: 'null'")},
                            {{S("a"), N()}, TypeErr("Expected a string as the second argument, got: 'null'")},
                            {{S("a|b||c|"), S("|")}, Strings({"a", "b", "", "c", ""})},
                            {{S("|a"), S("|")}, Strings({"", "a"})},
                            {{S(""), S("|")}, Strings({""})},
                            {{S("aaa"), S("aa")}, Strings({"", "a"})},
                            {{S("abab"), S("ab")}, Strings({"", "", ""})},
                            {{S("abc"), S("x")}, Strings({"abc"})},
                            {{S("abc"), S("abcd")}, Strings({"abc"})},
                            {{S("a😀b😀"), S("😀")}, Strings({"a", "b", ""})},
                            // An empty separator: every scalar boundary and both ends.
                            {{S("abc"), S("")}, Strings({"", "a", "b", "c", ""})},
                            {{S(""), S("")}, Strings({"", ""})},
                            {{S("aé😀"), S("")}, Strings({"", "a", "é", "😀", ""})},
                        });
}
