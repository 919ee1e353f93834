#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "small_stack.h"
#include "test_json.h"
#include "vintrel/interpreter.h"
#include "vintrel/parser.h"

namespace {

using vintrel::Cow;
using vintrel::Env;
using vintrel::EvalError;
using vintrel::Exp;
using vintrel::FnArgs;
using vintrel::FnCallback;
using vintrel::FnResult;
using vintrel::Value;
using vintrel::VarAccessError;
using vtest::Json;

Exp parse(std::string_view text) {
  auto r = vintrel::parse_exp(text);
  if (!r) {
    ADD_FAILURE() << "does not parse: " << text;
    return Exp::value(Value::Null());
  }
  EXPECT_TRUE(r->rest.find_first_not_of(" \t\n\r") == std::string_view::npos) << "left over: " << r->rest;
  return std::move(r->value).into_owned();
}

// Variant and payload of an error, independent of how messages wrap them.
std::string describe(const EvalError& e) {
  using K = EvalError::Kind;
  switch (e.kind()) {
    case K::VarAccess: return "VarAccess " + vtest::describe(e.var_access_error());
    case K::FnCall: return "FnCall " + e.fn_call_error().name + ": " + describe(*e.fn_call_error().error);
    case K::UndefinedFunction: return "UndefinedFunction " + e.text();
    case K::TypeError: return "TypeError " + e.text();
    case K::ValueError: return "ValueError " + e.text();
    case K::RegexError: return "RegexError " + e.text();
    case K::ArgumentCount: return "ArgumentCount " + std::to_string(e.expected()) + "/" + std::to_string(e.got());
    case K::AsyncInSync: return "AsyncInSync";
    case K::Other: return "Other " + e.text();
  }
  return "?";
}

std::string outcome(const vintrel::Expected<Cow<Value>, EvalError>& r) {
  return r ? "ok " + r->get().debug_string() : describe(r.error());
}

Json record() {
  return Json::obj({{"name", Json::str("Ada")},
                    {"age", Json::u(36)},
                    {"roles", Json::arr({Json::str("dev"), Json::str("admin"), Json::str("ops")})},
                    {"score", Json::f(9.5)},
                    {"active", Json::boolean(true)},
                    {"team", Json::null()},
                    {"id", Json::i(-4)},
                    {"tags", Json::obj({{"b", Json::u(1)}, {"a", Json::u(2)}})}});
}

Env<Json> fixture_env() {
  vtest::Bindings b;
  b.emplace("nan", Json::f(std::nan("")));
  b.emplace("n", Json::u(7));
  b.emplace("s", Json::str("hello"));
  b.emplace("user", record());
  b.emplace("opaque", Json::opaque());
  return vtest::make_env(std::move(b));
}

struct Case {
  const char* text;
  std::string want;
};

// x and y are never bound.
TEST(Interpreter, EvaluatesWithDefaultFunctions) {
  const std::vector<Case> cases = {
      // || and && pass values on; && turns a falsy left side into false.
      {"1 || x", "ok Int(1)"},
      {"0 || x", "VarAccess NotFound: x"},
      {"0 && x", "ok Bool(false)"},
      {"'' && 1", "ok Bool(false)"},
      {"1 && 'a'", "ok String(\"a\")"},
      {"'a' || 1", "ok String(\"a\")"},
      {"0 || 0.0", "ok Float(0.0)"},
      {"null || null", "ok Null"},
      {"!0.0", "ok Bool(true)"},
      {"!nan", "ok Bool(false)"},
      {"!(!s)", "ok Bool(true)"},
      // Ordering: two ints or two floats only; NaN answers false.
      {"1 < 2", "ok Bool(true)"},
      {"2.5 >= 2.5", "ok Bool(true)"},
      {"3 <= 2", "ok Bool(false)"},
      {"user.score > 9.0", "ok Bool(true)"},
      {"nan < nan", "ok Bool(false)"},
      {"nan > nan", "ok Bool(false)"},
      {"nan <= nan", "ok Bool(false)"},
      {"nan >= nan", "ok Bool(false)"},
      {"1 < 2.0", "TypeError Cannot compare values of different types: int and float"},
      {"2.0 < 1", "TypeError Cannot compare values of different types: float and int"},
      {"'a' < 'b'", "TypeError Cannot compare values of different types: string and string"},
      {"(1 < 2) < 3", "TypeError Cannot compare values of different types: bool and int"},
      {"null >= null", "TypeError Cannot compare values of different types: null and null"},
      {"[1] <= [1]", "TypeError Cannot compare values of different types: array and array"},
      {"{} > {}", "TypeError Cannot compare values of different types: object and object"},
      // Equality never converts between int and float.
      {"1 == 1.0", "ok Bool(false)"},
      {"1 != 1.0", "ok Bool(true)"},
      {"nan == nan", "ok Bool(false)"},
      {"nan != nan", "ok Bool(true)"},
      {"s == 'hello'", "ok Bool(true)"},
      {"[1, 'a'] == [1, 'a']", "ok Bool(true)"},
      // Calls: arguments first, then the exact-name lookup.
      {"f()", "UndefinedFunction f"},
      {"LEN(s)", "UndefinedFunction LEN"},
      {"f(x)", "VarAccess NotFound: x"},
      {"len(1)", "FnCall len: TypeError Expected a string, array, or object, got: 'int'"},
      {"len(user.roles)", "ok Int(3)"},
      // The first operand evaluated decides which failure is reported.
      {"[x, y]", "VarAccess NotFound: y"},
      {"{'a': x, 'b': y}", "VarAccess NotFound: y"},
      {"len(x, y)", "VarAccess NotFound: x"},
      {"x == y", "VarAccess NotFound: x"},
      {"x < y", "VarAccess NotFound: x"},
      {"!x || y", "VarAccess NotFound: x"},
      // Literals and variables.
      {"{'b': 1, 'a': 2}", "ok Object({\"a\": Int(2), \"b\": Int(1)})"},
      {"[]", "ok Array([])"},
      {"{}", "ok Object({})"},
      {"[1, [2, 'x'], {'k': [true, n]}]",
       "ok Array([Int(1), Array([Int(2), String(\"x\")]), Object({\"k\": Array([Bool(true), Int(7)])})])"},
      {"n", "ok Int(7)"},
      {"user.id", "ok Int(-4)"},
      {"user.team", "ok Null"},
      {"user.roles[1]", "ok String(\"admin\")"},
      {"user.tags", "ok Object({\"a\": Int(2), \"b\": Int(1)})"},
      {"user.age >= 18 && startsWith(user.name, 'A') && contains(user.roles, 'admin')", "ok Bool(true)"},
      {"user.missing", "VarAccess KeyNotFound: user / missing"},
      {"user.roles[3]", "VarAccess IndexOutOfBounds: Index out of bounds at 'user' (index: 3, length: 3)"},
      {"n[0]", "VarAccess TypeError: Expected array at 'n[0]', found UInt(7)"},
      {"opaque", "VarAccess ConversionError: Unsupported value type"},
      {"1 || opaque", "ok Int(1)"},
  };
  Env<Json> env = fixture_env();
  for (const auto& c : cases) {
    Exp tree = parse(c.text);
    EXPECT_EQ(outcome(vintrel::interpreter::eval(tree, env)), c.want) << c.text;
  }
}

TEST(Interpreter, ResultBorrowsOnlyLiteralsPassedOn) {
  Env<Json> env = fixture_env();
  struct BorrowCase {
    const char* text;
    bool borrowed;
  };
  for (auto [text, borrowed] : {BorrowCase{"'abc'", true}, BorrowCase{"1 && 'a'", true},
                                BorrowCase{"0 || 'b'", true}, BorrowCase{"'c' || x", true},
                                BorrowCase{"0 && 1", false}, BorrowCase{"!0", false}, BorrowCase{"[1]", false},
                                BorrowCase{"s", false}, BorrowCase{"string('abc')", false}}) {
    Exp tree = parse(text);
    auto r = vintrel::interpreter::eval(tree, env);
    ASSERT_TRUE(r) << text;
    EXPECT_EQ(r->is_borrowed(), borrowed) << text;
  }

  Exp literal = parse("'abc'");
  auto r = vintrel::interpreter::eval(literal, env);
  ASSERT_TRUE(r);
  EXPECT_EQ(&r->get(), &literal.as_value());

  Exp call = parse("string('abc')");
  auto owned = vintrel::interpreter::eval(call, env);
  ASSERT_TRUE(owned);
  EXPECT_TRUE(owned->get().as_cow_str().is_owned());
}

TEST(Interpreter, VariableTextBorrowsFromTheEnvironment) {
  Env<Json> env = fixture_env();
  const char* bound = env.lookup(vintrel::VarName{"s"})->as_str()->data();
  for (const char* text : {"s", "[s]"}) {
    Exp tree = parse(text);
    auto r = vintrel::interpreter::eval(tree, env);
    ASSERT_TRUE(r) << text;
    const Value& v = r->get().is_array() ? r->get().as_array()[0] : r->get();
    EXPECT_TRUE(v.as_cow_str().is_borrowed()) << text;
    EXPECT_EQ(v.as_str().data(), bound) << text;
  }
}

// An environment whose own table records every call of `rec`, refuses the
// asynchronous `later` and fails in `fail`.
class RecordingEnv : public ::testing::Test {
 protected:
  RecordingEnv() {
    vintrel::FunctionTable table;
    auto calls = calls_;
    table.emplace("rec", FnCallback::sync([calls](FnArgs args) -> FnResult {
                    std::string entry;
                    for (const Value& a : args) {
                      if (!entry.empty()) entry += ',';
                      entry += a.display_string();
                    }
                    calls->push_back(entry);
                    return args.empty() ? Value::Null() : args[0];
                  }));
    table.emplace("id", FnCallback::sync([](FnArgs args) -> FnResult { return args[0]; }));
    // Returns a view into its argument's text instead of a copy.
    table.emplace("view", FnCallback::sync([](FnArgs args) -> FnResult {
                    return Value::String(vintrel::CowStr::Borrowed(args[0].as_str()));
                  }));
    table.emplace("fail", FnCallback::sync([](FnArgs) -> FnResult {
                    return vintrel::unexpected(EvalError::other("boom"));
                  }));
    table.emplace("later", FnCallback::async([](FnArgs, std::function<void(FnResult)>) {}));
    // A name the default table also has: this table's entry must win.
    table.emplace("bool", FnCallback::sync([](FnArgs) -> FnResult { return Value::Int(42); }));
    auto builder = vintrel::EnvBuilder<Json>::new_();
    builder.functions = Cow<vintrel::FunctionTable>::Owned(std::move(table));
    env_ = std::move(builder).build();
  }

  std::string run(const char* text) {
    calls_->clear();
    Exp tree = parse(text);
    return outcome(vintrel::interpreter::eval(tree, *env_));
  }
  std::string calls() const {
    std::string s;
    for (const auto& c : *calls_) s += "(" + c + ")";
    return s;
  }

  std::shared_ptr<std::vector<std::string>> calls_ = std::make_shared<std::vector<std::string>>();
  std::optional<Env<Json>> env_;
};

// Call nodes remember their built-in, but only the default table may use it.
TEST_F(RecordingEnv, OwnTableDecidesWhatABuiltInNameCalls) {
  EXPECT_EQ(run("bool('')"), "ok Int(42)");
  EXPECT_EQ(run("startsWith('abc', 'a')"), "UndefinedFunction startsWith");
  Exp tree = parse("bool('')");
  Exp copied = tree;
  Exp owned = Exp(tree).into_owned();
  for (const Exp* t : {&tree, &copied, &owned}) {
    EXPECT_EQ(outcome(vintrel::interpreter::eval(*t, *env_)), "ok Int(42)");
    EXPECT_EQ(outcome(vintrel::interpreter::eval(*t, vintrel::EnvBuilder<Json>::new_().build())), "ok Bool(false)");
  }
}

TEST_F(RecordingEnv, OrderOfCallsAndShortCircuits) {
  struct OrderCase {
    const char* text;
    std::string want;
    std::string calls;
  };
  const std::vector<OrderCase> cases = {
      {"rec(1) && rec(2)", "ok Int(2)", "(1)(2)"},
      {"rec(0) && rec(2)", "ok Bool(false)", "(0)"},
      {"rec(1) || rec(2)", "ok Int(1)", "(1)"},
      {"rec(0) || rec(2)", "ok Int(2)", "(0)(2)"},
      {"!rec(0)", "ok Bool(true)", "(0)"},
      {"rec(1) == rec(2)", "ok Bool(false)", "(1)(2)"},
      {"rec(2) > rec(1)", "ok Bool(true)", "(2)(1)"},
      {"rec()", "ok Null", "()"},
      {"rec(rec(1), rec(2), 'z')", "ok Int(1)", "(1)(2)(1,2,z)"},
      {"[rec(1), rec(2), rec(3)]", "ok Array([Int(1), Int(2), Int(3)])", "(3)(2)(1)"},
      {"{'a': rec(1), 'c': rec(3), 'b': rec(2)}", "ok Object({\"a\": Int(1), \"b\": Int(2), \"c\": Int(3)})",
       "(3)(2)(1)"},
      {"rec(rec(1), x, rec(3))", "VarAccess NotFound: x", "(1)"},
      {"later(rec(1))", "FnCall later: AsyncInSync", "(1)"},
      {"later(rec(1), x)", "VarAccess NotFound: x", "(1)"},
      {"fail(rec(1)) || rec(2)", "FnCall fail: Other boom", "(1)"},
      {"len('abc')", "UndefinedFunction len", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.text), c.want) << c.text;
    EXPECT_EQ(calls(), c.calls) << c.text;
  }
}

TEST_F(RecordingEnv, FunctionResultsOwnTheirText) {
  Exp tree = parse("rec('abc')");
  auto r = vintrel::interpreter::eval(tree, *env_);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->is_owned());
  EXPECT_TRUE(r->get().as_cow_str().is_owned());
  // A result that borrows from an argument the call owned (here the
  // result of an inner call) is copied before the arguments are dropped.
  const std::string text(64, 'q');
  EXPECT_EQ(run(("view(rec('" + text + "'))").c_str()), "ok String(\"" + text + "\")");
}

// Trees far deeper than a 256 KiB native stack could recurse through,
// built directly and evaluated on such a stack.
TEST_F(RecordingEnv, DeepTreesNeedNoNativeStack) {
  constexpr int kDepth = 20000;
  auto lit = [](Value v) { return Exp::value(std::move(v)); };
  auto var = [](const char* name) { return Exp::variable(vintrel::VarAccess{{vintrel::VarName{name, {}}}}); };

  Exp nots = lit(Value::Bool(true));
  for (int i = 0; i < kDepth; ++i) nots = Exp::not_(std::move(nots));

  // x == 0 || x == 1 || ... grouped to the left, as the parser groups it.
  Exp ors = Exp::eq(var("k"), lit(Value::Int(0)));
  for (int i = 1; i < kDepth; ++i) ors = Exp::or_(std::move(ors), Exp::eq(var("k"), lit(Value::Int(i))));

  // true && (true && (... && 5)), grouped to the right.
  Exp ands = lit(Value::Int(5));
  for (int i = 0; i < kDepth; ++i) ands = Exp::and_(lit(Value::Bool(true)), std::move(ands));

  Exp calls = lit(Value::Int(1));
  for (int i = 0; i < kDepth; ++i) {
    std::vector<Exp> args;
    args.push_back(std::move(calls));
    calls = Exp::function(vintrel::FunctionItem::new_("id", std::move(args)));
  }

  vtest::Bindings b;
  b.emplace("k", Json::u(kDepth - 1));
  auto builder = vintrel::EnvBuilder<Json>::new_();
  builder.bind_multiple(std::move(b));
  builder.functions = env_->functions;
  Env<Json> env = std::move(builder).build();

  std::vector<std::string> got;
  vintrel_test::run_on_small_stack([&] {
    for (const Exp* tree : {&nots, &ors, &ands, &calls}) got.push_back(outcome(vintrel::interpreter::eval(*tree, env)));
  });
  EXPECT_EQ(got, (std::vector<std::string>{"ok Bool(true)", "ok Bool(true)", "ok Int(5)", "ok Int(1)"}));
}

}  // namespace
