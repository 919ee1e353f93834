#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "small_stack.h"
#include "vintrel/value.h"

using vintrel::CowStr;
using vintrel::Value;
using vintrel::ValueArray;
using vintrel::ValueObject;

namespace {

Value str(std::string_view s) { return Value::String(CowStr::Borrowed(s)); }
Value owned(std::string s) { return Value::String(CowStr::Owned(std::move(s))); }
Value arr(std::vector<Value> v) { return Value::Array(std::move(v)); }
Value obj(std::vector<ValueObject::Entry> e) { return Value::Object(ValueObject::from_entries(std::move(e))); }

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Every string in `v` is owned. Walks with a list of pending values, since
// the deep tests' values would overflow a recursion.
bool all_owned(const Value& root) {
  std::vector<const Value*> pending{&root};
  while (!pending.empty()) {
    const Value& v = *pending.back();
    pending.pop_back();
    if (v.is_string() && !v.as_cow_str().is_owned()) return false;
    if (v.is_array())
      for (const auto& e : v.as_array()) pending.push_back(&e);
    if (v.is_object())
      for (const auto& e : v.as_object()) pending.push_back(&e.second);
  }
  return true;
}

}  // namespace

TEST(ValueType, NamesFollowTheKind) {
  struct Case {
    Value v;
    vintrel::Type t;
    const char* name;
  };
  const Case cases[] = {
      {Value::Int(-3), vintrel::Type::Int, "int"},
      {Value::Float(2.5), vintrel::Type::Float, "float"},
      {Value::Bool(false), vintrel::Type::Bool, "bool"},
      {str(""), vintrel::Type::String, "string"},
      {arr({}), vintrel::Type::Array, "array"},
      {obj({}), vintrel::Type::Object, "object"},
      {Value::Null(), vintrel::Type::Null, "null"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.v.get_type(), c.t) << c.name;
    EXPECT_EQ(vintrel::type_name(c.v.get_type()), c.name);
  }
}

TEST(ValueEquality, Table) {
  std::string text = "abc";
  struct Case {
    Value a, b;
    bool equal;
    const char* what;
  };
  const Case cases[] = {
      {Value::Int(1), Value::Float(1.0), false, "no int/float conversion"},
      {str("1"), Value::Int(1), false, "no text/int conversion"},
      {Value::Bool(true), Value::Int(1), false, "no bool/int conversion"},
      {Value::Float(0.0), Value::Float(-0.0), true, "signed zeros"},
      {Value::Float(kNaN), Value::Float(kNaN), false, "NaN"},
      {Value::Float(kInf), Value::Float(kInf), true, "infinity"},
      {arr({Value::Float(kNaN)}), arr({Value::Float(kNaN)}), false, "NaN inside an array"},
      {str(text), owned("abc"), true, "borrowed against owned"},
      {str("ab"), str("abc"), false, "prefix"},
      {Value::Null(), Value::Null(), true, "null"},
      {arr({}), arr({}), true, "empty arrays"},
      {obj({}), obj({}), true, "empty objects"},
      {arr({}), obj({}), false, "array against object"},
      {arr({Value::Int(1), Value::Int(2)}), arr({Value::Int(2), Value::Int(1)}), false, "array order"},
      {arr({Value::Int(1)}), arr({Value::Int(1), Value::Int(1)}), false, "array length"},
      {obj({{"b", Value::Int(1)}, {"a", Value::Int(2)}}), obj({{"a", Value::Int(2)}, {"b", Value::Int(1)}}), true,
       "insertion order"},
      {obj({{"a", Value::Int(1)}}), obj({{"b", Value::Int(1)}}), false, "different key"},
      {obj({{"a", Value::Int(1)}}), obj({{"a", Value::Int(2)}}), false, "different value"},
      {obj({{"a", Value::Int(1)}}), obj({{"a", Value::Int(1)}, {"b", Value::Null()}}), false, "extra entry"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.what;
    EXPECT_EQ(c.b == c.a, c.equal) << c.what;
  }
}

TEST(ValueTruthiness, Table) {
  struct Case {
    Value v;
    bool truthy;
    const char* what;
  };
  const Case cases[] = {
      {Value::Int(0), false, "0"},
      {Value::Int(-1), true, "-1"},
      {Value::Float(0.0), false, "0.0"},
      {Value::Float(-0.0), false, "-0.0"},
      {Value::Float(kNaN), true, "NaN"},
      {Value::Float(-kInf), true, "-inf"},
      {Value::Float(5e-324), true, "subnormal"},
      {Value::Bool(false), false, "false"},
      {Value::Bool(true), true, "true"},
      {str(""), false, "empty text"},
      {str("0"), true, "text 0"},
      {str(" "), true, "a space"},
      {str("false"), true, "text false"},
      {arr({}), false, "empty array"},
      {arr({Value::Null()}), true, "array of null"},
      {obj({}), false, "empty object"},
      {obj({{"", Value::Null()}}), true, "object with an entry"},
      {Value::Null(), false, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(vintrel::is_truthy(c.v), c.truthy) << c.what;
}

TEST(ValueCopy, BorrowedTextStaysBorrowedOwnedTextIsCopied) {
  std::string text = "some text longer than any small-string buffer";
  Value b = arr({str(text), owned(text)});
  Value c = b;
  ASSERT_EQ(b, c);
  const CowStr& cb = c.as_array()[0].as_cow_str();
  EXPECT_TRUE(cb.is_borrowed());
  EXPECT_EQ(cb.data(), text.data());
  const CowStr& co = c.as_array()[1].as_cow_str();
  EXPECT_TRUE(co.is_owned());
  EXPECT_NE(co.data(), b.as_array()[1].as_cow_str().data());
}

TEST(ValueIntoOwned, DetachesFromFreedSource) {
  auto source = std::make_unique<std::string>("alpha beta gamma delta epsilon");
  std::string_view s = *source;
  Value v = obj({{"z", arr({Value::String(CowStr::Borrowed(s.substr(0, 5))), Value::Int(1)})},
                 {"a", Value::String(CowStr::Borrowed(s.substr(6, 4)))},
                 {"m", obj({{"k", Value::String(CowStr::Borrowed(s))}})}});
  Value detached = std::move(v).into_owned();
  source.reset();  // the borrowed bytes are gone
  Value expected = obj({{"a", owned("beta")},
                        {"m", obj({{"k", owned("alpha beta gamma delta epsilon")}})},
                        {"z", arr({owned("alpha"), Value::Int(1)})}});
  EXPECT_EQ(detached, expected);
  EXPECT_TRUE(all_owned(detached));
  std::vector<std::string> keys;
  for (const auto& e : detached.as_object()) keys.push_back(e.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "m", "z"}));
}

TEST(ValueIntoOwned, MovesOwnedTextAndReusesArrayStorage) {
  Value v = arr({owned(std::string(100, 'x')), Value::Null()});
  const char* text = v.as_array()[0].as_cow_str().data();
  const Value* elems = v.as_array().data();
  Value d = std::move(v).into_owned();
  EXPECT_EQ(d.as_array().data(), elems);
  EXPECT_EQ(d.as_array()[0].as_cow_str().data(), text);
}

TEST(ValueDebug, Table) {
  struct Case {
    Value v;
    const char* text;
  };
  const Case cases[] = {
      {Value::Int(-5), "Int(-5)"},
      {Value::Int(std::numeric_limits<int64_t>::min()), "Int(-9223372036854775808)"},
      {Value::Float(1.0), "Float(1.0)"},
      {Value::Float(kNaN), "Float(NaN)"},
      {Value::Float(-kNaN), "Float(NaN)"},
      {Value::Bool(true), "Bool(true)"},
      {Value::Bool(false), "Bool(false)"},
      {str(""), "String(\"\")"},
      {str("x\ty"), "String(\"x\\ty\")"},
      {str("it's"), "String(\"it's\")"},
      {str("a\"b"), "String(\"a\\\"b\")"},
      {arr({}), "Array([])"},
      {arr({Value::Int(1), str("a")}), "Array([Int(1), String(\"a\")])"},
      {obj({}), "Object({})"},
      {obj({{"k", Value::Null()}, {"a\"", arr({Value::Float(1e16)})}}),
       "Object({\"a\\\"\": Array([Float(1e16)]), \"k\": Null})"},
      {Value::Null(), "Null"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.v.debug_string(), c.text);
}

TEST(FloatDebugForm, Table) {
  struct Case {
    double f;
    const char* text;
  };
  const Case cases[] = {
      {1.0, "1.0"},
      {100.0, "100.0"},
      {0.1, "0.1"},
      {2.5, "2.5"},
      {1e15, "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e16"},
      {1.2345e20, "1.2345e20"},
      {1e23, "1e23"},
      {0.0001, "0.0001"},
      {0.00012, "0.00012"},
      {0.00001, "1e-5"},
      {2.5e-5, "2.5e-5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-1.5, "-1.5"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
      {-std::numeric_limits<double>::max(), "-1.7976931348623157e308"},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
      {0.30000000000000004, "0.30000000000000004"},
  };
  for (const auto& c : cases) {
    std::string out;
    vintrel::float_debug_fmt(c.f, out);
    EXPECT_EQ(out, c.text) << c.text;
  }
}

TEST(QuotedDebugText, Escapes) {
  struct Case {
    std::string in;
    const char* out;
  };
  const Case cases[] = {
      {std::string("a\0b", 3), "\"a\\0b\""},
      {"\t\r\n", "\"\\t\\r\\n\""},
      {"\\", "\"\\\\\""},
      {"'", "\"'\""},
      {" ", "\" \""},
      {"\x01", "\"\\u{1}\""},
      {"\x1f", "\"\\u{1f}\""},
      {"\x7f", "\"\\u{7f}\""},
      {"e\xcc\x81", "\"e\\u{301}\""},          // U+0301 combining acute: Grapheme_Extend
      {"\xc2\xa0", "\"\\u{a0}\""},             // U+00A0: Zs, not the space
      {"\xe2\x80\x8b", "\"\\u{200b}\""},       // U+200B: Cf
      {"\xe2\x80\xa8", "\"\\u{2028}\""},       // U+2028: Zl
      {"\xc2\x85", "\"\\u{85}\""},             // U+0085: Cc
      {"\xee\x80\x80", "\"\\u{e000}\""},       // U+E000: Co
      {"\xf4\x8f\xbf\xbf", "\"\\u{10ffff}\""},  // Cn
      {"\xe2\x80\x8d", "\"\\u{200d}\""},       // ZWJ: Grapheme_Extend
      {"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", "\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\""},  // é, 中, 😀
      {"\xff", "\"\xef\xbf\xbd\""},            // invalid UTF-8 never passes through
  };
  for (const auto& c : cases) {
    std::string out;
    vintrel::quoted_debug_fmt(c.in, out);
    EXPECT_EQ(out, c.out);
  }
}

// A native caller can nest values as deep as it likes: copy, equality,
// text, into_owned, assignment and destruction must fit a modest stack at
// any depth.
TEST(ValueDeep, HundredThousandLevelsOnSmallStack) {
  vintrel_test::run_on_small_stack([] {
    constexpr int kDepth = 100000;
    auto build = [](int depth) {
      Value v = str("leaf");
      for (int i = 0; i < depth; ++i) {
        if (i % 2 == 0) {
          ValueArray a;
          a.push_back(std::move(v));
          v = Value::Array(std::move(a));
        } else {
          ValueObject o;
          o.insert_or_assign("k", std::move(v));
          v = Value::Object(std::move(o));
        }
      }
      return v;
    };
    Value a = build(kDepth);
    Value b = a;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == build(kDepth - 1));
    std::string debug = a.debug_string();
    EXPECT_EQ(debug.size(), b.debug_string().size());
    std::string display = a.display_string();
    EXPECT_EQ(display.substr(0, 8), "{\"k\": [{");
    Value c = std::move(b).into_owned();
    EXPECT_TRUE(all_owned(c));
    EXPECT_TRUE(c == a);
    c = a;  // replaces one deep value by a copy of another
    EXPECT_TRUE(c == a);
    c = std::move(c.as_object().begin()->second);  // by a value inside itself
    EXPECT_TRUE(c.is_array());
  });
}
