#include <gtest/gtest.h>

#include <re2/re2.h>

#include <string>
#include <vector>

#include "functions/regex_classes.h"
#include "unicode_tables.h"

namespace {

using vintrel::unicode::CodePointSet;

struct NamedSet {
  const char* name;
  const CodePointSet& set;
};

const NamedSet kSets[] = {
    {"White_Space", vintrel::unicode::kWhiteSpace},   {"Alphabetic", vintrel::unicode::kAlphabetic},
    {"Nd", vintrel::unicode::kDecimalNumber},         {"word", vintrel::unicode::kWordCharacter},
    {"hex escaped", vintrel::unicode::kHexEscaped},
};

// Both sides of every range's ends.
std::vector<char32_t> edge_code_points(const CodePointSet& set) {
  std::vector<char32_t> out;
  for (const auto& r : set.ranges()) {
    if (r.first > 0) out.push_back(r.first - 1);
    out.push_back(r.first);
    out.push_back(r.last);
    if (r.last < 0x10FFFF) out.push_back(r.last + 1);
  }
  return out;
}

std::string utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

TEST(UnicodeTables, RangesAreSortedDisjointAndApart) {
  for (const NamedSet& s : kSets) {
    auto ranges = s.set.ranges();
    ASSERT_FALSE(ranges.empty()) << s.name;
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_LE(ranges[i].first, ranges[i].last) << s.name << " " << i;
      EXPECT_LE(ranges[i].last, char32_t{0x10FFFF}) << s.name << " " << i;
      if (i > 0) {
        EXPECT_GT(ranges[i].first, ranges[i - 1].last + 1) << s.name << " " << i;
      }
    }
  }
}

// The two forms of each set are written separately by the generator.
TEST(UnicodeTables, LookupTableAndRangesHoldTheSameCodePoints) {
  for (const NamedSet& s : kSets) {
    auto range = s.set.ranges().begin();
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      while (range != s.set.ranges().end() && range->last < c) ++range;
      bool in_range = range != s.set.ranges().end() && range->first <= c;
      ASSERT_EQ(s.set.contains(c), in_range) << s.name << " " << std::hex << static_cast<uint32_t>(c);
    }
    EXPECT_FALSE(s.set.contains(0x110000)) << s.name;
    EXPECT_FALSE(s.set.contains(0xFFFFFFFF)) << s.name;
  }
}

TEST(UnicodeTables, SurrogatesAreOnlyEscaped) {
  for (char32_t c : {char32_t{0xD800}, char32_t{0xDBFF}, char32_t{0xDC00}, char32_t{0xDFFF}}) {
    EXPECT_TRUE(vintrel::unicode::kHexEscaped.contains(c));
    for (const NamedSet& s : kSets)
      if (&s.set != &vintrel::unicode::kHexEscaped) {
        EXPECT_FALSE(s.set.contains(c)) << s.name;
      }
  }
}

// The class texts for RE2, the negated ones included, hold exactly the
// set (less the surrogates, which RE2 does not take) at every edge.
TEST(UnicodeTables, RegexClassesAreTheSetsAndTheirComplements) {
  struct ClassCase {
    const char* escape;
    const CodePointSet& set;
  };
  const ClassCase cases[] = {{"d", vintrel::unicode::kDecimalNumber},
                             {"s", vintrel::unicode::kWhiteSpace},
                             {"w", vintrel::unicode::kWordCharacter}};
  for (const ClassCase& k : cases) {
    std::string upper(1, static_cast<char>(k.escape[0] - 'a' + 'A'));
    std::string positive = vintrel::detail::rewrite_regex_classes(std::string("\\") + k.escape);
    std::string negative = vintrel::detail::rewrite_regex_classes("\\" + upper);
    EXPECT_EQ(negative.find("\\x{D800}"), std::string::npos) << k.escape;
    EXPECT_NE(negative.find("\\x{D7FF}\\x{E000}"), std::string::npos) << k.escape;  // the gap skips them
    RE2 pos(positive), neg(negative);
    ASSERT_TRUE(pos.ok() && neg.ok()) << k.escape;
    for (char32_t c : edge_code_points(k.set)) {
      if (is_surrogate(c)) continue;
      std::string t = utf8(c);
      bool inside = k.set.contains(c);
      EXPECT_EQ(RE2::FullMatch(t, pos), inside) << k.escape << " " << std::hex << static_cast<uint32_t>(c);
      EXPECT_EQ(RE2::FullMatch(t, neg), !inside) << upper << " " << std::hex << static_cast<uint32_t>(c);
    }
  }
}
