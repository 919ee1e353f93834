// The nesting bound, and long operator chains that are no nesting at all.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "parser_test_util.h"
#include "small_stack.h"
#include "vintrel/parser.h"

namespace {

using namespace parser_test;
using vintrel::ErrorKind;
using vintrel::kMaxNesting;

// The parser must fit in a 1 MiB native stack at the bound; ASan's
// redzones make every frame several times larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStack = 4 * 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr size_t kStack = 4 * 1024 * 1024;
#else
constexpr size_t kStack = 1024 * 1024;
#endif
#else
constexpr size_t kStack = 1024 * 1024;
#endif

struct Nesting {
  const char* name;
  const char* open;
  const char* close;
};

// Each opener makes its inner text one more level of parse_exp.
const Nesting kNestings[] = {
    {"array", "[", "]"},
    {"parentheses", "(", ")"},
    {"call", "f(", ")"},
    {"object", "{'a': ", "}"},
    {"call with spaces", "f( ", " )"},
};

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

// `levels` levels of parse_exp, the innermost holding a borrowed literal.
std::string nested(const Nesting& n, int levels, const std::string& inner = "r'x'") {
  return repeat(n.open, levels - 1) + inner + repeat(n.close, levels - 1);
}

// Every kind of nesting in turn, so that no single level shape is tested alone.
std::string mixed(int levels) {
  std::string open, close;
  for (int k = 0; k < levels - 1; ++k) {
    const Nesting& n = kNestings[k % 4];
    open += n.open;
    close.insert(0, n.close);
  }
  open += "r'x'";
  open += close;
  return open;
}

TEST(ParserDepth, AcceptsTheBoundAndFailsOneLevelBeyond) {
  for (const Nesting& n : kNestings) {
    SCOPED_TRACE(n.name);
    const std::string ok = nested(n, kMaxNesting);
    auto r = vintrel::parse_exp(ok);
    ASSERT_TRUE(r.has_value()) << vintrel::error_kind_name(r.error().kind);
    EXPECT_TRUE(is_suffix(ok, r->rest, ""));

    // The failure points at the text where the entry too many was attempted.
    const std::string deep = nested(n, kMaxNesting + 1);
    const std::string at = "r'x'" + repeat(n.close, kMaxNesting);
    EXPECT_TRUE(fails_with(vintrel::parse_exp(deep), deep, ErrorKind::TooLarge, at));
  }
  EXPECT_TRUE(vintrel::parse_exp(mixed(kMaxNesting)).has_value());
  const std::string deep = mixed(kMaxNesting + 1);
  auto r = vintrel::parse_exp(deep);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, ErrorKind::TooLarge);
}

TEST(ParserDepth, EmptyInnermostContainersStillCount) {
  // An empty list still attempts its first item one level deeper.
  const std::string ok = repeat("[", kMaxNesting - 1) + repeat("]", kMaxNesting - 1);
  EXPECT_TRUE(vintrel::parse_exp(ok).has_value());
  const std::string deep = repeat("f(", kMaxNesting) + repeat(")", kMaxNesting);
  EXPECT_TRUE(fails_with(vintrel::parse_exp(deep), deep, ErrorKind::TooLarge, repeat(")", kMaxNesting)));
}

TEST(ParserDepth, TooLargeSurvivesEveryPlaceThatForgetsFailures) {
  const std::string tail = "r'x'" + repeat("]", kMaxNesting);
  const std::string too_deep = repeat("[", kMaxNesting) + tail;  // one level too many by itself
  const std::string one_short = repeat("[", kMaxNesting - 1) + tail;  // too many one level down
  const std::vector<std::string> texts = {
      "a == " + too_deep,               // an operand after == is given back
      "a != " + too_deep,               // likewise after !=
      "[1, " + one_short + "]",         // a list item after a comma ends the list
      "[" + one_short + "]",            // a first list item leaves the list empty
      "f(" + one_short + ")",           // a failed call falls back to the variable f
      "f(1, " + one_short + ")",
      "{'k': " + one_short + "}",       // a failed entry ends the entry list
      "{'j': 1, 'k': " + one_short + "}",
      "(" + one_short + ")",
      "x || !" + too_deep,
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 20));
    EXPECT_TRUE(fails_with(vintrel::parse_exp(text), text, ErrorKind::TooLarge, text.substr(text.find("r'x'"))));
  }
}

// Parsing at the bound, and every walk over the tree it builds, fits a
// small native stack.
TEST(ParserDepth, DeepestTreesFitASmallStack) {
  vintrel_test::run_on_small_stack(
      [] {
        std::vector<std::string> texts;
        for (const Nesting& n : kNestings) texts.push_back(nested(n, kMaxNesting));
        texts.push_back(mixed(kMaxNesting));
        for (const std::string& text : texts) {
          auto r = vintrel::parse_exp(text);
          ASSERT_TRUE(r.has_value());
          Exp copy = r->value;
          EXPECT_TRUE(copy == r->value);
          Exp owned = std::move(r->value).into_owned();
          EXPECT_TRUE(owned == copy);
          auto again = vintrel::parse_exp(text);
          ASSERT_TRUE(again.has_value());
          EXPECT_TRUE(again->value == owned);
          // One level beyond fails just as cleanly.
          const std::string deep = "[" + text + "]";
          auto bad = vintrel::parse_exp(deep);
          ASSERT_FALSE(bad.has_value());
          EXPECT_EQ(bad.error().kind, ErrorKind::TooLarge);
        }
      },
      kStack);
}

// `count` operands joined by `op`: "x0 op x1 op ...".
std::string chain(const char* op, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) {
    if (k) out += op;
    out += 'x';
    out += static_cast<char>('0' + k % 10);
  }
  return out;
}

// The number of `kind` nodes down the left spine of a left-grouped chain.
size_t left_spine(const Exp& e, Exp::Kind kind) {
  size_t n = 0;
  for (const Exp* p = &e; p->kind() == kind; p = &p->left()) ++n;
  return n;
}

TEST(ParserChains, AMachineMadeDisjunctionIsNoNesting) {
  std::string text;
  for (int k = 1; k <= 1000; ++k) {
    if (k > 1) text += " || ";
    text += "x == " + std::to_string(k);
  }
  auto r = vintrel::parse_exp(text);
  ASSERT_TRUE(r.has_value()) << vintrel::error_kind_name(r.error().kind);
  EXPECT_TRUE(is_suffix(text, r->rest, ""));
  EXPECT_EQ(left_spine(r->value, Exp::Kind::Or), 999u);
  EXPECT_TRUE(r->value.right() == Exp::eq(var("x"), i(1000)));
}

TEST(ParserChains, LongChainsParseOnASmallStack) {
  vintrel_test::run_on_small_stack(
      [] {
        const std::pair<const char*, Exp::Kind> ops[] = {
            {" || ", Exp::Kind::Or}, {"&&", Exp::Kind::And}, {" < ", Exp::Kind::Lt}, {">=", Exp::Kind::Geq}};
        for (const auto& [op, kind] : ops) {
          const std::string text = chain(op, 100000);
          auto r = vintrel::parse_exp(text);
          ASSERT_TRUE(r.has_value()) << op;
          EXPECT_TRUE(r->rest.empty());
          EXPECT_EQ(left_spine(r->value, kind), 99999u) << op;
          Exp copy = r->value;
          Exp owned = std::move(r->value).into_owned();
          EXPECT_TRUE(copy == owned) << op;
        }
        // A long chain inside the deepest nesting.
        const std::string text = repeat("[", kMaxNesting - 1) + chain(" || ", 100000) + repeat("]", kMaxNesting - 1);
        EXPECT_TRUE(vintrel::parse_exp(text).has_value());
      },
      kStack);
}

}  // namespace
