#include <gtest/gtest.h>

#include <string>

#include "functions/base64.h"
#include "builtin_cases.h"
#include "vintrel/functions.h"

using namespace builtin_cases;
using vintrel::detail::base64_decode;
using vintrel::detail::base64_encode;
using vintrel::detail::utf8_error;
namespace fns = vintrel::functions;

TEST(Base64Encode, PadsAndNeverBreaksLines) {
  check_all(fns::base64_encode, {
                                    {{}, Count{1, 0}},
                                    {{S("a"), S("b")}, Count{1, 2}},
                                    {{I(1)}, TypeErr("Expected a string argument, got: 'int'")},
                                    {{S("")}, S("")},
                                    {{S("a")}, S("YQ==")},
                                    {{S("ab")}, S("YWI=")},
                                    {{S("abc")}, S("YWJj")},
                                    {{S("abcd")}, S("YWJjZA==")},
                                    {{S("é")}, S("w6k=")},
                                    {{S("\xF0\x9F\x98\x80")}, S("8J+YgA==")},
                                    {{S("?\x3F>")}, S("Pz8+")},
                                    {{S("?\x3F?")}, S("Pz8/")},
                                });
  std::string big = base64_encode(std::string(1000, 'x'));
  EXPECT_EQ(big.size(), 1336u);
  EXPECT_EQ(big.find('\n'), std::string::npos);
}

TEST(Base64Decode, RoundTripsEveryOneAndTwoByteInput) {
  for (int a = 0; a < 256; ++a) {
    std::string one(1, static_cast<char>(a));
    auto d = base64_decode(base64_encode(one));
    ASSERT_TRUE(d.has_value()) << a;
    EXPECT_EQ(*d, one);
    for (int b = 0; b < 256; ++b) {
      std::string two = one + static_cast<char>(b);
      auto d2 = base64_decode(base64_encode(two));
      ASSERT_TRUE(d2.has_value()) << a << ' ' << b;
      ASSERT_EQ(*d2, two);
    }
  }
}

// Only what the encoder produces is accepted: every padded final group
// decodes exactly when re-encoding its bytes gives it back.
TEST(Base64Decode, AcceptsOnlyCanonicalFinalGroups) {
  static const char kSymbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) {
      std::string two = std::string("AAAA") + kSymbols[a] + kSymbols[b] + "==";
      auto d = base64_decode(two);
      if (d.has_value()) {
        ASSERT_EQ(base64_encode(*d), two);
      } else {
        ASSERT_EQ(d.error(), "Invalid last symbol " + std::to_string(int(kSymbols[b])) + ", offset 5.");
      }
      for (int c = 0; c < 64; ++c) {
        std::string three = std::string() + kSymbols[a] + kSymbols[b] + kSymbols[c] + "=";
        auto d3 = base64_decode(three);
        ASSERT_EQ(d3.has_value(), base64_encode(d3.has_value() ? *d3 : std::string()) == three) << three;
        if (!d3.has_value()) {
          ASSERT_EQ(d3.error(), "Invalid last symbol " + std::to_string(int(kSymbols[c])) + ", offset 2.");
        }
      }
    }
}

TEST(Base64Decode, NamesTheFault) {
  struct Fault {
    const char* text;
    const char* description;
  };
  const Fault faults[] = {
      {"YQ", "Invalid padding"},
      {"YWI", "Invalid padding"},
      {"YQ=", "Invalid padding"},
      {"YWJjYQ", "Invalid padding"},
      {"YWJjY", "Invalid input length: 5"},
      {"Y", "Invalid input length: 1"},
      {"YWJj\n", "Invalid symbol 10, offset 4."},
      {"YWJjYWJj\n", "Invalid symbol 10, offset 8."},
      {"YW-j", "Invalid symbol 45, offset 2."},
      {"YW_jYWJj", "Invalid symbol 95, offset 2."},
      {"YWJj YWJj", "Invalid symbol 32, offset 4."},
      {"=YWJ", "Invalid symbol 61, offset 0."},
      {"Y===", "Invalid symbol 61, offset 1."},
      {"====", "Invalid symbol 61, offset 0."},
      {"YQ==YWJj", "Invalid symbol 61, offset 2."},
      {"YW=j", "Invalid symbol 61, offset 2."},
      {"YQ===", "Invalid symbol 61, offset 2."},
      {"YWJj====", "Invalid symbol 61, offset 4."},
      {"YR==", "Invalid last symbol 82, offset 1."},
      {"YWJ=", "Invalid last symbol 74, offset 2."},
      {"YWJjYR==", "Invalid last symbol 82, offset 5."},
      // With several faults: a stray last byte first, then left to right.
      {"Y-Jj\n", "Invalid symbol 10, offset 4."},
      {"Y-JjY\n", "Invalid symbol 45, offset 1."},
      {"Y-JjYR==", "Invalid symbol 45, offset 1."},
      {"YR=", "Invalid padding"},
  };
  for (const Fault& f : faults) {
    auto d = base64_decode(f.text);
    ASSERT_FALSE(d.has_value()) << f.text;
    EXPECT_EQ(d.error(), f.description) << f.text;
  }
}

TEST(Utf8Error, NamesTheFirstIllFormedSequence) {
  struct Bytes {
    std::string bytes;
    const char* description;  // nullptr: well formed
  };
  const Bytes cases[] = {
      {"", nullptr},
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", nullptr},
      {"\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF", nullptr},  // around the surrogates and the top
      {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ab\xC0\x80", "invalid utf-8 sequence of 1 bytes from index 2"},    // overlong
      {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // surrogate
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xF5\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xC3" "a", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xE2\x82" "a", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"x\xF0\x9F\x98" "a", "invalid utf-8 sequence of 3 bytes from index 1"},
      {"\xF0\x9F\xC3\xA9", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"a\xFF\xC3", "invalid utf-8 sequence of 1 bytes from index 1"},
      {"a\xC3", "incomplete utf-8 byte sequence from index 1"},
      {"\xE2\x82", "incomplete utf-8 byte sequence from index 0"},
      {"ab\xE0\xA0", "incomplete utf-8 byte sequence from index 2"},
      {"\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 0"},
      {"\xE0", "incomplete utf-8 byte sequence from index 0"},
      {"\xE0\x9F", "invalid utf-8 sequence of 1 bytes from index 0"},
  };
  for (const Bytes& c : cases) {
    auto e = utf8_error(c.bytes);
    if (c.description == nullptr) {
      EXPECT_FALSE(e.has_value()) << *e;
    } else {
      ASSERT_TRUE(e.has_value()) << c.description;
      EXPECT_EQ(*e, c.description);
    }
  }
}

TEST(Base64Decode, BuiltinWrapsBothKindsOfFailure) {
  check_all(fns::base64_decode, {
                                    {{}, Count{1, 0}},
                                    {{N()}, TypeErr("Expected a string argument, got: 'null'")},
                                    {{S("")}, S("")},
                                    {{S("w6k=")}, S("é")},
                                    {{S("YWJjZA==")}, S("abcd")},
                                    {{S("YQ")}, ValueErr("Invalid base64 string: 'Invalid padding'")},
                                    {{S("YWJjZA==\n")}, ValueErr("Invalid base64 string: 'Invalid symbol 10, offset 8.'")},
                                    {{S("/w==")},
                                     ValueErr("Decoded bytes are not valid UTF-8: 'invalid utf-8 sequence of 1 bytes "
                                              "from index 0'")},
                                    {{S(base64_encode("ab\xC3"))},
                                     ValueErr("Decoded bytes are not valid UTF-8: 'incomplete utf-8 byte sequence "
                                              "from index 2'")},
                                });
  for (const char* text : {"a", "ab", "abc", "héllo wörld", "日本語テキスト", "\xF0\x9F\x98\x80!"}) {
    auto enc = fns::base64_encode(std::vector<Value>{S(text)});
    ASSERT_TRUE(enc.has_value());
    check(fns::base64_decode, {{*enc}, S(text)});
  }
}
