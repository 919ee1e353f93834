#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "small_stack.h"
#include "vintrel/exp.h"
#include "vintrel/panic.h"

using vintrel::CowStr;
using vintrel::Exp;
using vintrel::FunctionItem;
using vintrel::Value;
using vintrel::VarAccess;
using vintrel::VarName;

namespace {

Exp var(std::string name) { return Exp::variable(VarAccess::new_({VarName{std::move(name), std::nullopt}})); }
Exp lit_int(int64_t i) { return Exp::value(Value::Int(i)); }
Exp lit_float(double f) { return Exp::value(Value::Float(f)); }
Exp lit_str(std::string_view s) { return Exp::value(Value::String(CowStr::Borrowed(s))); }
Exp lit_owned(std::string s) { return Exp::value(Value::String(CowStr::Owned(std::move(s)))); }

template <class... A>
std::vector<Exp> list(A&&... a) {
  std::vector<Exp> v;
  (v.push_back(std::forward<A>(a)), ...);
  return v;
}
template <class... A>
Exp call(std::string_view name, A&&... a) {
  return Exp::function(FunctionItem::new_(name, list(std::forward<A>(a)...)));
}
Exp object(std::vector<std::pair<std::string, Exp>> entries) {
  return Exp::object(Exp::ExpObject::from_entries(std::move(entries)));
}
std::vector<std::pair<std::string, Exp>> entries() { return {}; }
template <class... A>
std::vector<std::pair<std::string, Exp>> entries(std::string k, Exp v, A&&... rest) {
  auto e = entries(std::forward<A>(rest)...);
  e.insert(e.begin(), {std::move(k), std::move(v)});
  return e;
}

// Every literal string in the tree is owned.
bool all_owned(const Exp& e) {
  std::vector<const Exp*> stack{&e};
  auto value_owned = [](const Value& v, auto&& self) -> bool {
    if (v.is_string()) return v.as_cow_str().is_owned();
    if (v.is_array())
      for (const auto& x : v.as_array())
        if (!self(x, self)) return false;
    if (v.is_object())
      for (const auto& x : v.as_object())
        if (!self(x.second, self)) return false;
    return true;
  };
  while (!stack.empty()) {
    const Exp* n = stack.back();
    stack.pop_back();
    switch (n->kind()) {
      case Exp::Kind::Value:
        if (!value_owned(n->as_value(), value_owned)) return false;
        break;
      case Exp::Kind::Function:
        for (const auto& a : n->as_function().args) stack.push_back(&a);
        break;
      case Exp::Kind::Variable: break;
      case Exp::Kind::Not: stack.push_back(&n->operand()); break;
      case Exp::Kind::Array:
        for (const auto& a : n->as_array()) stack.push_back(&a);
        break;
      case Exp::Kind::Object:
        for (const auto& a : n->as_object()) stack.push_back(&a.second);
        break;
      default:
        stack.push_back(&n->left());
        stack.push_back(&n->right());
    }
  }
  return true;
}

}  // namespace

TEST(ExpFactories, BuildTheirKinds) {
  struct Case {
    Exp e;
    Exp::Kind k;
  };
  const Case cases[] = {
      {Exp::gt(var("a"), var("b")), Exp::Kind::Gt},     {Exp::lt(var("a"), var("b")), Exp::Kind::Lt},
      {Exp::geq(var("a"), var("b")), Exp::Kind::Geq},   {Exp::leq(var("a"), var("b")), Exp::Kind::Leq},
      {Exp::eq(var("a"), var("b")), Exp::Kind::Eq},     {Exp::neq(var("a"), var("b")), Exp::Kind::Neq},
      {Exp::or_(var("a"), var("b")), Exp::Kind::Or},    {Exp::and_(var("a"), var("b")), Exp::Kind::And},
      {Exp::not_(var("a")), Exp::Kind::Not},            {Exp::array({}), Exp::Kind::Array},
      {Exp::object({}), Exp::Kind::Object},             {call("f"), Exp::Kind::Function},
  };
  for (const auto& c : cases) EXPECT_EQ(c.e.kind(), c.k);
  Exp g = Exp::gt(var("a"), lit_int(1));
  EXPECT_EQ(g.left(), var("a"));
  EXPECT_EQ(g.right(), lit_int(1));
  EXPECT_THROW(Exp::binary(Exp::Kind::Not, var("a"), var("b")), vintrel::Panic);
}

TEST(ExpEquality, Table) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::string src = "text";
  struct Case {
    Exp a, b;
    bool equal;
    const char* what;
  };
  const Case cases[] = {
      {Exp::lt(var("a"), var("b")), Exp::gt(var("b"), var("a")), false, "a < b against b > a"},
      {Exp::lt(var("a"), var("b")), Exp::lt(var("a"), var("b")), true, "same comparison"},
      {Exp::not_(var("a")), Exp::eq(var("a"), Exp::value(Value::Bool(false))), false, "!a against a == false"},
      {lit_int(1), lit_float(1.0), false, "1 against 1.0"},
      {lit_float(0.0), lit_float(-0.0), true, "signed zeros"},
      {lit_float(nan), lit_float(nan), false, "NaN literal"},
      {lit_str(src), lit_owned("text"), true, "borrowed against owned literal"},
      {object(entries("b", lit_int(1), "a", lit_int(2))), object(entries("a", lit_int(2), "b", lit_int(1))), true,
       "object key order"},
      {object(entries("a", lit_int(1))), object(entries("b", lit_int(1))), false, "object keys"},
      {object(entries("a", lit_int(1))), object(entries("a", lit_int(2))), false, "object values"},
      {call("f", var("a")), call("f", var("a"), var("b")), false, "argument count"},
      {call("f", var("a")), call("g", var("a")), false, "function name"},
      {call("f"), call("f"), true, "calls without arguments"},
      {Exp::array({}), Exp::array({}), true, "empty arrays"},
      {Exp::object({}), Exp::object({}), true, "empty objects"},
      {Exp::array({}), Exp::object({}), false, "array against object"},
      {Exp::array(list(lit_int(1), lit_int(2))), Exp::array(list(lit_int(2), lit_int(1))), false, "array order"},
      {var("a"), Exp::variable(VarAccess::new_({VarName{"a", 0}})), false, "a against a[0]"},
      {Exp::and_(var("a"), Exp::or_(var("b"), var("c"))), Exp::and_(var("a"), Exp::or_(var("b"), var("c"))), true,
       "nested"},
      {Exp::and_(var("a"), Exp::or_(var("b"), var("c"))), Exp::and_(var("a"), Exp::or_(var("b"), var("d"))), false,
       "deepest right operand"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.what;
    EXPECT_EQ(c.b == c.a, c.equal) << c.what;
  }
}

namespace {
// One tree with a string literal at every kind of position.
Exp mixed_tree(std::string_view s) {
  auto lit = [&](size_t from, size_t n) { return lit_str(s.substr(from, n)); };
  return Exp::and_(
      call("f", lit(0, 3), Exp::array(list(lit(4, 3), Exp::not_(lit(8, 2))))),
      Exp::or_(object(entries("k", lit(11, 4), "a", Exp::value(Value::Array({Value::String(CowStr::Borrowed(s))})))),
               Exp::leq(var("x"), lit(0, 1))));
}
}  // namespace

TEST(ExpIntoOwned, DetachesEveryLiteralFromFreedSource) {
  auto source = std::make_unique<std::string>("abc def gh ijkl");
  Exp tree = mixed_tree(*source);
  EXPECT_FALSE(all_owned(tree));
  Exp detached = std::move(tree).into_owned();
  source.reset();  // the borrowed bytes are gone
  std::string fresh = "abc def gh ijkl";
  EXPECT_TRUE(all_owned(detached));
  EXPECT_EQ(detached, mixed_tree(fresh));
  std::vector<std::string> keys;
  for (const auto& e : detached.right().left().as_object()) keys.push_back(e.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "k"}));
}

TEST(ExpIntoOwned, EmptyContainersAndOwnedTrees) {
  Exp t = Exp::array(list(Exp::array({}), Exp::object({}), call("now")));
  Exp c = t;
  EXPECT_EQ(c, t);
  Exp o = std::move(c).into_owned();
  EXPECT_EQ(o, t);
}

TEST(ExpCopy, BorrowedLiteralStaysBorrowedAndOwnedCopyOutlivesSource) {
  std::string src = "some literal text beyond the small buffer";
  Exp t = Exp::eq(var("a"), lit_str(src));
  Exp c = t;
  EXPECT_EQ(c, t);
  EXPECT_EQ(c.right().as_value().as_cow_str().data(), src.data());

  auto owned_tree = std::make_unique<Exp>(mixed_tree(src));
  *owned_tree = std::move(*owned_tree).into_owned();
  Exp copy = *owned_tree;
  owned_tree.reset();
  EXPECT_EQ(copy, mixed_tree(src));
  EXPECT_TRUE(all_owned(copy));

  Exp assigned = var("z");
  assigned = copy;
  EXPECT_EQ(assigned, copy);
}

TEST(ExpAssign, MoveFromOwnChild) {
  Exp t = Exp::not_(Exp::and_(var("a"), call("f", lit_int(1))));
  // The source is a node inside the tree being replaced.
  t = std::move(**std::get_if<std::unique_ptr<Exp>>(&t.payload_mut()));
  EXPECT_EQ(t, Exp::and_(var("a"), call("f", lit_int(1))));
  t = std::move(*std::get_if<Exp::Binary>(&t.payload_mut())->right);
  EXPECT_EQ(t, call("f", lit_int(1)));
}

// A machine-built chain such as x == 0 || x == 1 || ... is as deep as it is
// long; every walk must run on a small stack.
// A host attaches its own keys to the paths of a tree it owns; a copy of
// the tree may outlive the host's object, so it starts without them.
TEST(ExpHostKeys, EveryVariableReachedAndCopiesStartWithout) {
  Exp tree = Exp::and_(call("f", var("a"), object(entries("k", var("b")))), Exp::array(list(var("c"), lit_int(1))));
  static const int kMarker = 0;
  std::vector<std::string> seen;
  vintrel::for_each_variable(tree, [&](VarAccess& v) {
    seen.push_back(v.names[0].name);
    v.names[0].host_key.attach(&kMarker);
  });
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));

  Exp copy = tree;
  EXPECT_TRUE(copy == tree);  // keys are not part of the tree
  auto keys = [](Exp& e) {
    std::vector<const void*> out;
    vintrel::for_each_variable(e, [&](VarAccess& v) { out.push_back(v.names[0].host_key.get()); });
    return out;
  };
  EXPECT_EQ(keys(copy), (std::vector<const void*>(3, nullptr)));
  EXPECT_EQ(keys(tree), (std::vector<const void*>(3, &kMarker)));
  Exp moved = std::move(tree);
  EXPECT_EQ(keys(moved), (std::vector<const void*>(3, &kMarker)));
}

TEST(ExpDeep, LongChainsOnSmallStack) {
  vintrel_test::run_on_small_stack([] {
    constexpr int kLen = 100000;
    auto or_chain = [](bool left_leaning) {
      Exp e = Exp::eq(var("x"), lit_int(0));
      for (int i = 1; i < kLen; ++i) {
        Exp term = Exp::eq(var("x"), lit_int(i));
        e = left_leaning ? Exp::or_(std::move(e), std::move(term)) : Exp::or_(std::move(term), std::move(e));
      }
      return e;
    };
    for (bool left : {true, false}) {
      Exp a = or_chain(left);
      Exp b = a;
      EXPECT_TRUE(a == b);
      Exp c = std::move(b).into_owned();
      EXPECT_TRUE(c == a);
      Exp d = or_chain(!left);
      EXPECT_FALSE(d == a);
    }
  });
}

TEST(ExpDeep, NestedContainersAndCallsOnSmallStack) {
  vintrel_test::run_on_small_stack([] {
    constexpr int kDepth = 100000;
    auto nested = [](int kind) {
      std::string leaf_text = "leaf";
      Exp e = lit_owned(leaf_text);
      for (int i = 0; i < kDepth; ++i) {
        switch (kind) {
          case 0: e = Exp::not_(std::move(e)); break;
          case 1: e = Exp::array(list(std::move(e))); break;
          case 2: e = object(entries("k", std::move(e))); break;
          default: e = call("f", std::move(e)); break;
        }
      }
      return e;
    };
    for (int kind = 0; kind < 4; ++kind) {
      Exp a = nested(kind);
      Exp b = a;
      EXPECT_TRUE(a == b) << kind;
      Exp c = std::move(b).into_owned();
      EXPECT_TRUE(c == a) << kind;
      Exp other = nested((kind + 1) % 4);
      EXPECT_FALSE(other == a) << kind;
      other = std::move(a);  // replaces one deep tree by another
    }
  });
}
