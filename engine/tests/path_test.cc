#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_json.h"
#include "vintrel/panic.h"
#include "vintrel/path.h"

namespace {

using vintrel::VarAccess;
using vintrel::VarAccessError;
using vintrel::VarName;
using vtest::describe;
using vtest::Json;

// "a.b[2].c" -> names; enough for the plain paths of these tests.
VarAccess path(std::string_view text) {
  std::vector<VarName> names;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t dot = text.find('.', pos);
    std::string_view seg = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    VarName n;
    size_t br = seg.find('[');
    n.name = std::string(seg.substr(0, br));
    if (br != std::string_view::npos) n.index = std::stoull(std::string(seg.substr(br + 1)));
    names.push_back(std::move(n));
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  return VarAccess{std::move(names)};
}

template <class T>
std::string outcome(const vintrel::Expected<const T*, VarAccessError>& r) {
  return r ? "ok " + (*r)->debug_string() : describe(r.error());
}

Json ab7() { return Json::obj({{"a", Json::obj({{"b", Json::u(7)}})}}); }
Json ab12() { return Json::obj({{"a", Json::obj({{"b", Json::arr({Json::u(1), Json::u(2)})}})}}); }

struct RootCase {
  const char* path;
  Json root;
  std::string want;
};

TEST(PathAccessNames, WalksFromTheRoot) {
  const std::vector<RootCase> cases = {
      {"a.b", ab7(), "ok UInt(7)"},
      {"a.b[1]", ab12(), "ok UInt(2)"},
      {"a", Json::arr({Json::u(1)}), "KeyNotFound: <root> / a"},
      {"a.c", ab7(), "KeyNotFound: a / c"},
      {"a.b.c", ab7(), "KeyNotFound: a.b / c"},
      {"a.b[3]", ab7(), "TypeError: Expected array at 'a', found UInt(7)"},
      {"a.b[5]", ab12(), "IndexOutOfBounds: Index out of bounds at 'a' (index: 5, length: 2)"},
      {"x[1]", Json::obj({{"x", Json::u(4)}}), "TypeError: Expected array at '<root>', found UInt(4)"},
      {"a[0]", Json::obj({{"a", Json::arr({})}}), "IndexOutOfBounds: Index out of bounds at '<root>' (index: 0, length: 0)"},
      {"a[0].b", Json::obj({{"a", Json::arr({Json::u(5)})}}), "KeyNotFound: a[0] / b"},
      {"a.b[2]", Json::obj({{"a", Json::obj({{"b", Json::obj({{"k", Json::null()}})}})}}),
       "TypeError: Expected array at 'a', found Object({\"k\": Null})"},
  };
  for (const auto& c : cases) {
    VarAccess p = path(c.path);
    EXPECT_EQ(outcome(VarAccess::access_names(p.names, c.root, false)), c.want) << c.path;
  }
}

TEST(PathAccessNames, ReturnsAReferenceIntoTheValue) {
  Json root = ab12();
  VarAccess p = path("a.b[1]");
  auto r = VarAccess::access_names(p.names, root, false);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, &(*root.as_object()->find("a")->second.as_object()->find("b")->second.as_array())[1]);
}

TEST(PathAccessNames, DottedNameIsOneKeyButShowsUnquoted) {
  Json root = Json::obj({{"a", Json::obj({{"b.c", Json::u(1)}, {"b", Json::obj({{"c", Json::u(2)}})}})}});
  VarAccess p{{VarName{"a", {}}, VarName{"b.c", {}}}};
  EXPECT_EQ(outcome(VarAccess::access_names(p.names, root, false)), "ok UInt(1)");
  VarAccess deeper{{VarName{"a", {}}, VarName{"b.c", {}}, VarName{"d", {}}}};
  EXPECT_EQ(outcome(VarAccess::access_names(deeper.names, root, false)), "KeyNotFound: a.b.c / d");
}

struct BindingCase {
  const char* path;
  const char* name;
  Json bound;
  std::string want;
};

TEST(PathAccessFromBindings, FirstNameSelectsTheBinding) {
  Json b12 = Json::obj({{"b", Json::arr({Json::u(1), Json::u(2)})}});
  const std::vector<BindingCase> cases = {
      {"a", "a", Json::u(3), "ok UInt(3)"},
      {"a[1]", "a", Json::arr({Json::u(1), Json::u(2)}), "ok UInt(2)"},
      {"a[0].b", "a", Json::arr({Json::obj({{"b", Json::u(1)}})}), "ok UInt(1)"},
      {"q.r", "a", ab7(), "NotFound: q"},
      {"q[0]", "a", ab7(), "NotFound: q"},
      {"a.b[5]", "a", b12, "IndexOutOfBounds: Index out of bounds at 'a' (index: 5, length: 2)"},
      {"a[2]", "a", Json::arr({Json::u(1)}), "IndexOutOfBounds: Index out of bounds at 'a[2]' (index: 2, length: 1)"},
      {"b[3]", "b", Json::u(7), "TypeError: Expected array at 'b[3]', found UInt(7)"},
      {"a.b", "a", Json::arr({Json::u(1)}), "KeyNotFound: a / b"},
      {"a[0].b", "a", Json::arr({Json::u(5)}), "KeyNotFound: a[0] / b"},
      {"a.b.c", "a", Json::obj({{"b", Json::obj({})}}), "KeyNotFound: a.b / c"},
  };
  for (const auto& c : cases) {
    vtest::Bindings b;
    b.emplace(c.name, c.bound);
    auto env = vtest::make_env(std::move(b));
    EXPECT_EQ(outcome(path(c.path).access_from_bindings(env)), c.want) << c.path;
  }
}

TEST(PathAccessFromBindings, OneNameIsTheBoundValueItself) {
  vtest::Bindings b;
  b.emplace("a", Json::str("x"));
  auto env = vtest::make_env(std::move(b));
  auto r = path("a").access_from_bindings(env);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, env.lookup(vintrel::VarName{"a"}));
}

TEST(PathReplace, SwapsOneSlotAndKeepsKeyOrder) {
  Json v = Json::obj({{"a", Json::obj({{"b", Json::u(1)}, {"z", Json::u(2)}})}});
  auto old = path("a.b").replace(v, Json::u(9));
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, Json::u(1));
  EXPECT_EQ(v, Json::obj({{"a", Json::obj({{"b", Json::u(9)}, {"z", Json::u(2)}})}}));

  Json list = Json::obj({{"a", Json::arr({Json::u(1), Json::u(2)})}});
  auto elem = path("a[1]").replace(list, Json::str("n"));
  ASSERT_TRUE(elem);
  EXPECT_EQ(*elem, Json::u(2));
  EXPECT_EQ(list, Json::obj({{"a", Json::arr({Json::u(1), Json::str("n")})}}));
}

TEST(PathReplace, FailuresLeaveTheValueUnchanged) {
  struct Case {
    const char* path;
    Json value;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"a.q", Json::obj({{"a", Json::obj({{"b", Json::u(1)}})}}), "KeyNotFound: a / q"},
      {"a.b[3]", ab7(), "TypeError: Expected array at 'a'"},
      {"a[2]", Json::obj({{"a", Json::arr({Json::u(1), Json::u(2)})}}),
       "IndexOutOfBounds: Index out of bounds at '<root>' (index: 2, length: 2)"},
      {"x", Json::arr({}), "KeyNotFound: <root> / x"},
  };
  for (const auto& c : cases) {
    Json v = c.value;
    auto r = path(c.path).replace(v, Json::u(9));
    ASSERT_FALSE(r) << c.path;
    EXPECT_EQ(describe(r.error()), c.want) << c.path;
    EXPECT_EQ(v, c.value) << c.path;
  }
}

TEST(PathEmpty, EveryWalkStops) {
  VarAccess empty{};
  Json v = ab7();
  auto expect_stop = [](auto&& f) {
    try {
      f();
      ADD_FAILURE() << "no stop";
    } catch (const vintrel::Panic& p) {
      EXPECT_EQ(p.message(), "Variable access must have at least one name");
    }
  };
  expect_stop([&] { (void)VarAccess::access_names(empty.names, v, false); });
  expect_stop([&] { (void)empty.replace(v, Json::u(1)); });
  auto env = vtest::make_env({});
  expect_stop([&] { (void)empty.access_from_bindings(env); });
}

}  // namespace
