#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "vintrel/utils.h"
#include "vintrel/value.h"

using vintrel::CowStr;
using vintrel::Value;
using vintrel::ValueObject;

namespace {

Value str(std::string_view s) { return Value::String(CowStr::Borrowed(s)); }
Value arr(std::vector<Value> v) { return Value::Array(std::move(v)); }
Value obj(std::vector<ValueObject::Entry> e) { return Value::Object(ValueObject::from_entries(std::move(e))); }

// Appends rather than using operator+, which gcc 12 at -O3 flags with a
// false -Wrestrict warning.
std::string digits_then_zeros(std::string_view head, size_t zeros, std::string_view tail = {}) {
  std::string s(head);
  s.append(zeros, '0');
  s.append(tail);
  return s;
}
std::string ones_and_zeros(size_t zeros) { return digits_then_zeros("1", zeros); }

std::string display(double f) {
  std::string out;
  vintrel::float_display_fmt(f, out);
  return out;
}

}  // namespace

TEST(FloatDisplayForm, Table) {
  struct Case {
    double f;
    std::string text;
  };
  const Case cases[] = {
      {1.0, "1"},
      {100.0, "100"},
      {0.1, "0.1"},
      {2.5, "2.5"},
      {-2.5, "-2.5"},
      {1e15, ones_and_zeros(15)},
      {1e16, ones_and_zeros(16)},
      {1e21, ones_and_zeros(21)},
      {1e23, ones_and_zeros(23)},  // not the exact binary value 99999999999999991611392
      {1e300, ones_and_zeros(300)},
      {9223372036854775808.0, "9223372036854776000"},
      {1.2345e20, "123450000000000000000"},
      {123.456, "123.456"},
      {1e-4, "0.0001"},
      {1e-5, "0.00001"},
      {1e-7, "0.0000001"},
      {2.5e-5, "0.000025"},
      {0.0, "0"},
      {-0.0, "-0"},
      {5e-324, digits_then_zeros("0.", 323, "5")},
      {std::numeric_limits<double>::max(), digits_then_zeros("17976931348623157", 292)},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(display(c.f), c.text) << c.text;
}

TEST(ValueDisplay, Table) {
  std::string nul_text("a\0\x01\x7f", 4);
  struct Case {
    Value v;
    std::string text;
  };
  const Case cases[] = {
      {Value::Int(42), "42"},
      {Value::Int(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {Value::Float(1.0), "1"},
      {Value::Bool(true), "true"},
      {Value::Bool(false), "false"},
      {Value::Null(), "null"},
      {str("a\"b"), "a\"b"},
      {str("x\ny"), "x\ny"},
      {arr({str("a\"b")}), "[\"a\\\"b\"]"},
      {arr({str("x\ny")}), "[\"x\\ny\"]"},
      {arr({str("it's")}), "[\"it's\"]"},
      {arr({str("\\\r\t")}), "[\"\\\\\\r\\t\"]"},
      {arr({Value::Int(1)}), "[1]"},
      {arr({Value::Float(1.0)}), "[1]"},
      {arr({Value::Int(1), Value::Float(2.5), Value::Bool(true), Value::Null(), str("x")}),
       "[1, 2.5, true, null, \"x\"]"},
      {arr({}), "[]"},
      {obj({}), "{}"},
      {arr({arr({})}), "[[]]"},
      {arr({str("")}), "[\"\"]"},
      {obj({{"b", str("x")}, {"a", arr({Value::Int(1)})}}), "{\"a\": [1], \"b\": \"x\"}"},
      {obj({{"q\"\\", Value::Null()}}), "{\"q\"\\\": null}"},  // keys stay unescaped
      {obj({{"k", obj({{"n", str("v\t")}})}}), "{\"k\": {\"n\": \"v\\t\"}}"},
      {arr({str(nul_text)}), std::string("[\"").append(nul_text).append("\"]")},  // control characters stay raw
      {arr({Value::Float(-0.0), Value::Float(1e-7)}), "[-0, 0.0000001]"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.v.display_string(), c.text);
}

TEST(EscapeStrForJson, Table) {
  struct Case {
    std::string in;
    std::string out;
    bool borrowed;
  };
  const Case cases[] = {
      {"", "", true},
      {"plain text \xc3\xa9", "plain text \xc3\xa9", true},
      {std::string("\0\x01\x7f/", 4), std::string("\0\x01\x7f/", 4), true},
      {"a\"b", "a\\\"b", false},
      {"back\\slash", "back\\\\slash", false},
      {"\n\r\t", "\\n\\r\\t", false},
      {"it's", "it's", false},  // in the escape set, though replaced by itself
  };
  for (const auto& c : cases) {
    CowStr r = vintrel::escape_str_for_json(c.in);
    EXPECT_EQ(r.view(), c.out);
    EXPECT_EQ(r.is_borrowed(), c.borrowed) << c.in;
    if (c.borrowed) {
      EXPECT_EQ(r.data(), c.in.data());
    }
  }
}
