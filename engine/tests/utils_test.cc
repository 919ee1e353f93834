#include <gtest/gtest.h>

#include <string>

#include "vintrel/utils.h"

namespace {

std::string u64le(uint64_t n) {
  std::string s;
  for (int i = 0; i < 8; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
  return s;
}

}  // namespace

TEST(SipHash13, KnownStreams) {
  // The byte streams a hasher writes for a path: the name count, each name
  // with a 0xFF terminator and its optional index.
  std::string one = u64le(1) + "a" + "\xff" + u64le(0);
  EXPECT_EQ(static_cast<int64_t>(vintrel::siphash13(0, 0, one)), 6769803031325424219LL);
  std::string two = u64le(2) + "x y" + "\xff" + u64le(1) + u64le(3) + "z" + "\xff" + u64le(0);
  EXPECT_EQ(static_cast<int64_t>(vintrel::siphash13(0, 0, two)), -7575321781440503495LL);
}

TEST(SipHash13, KeysAndEveryTailLengthMatter) {
  std::string data = "0123456789abcdefg";
  for (size_t n = 0; n <= data.size(); ++n) {
    std::string_view s(data.data(), n);
    EXPECT_NE(vintrel::siphash13(0, 0, s), vintrel::siphash13(1, 0, s)) << n;
    EXPECT_NE(vintrel::siphash13(0, 0, s), vintrel::siphash13(0, 1, s)) << n;
    if (n > 0) {
      EXPECT_NE(vintrel::siphash13(0, 0, s), vintrel::siphash13(0, 0, s.substr(0, n - 1))) << n;
    }
  }
}

TEST(NameHash, StableWithinTheProcess) {
  vintrel::NameHash h;
  EXPECT_EQ(h("len"), h(std::string("len")));
  EXPECT_NE(h("len"), h("lem"));
}

// Every byte of every length class (short reads, overlapping 8-byte reads,
// the 16-byte loop) must reach the hash, and so must the length itself.
TEST(NameHash, EveryByteAndTheLengthCount) {
  vintrel::NameHash h;
  for (size_t n = 0; n <= 40; ++n) {
    std::string base(n, 'k');
    EXPECT_NE(h(base), h(base + '\0')) << n;
    for (size_t i = 0; i < n; ++i) {
      std::string other = base;
      other[i] = 'j';
      EXPECT_NE(h(base), h(other)) << n << " " << i;
    }
  }
}

TEST(UnicodeClasses, WhiteSpaceIsExactlyTheTwentyFive) {
  std::vector<char32_t> expected;
  for (char32_t c = 0x09; c <= 0x0D; ++c) expected.push_back(c);
  expected.push_back(0x20);
  expected.push_back(0x85);
  expected.push_back(0xA0);
  expected.push_back(0x1680);
  for (char32_t c = 0x2000; c <= 0x200A; ++c) expected.push_back(c);
  for (char32_t c : {0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) expected.push_back(c);
  std::vector<char32_t> found;
  for (char32_t c = 0; c <= 0x10FFFF; ++c)
    if (vintrel::is_unicode_white_space(c)) found.push_back(c);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(found.size(), 25u);
  EXPECT_FALSE(vintrel::is_unicode_white_space(0x200B));  // zero width space is not White_Space
  EXPECT_FALSE(vintrel::is_unicode_white_space(0x180E));
}

TEST(UnicodeClasses, AsciiWhiteSpaceAndAlphabetic) {
  for (char32_t c : {U' ', U'\t', U'\n', U'\r'}) EXPECT_TRUE(vintrel::is_ascii_white_space(c));
  for (char32_t c : {U'\v', U'\f', char32_t{0xA0}, char32_t{0x85}, U'a'}) EXPECT_FALSE(vintrel::is_ascii_white_space(c));
  for (char32_t c : {U'a', U'Z', char32_t{0xE9}, char32_t{0x4E2D}, char32_t{0x0345}, char32_t{0x2160}})
    EXPECT_TRUE(vintrel::is_unicode_alphabetic(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'0', U'_', U'@', U'[', U'`', U'{', char32_t{0x0301}, char32_t{0x1F600}})
    EXPECT_FALSE(vintrel::is_unicode_alphabetic(c)) << static_cast<uint32_t>(c);
}

TEST(Utf8Decode, Table) {
  struct Case {
    std::string in;
    char32_t c;
    size_t len;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"a", U'a', 1},
      {std::string("\0", 1), 0, 1},
      {"\xc3\xa9x", 0xE9, 2},
      {"\xe4\xb8\xad", 0x4E2D, 3},
      {"\xf0\x9f\x98\x80", 0x1F600, 4},
      {"\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
      {"\x80", 0xFFFD, 1},              // stray continuation byte
      {"\xc0\xaf", 0xFFFD, 1},          // overlong lead
      {"\xe0\x80\x80", 0xFFFD, 1},      // overlong three-byte form
      {"\xed\xa0\x80", 0xFFFD, 1},      // surrogate
      {"\xf4\x90\x80\x80", 0xFFFD, 1},  // beyond U+10FFFF
      {"\xe4\xb8", 0xFFFD, 2},          // truncated
      {"\xe4\xb8x", 0xFFFD, 2},
      {"\xff", 0xFFFD, 1},
  };
  for (const auto& c : cases) {
    char32_t out = 1;
    EXPECT_EQ(vintrel::utf8_decode(c.in, &out), c.len) << c.in;
    EXPECT_EQ(out, c.c) << c.in;
  }
}
