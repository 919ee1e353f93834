// Compiled matches patterns: the process-wide cache for patterns from the
// data and the per-node compile of literal patterns give exactly the
// answers of a fresh compile, whatever was cached or evicted before.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "functions/compiled_pattern.h"
#include "functions/pattern_cache.h"
#include "test_json.h"
#include "vintrel/functions.h"
#include "vintrel/interpreter.h"
#include "vintrel/parser.h"

namespace {

using vintrel::EvalError;
using vintrel::FnResult;
using vintrel::Value;
using vintrel::detail::CompiledPattern;
using vintrel::detail::PatternCache;

struct Probe {
  const char* pattern;
  const char* text;
};

// Valid and invalid patterns, with and without the spelled-out classes.
const Probe kProbes[] = {
    {"b", "abc"},
    {"^b", "abc"},
    {"", ""},
    {"^\\w+@\\w+\\.\\w+$", "alice@example.com"},
    {"^\\w+@\\w+\\.\\w+$", "not an address"},
    {"^\\d+$", "١٢٣"},
    {"\\s", "a\u3000b"},
    {"[\\W]", "é"},
    {"(", "a"},
    {"(\\d", "1"},
    {"[a-\\d]", "1"},
    {"a(?=b)", "ab"},
    {"\\w{1000}", "a"},
    {"x*", "yyy"},
};

// Result or error text, comparable across calls.
std::string outcome(const FnResult& r) {
  if (!r) return "error " + std::to_string(static_cast<int>(r.error().kind())) + ": " + r.error().text();
  return r->is_bool() ? (r->as_bool() ? "true" : "false") : "not a bool: " + r->debug_string();
}

std::string fresh(const Probe& p) { return outcome(CompiledPattern::compile(p.pattern)->search(p.text)); }
std::string cached(PatternCache& cache, const Probe& p) { return outcome(cache.get(p.pattern)->search(p.text)); }

std::string numbered(const char* stem, size_t i) { return stem + std::to_string(i); }

TEST(PatternCache, AnswersAsAFreshCompileColdWarmAndAfterEviction) {
  // Smaller than the table, so later rounds find some patterns evicted.
  PatternCache cache({4, size_t{1} << 30});
  std::vector<std::string> want;
  for (const Probe& p : kProbes) want.push_back(fresh(p));
  EXPECT_EQ(want[8], "error 5: Invalid regex pattern: 'missing ): ('");
  EXPECT_EQ(want[9], "error 5: Invalid regex pattern: 'missing ): (\\d'");
  const size_t n = std::size(kProbes);
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(cached(cache, kProbes[i]), want[i]) << kProbes[i].pattern;
    for (size_t i = n; i-- > 0;) EXPECT_EQ(cached(cache, kProbes[i]), want[i]) << kProbes[i].pattern;
    // Each pattern twice in a row (warm), then a stride that interleaves.
    for (size_t i = 0; i < n; ++i) {
      size_t j = (i * 5) % n;
      EXPECT_EQ(cached(cache, kProbes[j]), want[j]) << kProbes[j].pattern;
      EXPECT_EQ(cached(cache, kProbes[j]), want[j]) << kProbes[j].pattern;
    }
  }
  EXPECT_LE(cache.entries(), 4u);
}

TEST(PatternCache, KeepsWithinItsBoundsWhateverComesThrough) {
  PatternCache by_count({8, size_t{1} << 30, 2});
  // Room for a few class-heavy patterns per shard.
  PatternCache by_bytes({100000, 512 << 10, 2});
  for (size_t i = 0; i < 150; ++i) {
    // A plain pattern, a class-heavy one and one that does not compile.
    const std::string text = numbered("a", i);
    for (std::string p : {numbered("^a", i) + "$", numbered("^\\w+", i) + "$", numbered("(", i)}) {
      const std::string want = outcome(CompiledPattern::compile(p)->search(text));
      for (PatternCache* c : {&by_count, &by_bytes}) EXPECT_EQ(outcome(c->get(p)->search(text)), want) << p;
    }
    ASSERT_LE(by_count.entries(), 8u);
    ASSERT_LE(by_bytes.bytes(), size_t{512} << 10);
  }
  EXPECT_GT(by_bytes.entries(), 8u);
}

TEST(PatternCache, EvictsTheLeastRecentlyUsed) {
  PatternCache cache({3, size_t{1} << 30});
  auto a = cache.get("a"), b = cache.get("b"), c = cache.get("c");
  EXPECT_EQ(cache.get("a"), a);  // a is now the most recent
  cache.get("d");                // so b goes
  EXPECT_EQ(cache.get("a"), a);
  EXPECT_EQ(cache.get("c"), c);
  EXPECT_NE(cache.get("b"), b);
  EXPECT_EQ(cache.entries(), 3u);
}

TEST(PatternCache, APatternInUseOutlivesItsEviction) {
  PatternCache cache({2, size_t{1} << 30});
  auto held = cache.get("^\\w+@\\w+$");
  for (size_t i = 0; i < 50; ++i) cache.get(numbered("x", i));
  EXPECT_EQ(outcome(held->search("é@x")), "true");
}

TEST(PatternCache, APatternLargerThanItsShareIsCompiledButNotKept) {
  PatternCache cache({100, 4096});
  EXPECT_EQ(cached(cache, {"^\\w+$", "é"}), "true");
  EXPECT_EQ(cache.entries(), 0u);
  EXPECT_EQ(cached(cache, {"^a$", "a"}), "true");
  EXPECT_EQ(cache.entries(), 1u);
}

TEST(PatternCache, ThreadsShareAndEvictWithoutChangingAnswers) {
  // Tiny, so that the evicting threads keep replacing what the others use.
  PatternCache cache({4, size_t{1} << 30, 2});
  std::vector<std::string> want;
  for (const Probe& p : kProbes) want.push_back(fresh(p));
  const size_t n = std::size(kProbes);
  std::atomic<size_t> wrong{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < 40; ++round) {
        if (t == 0 || t == 1) {  // the same pattern as each other
          if (cached(cache, kProbes[3]) != want[3]) ++wrong;
        } else if (t < 4) {  // every pattern, each thread in its own order
          size_t j = (round * (t + 2)) % n;
          if (cached(cache, kProbes[j]) != want[j]) ++wrong;
        } else {  // patterns nobody else uses, forcing evictions
          auto p = numbered("^e", t * 1000 + round);
          if (outcome(cache.get(p)->search(p.substr(1))) != "true") ++wrong;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0u);
  EXPECT_LE(cache.entries(), 4u);
}

// ---------------------------------------------------------------------------
// A literal pattern, compiled once per node.

vintrel::Exp parse(const char* text) {
  auto r = vintrel::parse_exp(text);
  EXPECT_TRUE(r.has_value()) << text;
  return std::move(r->value).into_owned();
}

TEST(LiteralPattern, OnlyMatchesWithALiteralPatternPreparesOne) {
  struct Case {
    const char* exp;
    bool prepared;
  };
  const Case cases[] = {
      {"matches(s, '^a')", true},  {"matches(s, \"(\")", true},  {"matches(s, r'\\d')", true}, {"matches(s, p)", false},
      {"matches('^a', s)", false}, {"matches(s, 1)", false},    {"matches(s, 'a', 'b')", false},
      {"replace(s, 'a', 'b')", false},
  };
  for (const Case& c : cases) {
    vintrel::Exp e = parse(c.exp);
    EXPECT_EQ(e.as_function().literal_pattern != nullptr, c.prepared) << c.exp;
  }
  EXPECT_EQ(parse("matches(s, 'a')"), parse("matches(s,'a')"));
  EXPECT_FALSE(parse("matches(s, 'a')") == parse("matches(s, 'b')"));
}

TEST(LiteralPattern, CopiesShareOneCompileAndFailuresRepeatTheirText) {
  vintrel::Exp original = parse("[matches(s, r'^\\w+$'), matches(s, r'(\\d')]");
  vintrel::Exp copy = original;
  const auto& items = original.as_array();
  const auto& copied = copy.as_array();
  for (size_t i = 0; i < 2; ++i) {
    const auto& lit = items[i].as_function().literal_pattern;
    ASSERT_NE(lit, nullptr);
    EXPECT_EQ(lit, copied[i].as_function().literal_pattern);
    EXPECT_EQ(&lit->compiled(), &copied[i].as_function().literal_pattern->compiled());
  }
  vtest::Bindings b;
  b.emplace("s", vtest::Json::str("é٣"));
  auto env = vtest::make_env(std::move(b));
  for (const vintrel::Exp* e : {&original, &copy, &original}) {
    auto first = vintrel::interpreter::eval(e->as_array()[0], env);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->get().as_bool());
    auto second = vintrel::interpreter::eval(e->as_array()[1], env);
    ASSERT_FALSE(second.has_value());
    EXPECT_EQ(second.error().message(),
              "Error calling function 'matches': Regex Error: Invalid regex pattern: 'missing ): (\\d'");
  }
}

TEST(LiteralPattern, ArgumentsOtherThanTheLiteralAreMatchedAsGiven) {
  vintrel::Exp e = parse("matches(s, 'a')");
  const vintrel::FunctionItem& node = e.as_function();
  std::vector<Value> args{Value::String(vintrel::CowStr::Borrowed("b")), Value::String(vintrel::CowStr::Borrowed("b"))};
  FnResult r = vintrel::functions::matches(vintrel::FnArgs(args, &node));
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->as_bool());
  std::vector<Value> wrong_kind{Value::Int(1), Value::String(vintrel::CowStr::Borrowed("a"))};
  r = vintrel::functions::matches(vintrel::FnArgs(wrong_kind, &node));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), EvalError::Kind::TypeError);
}

TEST(LiteralPattern, ThreadsEvaluatingOneTreeGetOneAnswer) {
  // Fresh patterns, so that the threads race for the first compile.
  vintrel::Exp e = parse("[matches(s, r'^\\w+@\\w+\\.\\w+$|first race'), matches(s, r'^\\d|first race')]");
  const Value want = Value::Array(std::vector<Value>{Value::Bool(true), Value::Bool(false)});
  std::atomic<size_t> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      vtest::Bindings b;
      b.emplace("s", vtest::Json::str("alice@example.com"));
      auto env = vtest::make_env(std::move(b));
      for (int i = 0; i < 50; ++i) {
        auto r = vintrel::interpreter::eval(e, env);
        if (!r || !(r->get() == want)) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0u);
}

}  // namespace
