#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "small_stack.h"
#include "test_json.h"
#include "vintrel/env.h"
#include "vintrel/panic.h"
#include "vintrel/path.h"

namespace {

using vintrel::Env;
using vintrel::EnvBuilder;
using vintrel::Value;
using vtest::Json;

// Debug text of a Value with its key order, which == alone cannot show.
std::string text(const vintrel::Expected<Value, std::string>& r) { return r ? r->debug_string() : "error " + r.error(); }

struct ConversionCase {
  const char* label;
  Json in;
  std::string want;  // debug text of the Value, or "error " + text
};

std::vector<ConversionCase> conversion_cases() {
  const uint64_t i64max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return {
      {"string", Json::str("a\"b"), "String(\"a\\\"b\")"},
      {"u64 in range", Json::u(i64max), "Int(9223372036854775807)"},
      {"u64 above range", Json::u(i64max + 1), "Float(9.223372036854776e18)"},
      {"u64 max", Json::u(std::numeric_limits<uint64_t>::max()), "Float(1.8446744073709552e19)"},
      {"i64", Json::i(-1), "Int(-1)"},
      {"float stays float", Json::f(1.0), "Float(1.0)"},
      {"infinity", Json::f(-INFINITY), "Float(-inf)"},
      {"bool", Json::boolean(false), "Bool(false)"},
      {"null", Json::null(), "Null"},
      {"empty array", Json::arr({}), "Array([])"},
      {"empty object", Json::obj({}), "Object({})"},
      {"keys sorted", Json::obj({{"b", Json::u(1)}, {"a", Json::u(2)}, {"c", Json::u(3)}}),
       "Object({\"a\": Int(2), \"b\": Int(1), \"c\": Int(3)})"},
      {"nested", Json::arr({Json::obj({{"z", Json::arr({Json::null(), Json::str("s")})}, {"y", Json::obj({})}}),
                            Json::arr({Json::arr({})})}),
       "Array([Object({\"y\": Object({}), \"z\": Array([Null, String(\"s\")])}), Array([Array([])])])"},
      {"scalars before, between and after containers",
       Json::arr({Json::u(1), Json::str("s"), Json::arr({Json::u(2)}), Json::null(), Json::obj({}), Json::u(3)}),
       "Array([Int(1), String(\"s\"), Array([Int(2)]), Null, Object({}), Int(3)])"},
      {"unsupported", Json::opaque(), "error Unsupported value type"},
      {"unsupported among leading scalars", Json::arr({Json::u(1), Json::opaque(), Json::arr({})}),
       "error Unsupported value type"},
      {"unsupported deep inside",
       Json::obj({{"a", Json::u(1)}, {"b", Json::arr({Json::u(2), Json::opaque()})}}),
       "error Unsupported value type"},
  };
}

TEST(Conversion, BorrowingFormFollowsEveryRow) {
  for (const auto& c : conversion_cases())
    EXPECT_EQ(text(Value::from_json_object_ref(c.in)), c.want) << c.label;
}

TEST(Conversion, OwningFormFollowsEveryRow) {
  for (auto c : conversion_cases()) EXPECT_EQ(text(Value::from_json_object(std::move(c.in))), c.want) << c.label;
}

TEST(Conversion, UnsignedAboveSignedRangeIsNearestDouble) {
  auto r = Value::from_json_object_ref(Json::u(std::numeric_limits<uint64_t>::max()));
  ASSERT_TRUE(r && r->is_float());
  EXPECT_EQ(r->as_float(), 18446744073709551616.0);
  auto nan = Value::from_json_object_ref(Json::f(std::nan("")));
  ASSERT_TRUE(nan && nan->is_float());
  EXPECT_TRUE(std::isnan(nan->as_float()));
}

// Large objects take the other sorting path; small ones the insertion sort.
TEST(Conversion, ObjectKeysComeOutInByteOrderAtAnySize) {
  for (int n : {3, 40}) {
    Json::object_type o;
    for (int k = n - 1; k >= 0; --k) {
      std::string key(1, k % 2 ? 'b' : 'a');
      key += std::to_string(100 + k);
      o.insert_or_assign(std::move(key), Json::i(k));
    }
    auto r = Value::from_json_object_ref(Json::obj(std::move(o)));
    ASSERT_TRUE(r && r->is_object());
    ASSERT_EQ(r->as_object().size(), static_cast<size_t>(n));
    std::string previous;
    for (const auto& [key, value] : r->as_object()) {
      EXPECT_LT(previous, key);
      EXPECT_EQ(key.substr(1), std::to_string(100 + value.as_int()));
      previous = key;
    }
  }
}

TEST(Conversion, BorrowingFormPointsIntoTheSource) {
  Json src = Json::arr({Json::str("text"), Json::obj({{"k", Json::str("v")}})});
  auto r = Value::from_json_object_ref(src);
  ASSERT_TRUE(r);
  const Value& s = r->as_array()[0];
  ASSERT_TRUE(s.as_cow_str().is_borrowed());
  EXPECT_EQ(s.as_str().data(), (*src.as_array())[0].as_str()->data());
  const Value& inner = *r->as_array()[1].as_object().find("k");
  EXPECT_TRUE(inner.as_cow_str().is_borrowed());
}

TEST(Conversion, OwningFormOwnsEveryString) {
  auto r = Value::from_json_object(Json::obj({{"k", Json::arr({Json::str("v")})}, {"a", Json::str("w")}}));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->as_object().find("a")->as_cow_str().is_owned());
  EXPECT_TRUE(r->as_object().find("k")->as_array()[0].as_cow_str().is_owned());
}

TEST(Conversion, KindThatYieldsNothingStops) {
  struct Case {
    Json::Claim claim;
    const char* message;
  };
  for (auto [claim, message] : {Case{Json::Claim::String, "Expected JSON string"},
                                Case{Json::Claim::Array, "Expected JSON array"},
                                Case{Json::Claim::Object, "Expected JSON object"}}) {
    try {
      (void)Value::from_json_object(Json::arr({Json::u(1), Json::lying(claim)}));
      ADD_FAILURE() << message;
    } catch (const vintrel::Panic& p) {
      EXPECT_EQ(p.message(), message);
    }
  }
}

// The conversion keeps its own stack of open containers: data nested far
// deeper than a small thread stack could recurse through converts there.
// Building and destroying the nested data happens on the main thread.
TEST(Conversion, DeepDataNeedsNoNativeStack) {
  constexpr int kDepth = 5000;
  Json deep = Json::str("leaf");
  for (int i = 0; i < kDepth; ++i) {
    if (i % 2) {
      Json::array_type a;
      a.push_back(std::move(deep));
      deep = Json::arr(std::move(a));
    } else {
      Json::object_type o;
      o.insert_or_assign("k", std::move(deep));
      deep = Json::obj(std::move(o));
    }
  }
  std::optional<vintrel::Expected<Value, std::string>> result;
  vintrel_test::run_on_small_stack([&] { result.emplace(Value::from_json_object_ref(deep)); });
  ASSERT_TRUE(result && *result);
  const Value* v = &**result;
  int depth = 0;
  while (!v->is_string()) {
    v = v->is_array() ? &v->as_array()[0] : v->as_object().find("k");
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(v->as_str(), "leaf");
}

TEST(EnvBuilder, LaterBindingWinsAndBuildKeepsTheBuilder) {
  auto builder = EnvBuilder<Json>::new_();
  vtest::Bindings first;
  first.emplace("x", Json::u(1));
  first.emplace("y", Json::u(2));
  vtest::Bindings second;
  second.emplace("x", Json::str("later"));
  builder.bind_multiple(std::move(first)).bind_multiple(std::move(second));

  Env<Json> env = builder.build();
  ASSERT_NE(env.lookup(vintrel::VarName{"x"}), nullptr);
  EXPECT_EQ(*env.lookup(vintrel::VarName{"x"}), Json::str("later"));
  EXPECT_EQ(*env.lookup(vintrel::VarName{"y"}), Json::u(2));
  EXPECT_EQ(env.lookup(vintrel::VarName{"z"}), nullptr);
  // The copy is the environment's own; the builder still holds its values.
  EXPECT_NE(env.lookup(vintrel::VarName{"x"}), &builder.bindings.find("x")->second.get());
  EXPECT_EQ(builder.bindings.size(), 2u);

  const Json* held = &builder.bindings.find("y")->second.get();
  Env<Json> moved = std::move(builder).build();
  EXPECT_EQ(moved.lookup(vintrel::VarName{"y"}), held);
}

TEST(EnvBuilder, EmptyBindingsStillResolveDefaultFunctions) {
  Env<Json> env = vtest::make_env({});
  ASSERT_TRUE(env.functions.is_borrowed());
  EXPECT_EQ(&env.functions.get(), &vintrel::DEFAULT_VTABLE());
  EXPECT_TRUE(env.functions->count("len"));
  auto r = vintrel::VarAccess{{vintrel::VarName{"x", {}}}}.access_from_bindings(env);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), vintrel::VarAccessError::Kind::NotFound);
  EXPECT_EQ(r.error().text(), "x");
}

TEST(EnvBuilder, AGivenTableIsUsedInsteadOfTheDefault) {
  vintrel::FunctionTable table;
  table.emplace("one", vintrel::FnCallback::sync([](vintrel::FnArgs) -> vintrel::FnResult { return Value::Int(1); }));
  auto builder = EnvBuilder<Json>::new_();
  builder.functions = vintrel::Cow<vintrel::FunctionTable>::Owned(table);
  Env<Json> env = builder.build();
  EXPECT_TRUE(env.functions.is_owned());
  EXPECT_EQ(env.functions->size(), 1u);
  // Copies of the table share each callable.
  EXPECT_EQ(std::get<vintrel::FnCallback::Sync>(env.functions->at("one").v).f,
            std::get<vintrel::FnCallback::Sync>(builder.functions->get().at("one").v).f);
}

}  // namespace
