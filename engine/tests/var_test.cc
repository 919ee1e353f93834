#include <gtest/gtest.h>

#include "vintrel/panic.h"
#include "vintrel/var.h"

using vintrel::VarAccess;
using vintrel::VarName;

TEST(VarName, DisplayAndEquality) {
  struct Case {
    VarName n;
    const char* text;
  };
  const Case cases[] = {{{"a", std::nullopt}, "a"},
                        {{"b", 2}, "b[2]"},
                        {{"c d", std::nullopt}, "c d"},
                        {{"x", 0}, "x[0]"},
                        {{"b.c", UINT64_MAX}, "b.c[18446744073709551615]"}};
  for (const auto& c : cases) {
    std::string out;
    c.n.display_fmt(out);
    EXPECT_EQ(out, c.text);
  }
  EXPECT_EQ((VarName{"a", 1}), (VarName{"a", 1}));
  EXPECT_NE((VarName{"a", 0}), (VarName{"a", std::nullopt}));
  EXPECT_NE((VarName{"a", 0}), (VarName{"a", 1}));
}

TEST(VarAccess, EqualityByNamesInOrder) {
  auto path = [](std::vector<VarName> n) { return VarAccess::new_(std::move(n)); };
  EXPECT_EQ(path({{"a", {}}, {"b", 1}}), path({{"a", {}}, {"b", 1}}));
  EXPECT_NE(path({{"a", {}}, {"b", {}}}), path({{"a", {}}, {"b", 0}}));
  EXPECT_NE(path({{"a", {}}}), path({{"a", {}}, {"b", {}}}));
  EXPECT_NE(path({{"b.c", {}}}), path({{"b", {}}, {"c", {}}}));  // a dotted name is one name
}

TEST(VarAccess, NewRefusesAnEmptyList) {
  try {
    VarAccess::new_({});
    FAIL();
  } catch (const vintrel::Panic& p) {
    EXPECT_EQ(p.message(), "Variable access must have at least one name");
  }
}

TEST(VarAccess, ResolveNameUntil) {
  std::vector<VarName> names{{"a", {}}, {"b", 2}, {"c", {}}};
  VarName root{"x", 0};
  struct Case {
    const VarName* root;
    size_t until;
    const char* text;
  };
  const Case cases[] = {
      {nullptr, 0, "<root>"}, {nullptr, 1, "a"},       {nullptr, 2, "a.b[2]"},      {nullptr, 3, "a.b[2].c"},
      {&root, 0, "x[0]"},     {&root, 2, "x[0].a.b[2]"}, {&root, 3, "x[0].a.b[2].c"},
  };
  for (const auto& c : cases) EXPECT_EQ(VarAccess::resolve_name_until(names, c.root, c.until), c.text);
}
