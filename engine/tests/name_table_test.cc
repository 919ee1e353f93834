#include <gtest/gtest.h>

#include <string>

#include "vintrel/name_table.h"

using vintrel::NameTable;

namespace {
std::string key(size_t i) {
  std::string s = "k";
  s += std::to_string(i);
  return s;
}
}  // namespace

// Both lookup modes: the linear scan of a few names and the hashed index
// that takes over past kLinearLimit, including the growth steps between,
// and an index made up front by reserve() before any entry exists.
TEST(NameTable, FindsEveryNameInBothModes) {
  for (size_t reserved : {0u, 9u, 200u})
  for (size_t n : {0u, 1u, 8u, 9u, 33u, 200u}) {
    SCOPED_TRACE(reserved);
    NameTable<size_t> t;
    t.reserve(reserved);
    for (size_t i = 0; i < n; ++i) EXPECT_TRUE(t.emplace(key(i), i).second);
    ASSERT_EQ(t.size(), n);
    for (size_t i = 0; i < n; ++i) {
      auto it = t.find(key(i));
      ASSERT_NE(it, t.end()) << n << " " << i;
      EXPECT_EQ(it->second, i);
    }
    EXPECT_EQ(t.find("k"), t.end());
    EXPECT_EQ(t.find(key(n)), t.end());
    EXPECT_EQ(t.find(""), t.end());
  }
}

TEST(NameTable, EmplaceKeepsAndAssignReplaces) {
  for (size_t n : {3u, 50u}) {
    NameTable<std::string> t;
    for (size_t i = 0; i < n; ++i) t.insert_or_assign(key(i), "first");
    auto [it, inserted] = t.emplace("k1", "second");
    EXPECT_FALSE(inserted);
    EXPECT_EQ(it->second, "first");
    t.insert_or_assign("k1", "third");
    EXPECT_EQ(t.find("k1")->second, "third");
    EXPECT_EQ(t.size(), n);
    EXPECT_EQ(t["new"], "");
    EXPECT_EQ(t.size(), n + 1);
  }
}
