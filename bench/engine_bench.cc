// Evaluation in the engine alone: each tree is parsed once and evaluated
// over and over, the way Exp.eval uses a compiled expression.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_json.h"
#include "vintrel/interpreter.h"
#include "vintrel/parser.h"
#include "vintrel/path.h"

namespace {

using vintrel::Env;
using vintrel::Exp;
using vtest::Json;

Exp parse_or_die(const char* text) {
  auto r = vintrel::parse_exp(text);
  if (!r) {
    std::fprintf(stderr, "bench: does not parse: %s\n", text);
    std::abort();
  }
  return std::move(r->value).into_owned();
}

vtest::Bindings record_bindings() {
  vtest::Bindings b;
  b.emplace("a", Json::u(1));
  b.emplace("user", Json::obj({{"name", Json::str("Alice")},
                               {"age", Json::u(34)},
                               {"email", Json::str("alice@example.org")},
                               {"roles", Json::arr({Json::str("dev"), Json::str("admin")})},
                               {"active", Json::boolean(true)},
                               {"score", Json::f(87.5)},
                               {"team", Json::str("core")},
                               {"manager", Json::null()}}));
  return b;
}

void eval_loop(benchmark::State& state, const char* text) {
  Exp tree = parse_or_die(text);
  Env<Json> env = vtest::make_env(record_bindings());
  auto first = vintrel::interpreter::eval(tree, env);
  if (!first) {
    std::fprintf(stderr, "bench: %s fails: %s\n", text, first.error().message().c_str());
    std::abort();
  }
  for (auto _ : state) {
    auto r = vintrel::interpreter::eval(tree, env);
    benchmark::DoNotOptimize(r);
  }
}

void BM_Tiny(benchmark::State& s) { eval_loop(s, "a == 1"); }
void BM_Rule(benchmark::State& s) {
  eval_loop(s, "user.age >= 18 && startsWith(user.name, 'A') && contains(user.roles, 'admin')");
}
void BM_Text(benchmark::State& s) {
  eval_loop(s, "format('{0} <{1}>', user.name, join(split(user.email, '@'), ' at '))");
}
// A few dozen nodes of operators and literals: the loop's own cost per node.
void BM_OrChain(benchmark::State& s) {
  eval_loop(s, "a == 9 || a == 8 || a == 7 || a == 6 || a == 5 || a == 4 || a == 3 || a == 2 || a == 1");
}
void BM_Literals(benchmark::State& s) { eval_loop(s, "{'k': [1, 2, 'x'], 'b': !false, 'c': [user.team]}"); }

// What one Exp.eval does besides converting Python objects: bind, build, eval.
void BM_RuleWithEnvBuild(benchmark::State& state) {
  Exp tree = parse_or_die("user.age >= 18 && startsWith(user.name, 'A') && contains(user.roles, 'admin')");
  vtest::Bindings proto = record_bindings();
  for (auto _ : state) {
    vtest::Bindings b = proto;
    auto builder = vintrel::EnvBuilder<Json>::new_();
    builder.bind_multiple(std::move(b));
    Env<Json> env = std::move(builder).build();
    auto r = vintrel::interpreter::eval(tree, env);
    benchmark::DoNotOptimize(r);
  }
}

void BM_PathFromBindings(benchmark::State& state) {
  Env<Json> env = vtest::make_env(record_bindings());
  vintrel::VarAccess path{{vintrel::VarName{"user", {}}, vintrel::VarName{"roles", 1}}};
  for (auto _ : state) {
    auto r = path.access_from_bindings(env);
    benchmark::DoNotOptimize(r);
  }
}

BENCHMARK(BM_Tiny);
BENCHMARK(BM_Rule);
BENCHMARK(BM_Text);
BENCHMARK(BM_OrChain);
BENCHMARK(BM_Literals);
BENCHMARK(BM_RuleWithEnvBuild);
BENCHMARK(BM_PathFromBindings);

}  // namespace

BENCHMARK_MAIN();
