// Table-driven checks for the built-in functions, called directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "vintrel/errors.h"
#include "vintrel/func.h"
#include "vintrel/value.h"

namespace builtin_cases {

using vintrel::EvalError;
using vintrel::Value;

inline Value S(std::string_view s) { return Value::String(vintrel::CowStr::Owned(std::string(s))); }
inline Value I(int64_t i) { return Value::Int(i); }
inline Value F(double f) { return Value::Float(f); }
inline Value B(bool b) { return Value::Bool(b); }
inline Value N() { return Value::Null(); }
inline Value A(std::vector<Value> items) { return Value::Array(std::move(items)); }
inline Value O(std::vector<std::pair<std::string, Value>> entries) {
  return Value::Object(vintrel::ValueObject::from_entries(std::move(entries)));
}

struct Err {
  EvalError::Kind kind;
  std::string text;
};
inline Err TypeErr(std::string t) { return {EvalError::Kind::TypeError, std::move(t)}; }
inline Err ValueErr(std::string t) { return {EvalError::Kind::ValueError, std::move(t)}; }
inline Err RegexErr(std::string t) { return {EvalError::Kind::RegexError, std::move(t)}; }
struct Count {
  uint64_t expected, got;
};

using Want = std::variant<Value, Err, Count>;
struct Case {
  std::vector<Value> args;
  Want want;
};

inline std::string describe(const std::vector<Value>& args) {
  std::string s = "args:";
  for (const Value& v : args) {
    s += ' ';
    std::string d = v.debug_string();
    s += d.size() > 200 ? d.substr(0, 200) + "..." : d;
  }
  return s;
}

// Values compare by debug text, which tells Int from Float, shows NaN and
// distinguishes -0.0.
inline void check(vintrel::FnResult (*fn)(vintrel::FnArgs), const Case& c) {
  SCOPED_TRACE(describe(c.args));
  vintrel::FnResult r = fn(c.args);
  if (const Value* want = std::get_if<Value>(&c.want)) {
    ASSERT_TRUE(r.has_value()) << r.error().message();
    EXPECT_EQ(r->debug_string(), want->debug_string());
    if (r->is_string()) {
      EXPECT_TRUE(r->as_cow_str().is_owned()) << "a result owns its text";
    }
    if (r->is_array()) {
      for (const Value& e : r->as_array()) {
        if (e.is_string()) {
          EXPECT_TRUE(e.as_cow_str().is_owned()) << "a result owns its text";
        }
      }
    }
  } else if (const Err* e = std::get_if<Err>(&c.want)) {
    ASSERT_FALSE(r.has_value()) << r->debug_string();
    EXPECT_EQ(static_cast<int>(r.error().kind()), static_cast<int>(e->kind)) << r.error().message();
    EXPECT_EQ(r.error().text(), e->text);
  } else {
    const Count& n = std::get<Count>(c.want);
    ASSERT_FALSE(r.has_value()) << r->debug_string();
    ASSERT_EQ(r.error().kind(), EvalError::Kind::ArgumentCount) << r.error().message();
    EXPECT_EQ(r.error().expected(), n.expected);
    EXPECT_EQ(r.error().got(), n.got);
  }
}

inline void check_all(vintrel::FnResult (*fn)(vintrel::FnArgs), const std::vector<Case>& cases) {
  for (const Case& c : cases) check(fn, c);
}

}  // namespace builtin_cases
