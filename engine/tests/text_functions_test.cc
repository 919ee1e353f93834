#include <limits>
#include <string>
#include <string_view>

#include <re2/re2.h>

#include "builtin_cases.h"
#include "functions/regex_classes.h"
#include "vintrel/functions.h"

using namespace builtin_cases;
namespace fns = vintrel::functions;

namespace {

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

std::string index_err(std::string_view digits, std::string_view reason) {
  return "Invalid format placeholder index '" + std::string(digits) + "': " + std::string(reason);
}
constexpr std::string_view kBadDigit = "invalid digit found in string";
constexpr std::string_view kTooLarge = "number too large to fit in target type";

std::string regex_err(std::string_view reason) { return "Invalid regex pattern: '" + std::string(reason) + "'"; }

}  // namespace

TEST(Format, ChecksCountAndFormatKindOnly) {
  check_all(fns::format, {
                             {{}, Count{1, 0}},
                             {{I(1)}, TypeErr("Expected a string as the first argument, got: 'int'")},
                             {{N(), S("a")}, TypeErr("Expected a string as the first argument, got: 'null'")},
                             {{S("plain text")}, S("plain text")},
                             {{S("")}, S("")},
                         });
}

TEST(Format, FillsPlaceholdersWithDisplayTexts) {
  std::vector<Value> eight = {S("{007}")};
  for (int i = 0; i < 8; ++i) eight.push_back(I(i * 10));
  check_all(fns::format, {
                             {{S("{1}{0}"), S("a"), S("b")}, S("ba")},
                             {{S("{0}{0}"), S("a")}, S("aa")},
                             {{S("{0}"), S("a"), S("unused")}, S("a")},
                             {eight, S("70")},
                             {{S("{00}"), S("z")}, S("z")},
                             {{S("x={0}, y={1}"), F(0.5), N()}, S("x=0.5, y=null")},
                             {{S("v={0}"), A({I(1), S("a")})}, S("v=[1, \"a\"]")},
                             {{S("{0}"), S("{1}")}, S("{1}")},  // inserted text is not scanned again
                             {{S("é{0}"), S("a")}, S("éa")},
                             {{S("{0}é"), S("a")}, S("aé")},
                             {{S("{12a}{0"), S("a")}, S("{12a}{0")},
                             {{S("{0{1}"), S("a"), S("b")}, S("{0b")},
                         });
}

TEST(Format, DoubledBracesEscapeAPlaceholder) {
  check_all(fns::format, {
                             {{S("{{0}}")}, S("{0}")},
                             {{S("{{{0}}}")}, S("{{0}}")},
                             {{S("{{0}}}")}, S("{0}}")},
                             {{S("{{0}"), S("a")}, S("{a")},
                             {{S("{0}}"), S("a")}, S("a}")},
                             {{S("{{0}é"), S("a")}, S("{aé")},
                             {{S("é{{0}}é")}, S("é{0}é")},
                             // Escaped digits are neither parsed nor checked.
                             {{S("{{٣}}")}, S("{٣}")},
                             {{S("{{99999999999999999999}}")}, S("{99999999999999999999}")},
                         });
}

TEST(Format, CopiesNonPlaceholdersUnchanged) {
  for (const char* f : {"{}", "{x}", "{ 0}", "{0 }", "{-1}", "{+1}", "{", "}", "}{", "{{}}", "{0x}", "a{b}c"})
    check(fns::format, {{S(f)}, S(f)});
}

TEST(Format, ReportsTheLeftmostBadPlaceholder) {
  check_all(fns::format, {
                             {{S("{1}"), S("a")}, Count{3, 2}},
                             {{S("{0}")}, Count{2, 1}},
                             {{S("{٣}"), S("a")}, ValueErr(index_err("٣", kBadDigit))},    // Arabic-Indic three
                             {{S("{１}"), S("a")}, ValueErr(index_err("１", kBadDigit))},  // fullwidth one
                             {{S("{1٣}"), S("a")}, ValueErr(index_err("1٣", kBadDigit))},
                             {{S("{18446744073709551616}")}, ValueErr(index_err("18446744073709551616", kTooLarge))},
                             // The first failing character decides.
                             {{S("{99999999999999999999٣}")}, ValueErr(index_err("99999999999999999999٣", kTooLarge))},
                             {{S("{٣99999999999999999999}")}, ValueErr(index_err("٣99999999999999999999", kBadDigit))},
                             // Index + 2 saturates where it would not fit.
                             {{S("{18446744073709551615}"), S("a")}, Count{kMaxU64, 2}},
                             {{S("{18446744073709551614}")}, Count{kMaxU64, 1}},
                             {{S("{18446744073709551613}")}, Count{kMaxU64, 1}},
                             {{S("{5}{٣}")}, Count{7, 1}},
                             {{S("{٣}{5}")}, ValueErr(index_err("٣", kBadDigit))},
                             {{S("{0}{2}"), S("a"), S("b")}, Count{4, 3}},
                         });
}

TEST(Replace, ReplacesEveryNonOverlappingOccurrence) {
  check_all(fns::replace, {
                              {{S("a"), S("b")}, Count{3, 2}},
                              {{I(1), I(2), I(3)}, TypeErr("Expected a string as the first argument, got: 'int'")},
                              {{S("a"), B(true), I(3)}, TypeErr("Expected a string as the second argument, got: 'bool'")},
                              {{S("a"), S("b"), A({})}, TypeErr("Expected a string as the third argument, got: 'array'")},
                              {{S("aaa"), S("aa"), S("b")}, S("ba")},
                              {{S("aaaa"), S("aa"), S("a")}, S("aa")},
                              {{S("abab"), S("ab"), S("")}, S("")},
                              {{S("a.b"), S("."), S("")}, S("ab")},
                              {{S("a*b"), S("."), S("-")}, S("a*b")},
                              {{S("abc"), S("x"), S("y")}, S("abc")},
                              {{S("x"), S("x"), S("xx")}, S("xx")},
                              {{S("Aa"), S("a"), S("b")}, S("Ab")},
                              {{S("aé😀é"), S("é"), S("e")}, S("ae😀e")},
                              // An empty pattern: before every scalar and at the end.
                              {{S("ab"), S(""), S("-")}, S("-a-b-")},
                              {{S(""), S(""), S("x")}, S("x")},
                              {{S("aé😀"), S(""), S("|")}, S("|a|é|😀|")},
                              {{S("ab"), S(""), S("")}, S("ab")},
                          });
}

TEST(Replace, LongAdversarialTextStaysCorrect) {
  std::string text(100000, 'a');
  check(fns::replace, {{S(text), S(std::string(500, 'a') + "b"), S("x")}, S(text)});
  check(fns::replace, {{S(text), S(std::string(50000, 'a')), S("b")}, S("bb")});
}

TEST(Matches, ChecksKindsBeforeCompiling) {
  check_all(fns::matches, {
                              {{S("a")}, Count{2, 1}},
                              {{I(1), S("(")}, TypeErr("Expected a string as the first argument, got: 'int'")},
                              {{S("a"), N()}, TypeErr("Expected a string as the second argument, got: 'null'")},
                          });
}

TEST(Matches, SearchesUnanchoredWithDefaultOptions) {
  check_all(fns::matches, {
                              {{S("abc"), S("b")}, B(true)},
                              {{S("abc"), S("^b")}, B(false)},
                              {{S("abc"), S("c$")}, B(true)},
                              {{S(""), S("")}, B(true)},
                              {{S("abc"), S("")}, B(true)},
                              {{S("ABC"), S("b")}, B(false)},
                              {{S("a\nb"), S("a.b")}, B(false)},
                              {{S("x\nab"), S("^ab")}, B(false)},
                              {{S("ab\nx"), S("ab$")}, B(false)},
                              {{S("日本語"), S("^...$")}, B(true)},
                          });
}

// The frame of the message and the error's class are ours; the reason is
// RE2's, whose wording changes between its versions, so it is taken from
// RE2 itself for the pattern as the caller wrote it.
TEST(Matches, ReportsPatternsThatDoNotCompile) {
  RE2::Options quiet;
  quiet.set_log_errors(false);
  for (std::string_view pattern : {"(", "(a)\\1", "a(?=b)", "(?<=a)b",
                                   // The caller's pattern is quoted, not its rewritten form.
                                   "(\\d", "[\\w", "[a-\\d]", "[\\x{0}-\\d]"}) {
    RE2 re(re2::StringPiece(pattern.data(), pattern.size()), quiet);
    ASSERT_FALSE(re.ok()) << pattern;
    ASSERT_FALSE(re.error().empty()) << pattern;
    check(fns::matches, {{S("a"), S(pattern)}, RegexErr(regex_err(re.error()))});
  }
}

TEST(Matches, ClassEscapesAreUnicodeAware) {
  check_all(fns::matches, {
                              {{S("٣"), S("^\\d$")}, B(true)},
                              {{S("３"), S("^\\d+$")}, B(true)},
                              {{S("a"), S("^\\d$")}, B(false)},
                              {{S("٣"), S("^\\D$")}, B(false)},
                              {{S("\u3000"), S("^\\s$")}, B(true)},
                              {{S("\u00A0\u2028\x0B"), S("^\\s+$")}, B(true)},
                              {{S("\u200B"), S("^\\s$")}, B(false)},  // zero width space is not White_Space
                              {{S("\u3000"), S("\\S")}, B(false)},
                              {{S("é"), S("^\\w$")}, B(true)},
                              {{S("e\u0301"), S("^\\w+$")}, B(true)},  // combining mark
                              {{S("_\u203F"), S("^\\w+$")}, B(true)},  // connector punctuation
                              {{S("\u200D"), S("^\\w$")}, B(true)},    // join control
                              {{S("Ⓐ"), S("^\\w$")}, B(true)},         // Other_Alphabetic symbol
                              {{S("Ⅻ"), S("^\\w$")}, B(true)},         // letter number
                              {{S("-"), S("^\\w$")}, B(false)},
                              {{S("é"), S("\\W")}, B(false)},
                              {{S("-"), S("^\\W$")}, B(true)},
                              {{S("😀"), S("^\\W$")}, B(true)},
                          });
}

TEST(Matches, ClassEscapesInsideBrackets) {
  check_all(fns::matches, {
                              {{S("a"), S("[\\D]")}, B(true)},
                              {{S("٣"), S("[\\D]")}, B(false)},
                              {{S("٣"), S("^[^\\D]$")}, B(true)},
                              {{S("a"), S("[^\\D]")}, B(false)},
                              {{S("é"), S("^[a\\W]$")}, B(false)},
                              {{S("a"), S("^[a\\W]$")}, B(true)},
                              {{S("-"), S("^[a\\W]$")}, B(true)},
                              {{S("٣"), S("^[^\\W]$")}, B(true)},
                              {{S("\u3000"), S("^[x\\s\\d]$")}, B(true)},
                              {{S("٣"), S("^[\\s\\d\\s\\d]$")}, B(true)},
                              // A "-" after a class escape is a literal, as in RE2.
                              {{S("٣"), S("^[\\d-z]$")}, B(true)},
                              {{S("-"), S("^[\\d-z]$")}, B(true)},
                              {{S("y"), S("^[\\d-z]$")}, B(false)},
                              {{S("-"), S("^[\\s-z]$")}, B(true)},
                              {{S("y"), S("^[\\s-z]$")}, B(false)},
                              {{S("y"), S("^[a-z\\d]$")}, B(true)},
                              // "]" right after the opening is a literal.
                              {{S("]"), S("^[]\\d]$")}, B(true)},
                              {{S("x"), S("^[^]\\d]$")}, B(true)},
                              {{S("٣"), S("^[^]\\d]$")}, B(false)},
                              {{S("٣"), S("^[[:alpha:]\\d]$")}, B(true)},
                              {{S("b"), S("^[[:alpha:]\\d]$")}, B(true)},
                              {{S("٣"), S("^[\\p{Greek}\\d]$")}, B(true)},
                          });
}

TEST(Matches, OtherEscapesStayLiteral) {
  check_all(fns::matches, {
                              {{S("\\d"), S("^\\\\d$")}, B(true)},
                              {{S("5"), S("\\\\d")}, B(false)},
                              {{S("\\5"), S("^[\\\\\\d]+$")}, B(true)},
                              {{S("\\d"), S("^\\Q\\d\\E$")}, B(true)},
                              {{S("5"), S("\\Q\\d\\E")}, B(false)},
                              {{S("a.b\\w"), S("^\\Qa.b\\w")}, B(true)},  // \Q to the end
                              {{S("a5"), S("^\\Qa\\E\\d$")}, B(true)},
                              {{S("٣"), S("^\\p{Nd}$")}, B(true)},
                              {{S("a b"), S("a\\bb")}, B(false)},
                              {{S("a b"), S("a\\b b")}, B(true)},
                          });
}

TEST(Matches, OversizedAndPathologicalPatterns) {
  std::string many(60000, 'x');
  for (size_t i = 0; i < many.size(); i += 2) many[i] = '\\', many[i + 1] = 'w';
  check(fns::matches, {{S("a"), S(many)}, RegexErr(regex_err("pattern too large - compile failed"))});
  check(fns::matches, {{S("a"), S(many + ")")}, RegexErr(regex_err("unexpected ): " + many + ")"))});
  check(fns::matches, {{S("a"), S("\\w{1000}")}, RegexErr(regex_err("pattern too large - compile failed"))});
  check(fns::matches, {{S(std::string(5000, 'x')), S("(x+x+)+y")}, B(false)});
  check(fns::matches, {{S(std::string(100, 'a')), S("(a*)*(a?){30}a{30}b")}, B(false)});
  std::string deep = std::string(20000, '(') + "a" + std::string(20000, ')');
  auto r = fns::matches(std::vector<Value>{S("a"), S(deep)});
  if (r.has_value()) {
    EXPECT_TRUE(r->as_bool());
  } else {
    EXPECT_EQ(r.error().kind(), EvalError::Kind::RegexError);
  }
}

TEST(RewriteRegexClasses, LeavesEverythingElseAsWritten) {
  for (const char* p : {"", "abc", "\\\\d", "\\Q\\d\\w", "\\Qa\\E", "[a-z]", "[[:digit:]]", "\\p{L}", "\\pN", "[a-\\d]",
                        "\\", "[", "[\\", "(?i)x", "\\b\\B"})
    EXPECT_EQ(vintrel::detail::rewrite_regex_classes(p), p) << p;
  // The same escape once per bracket class.
  std::string once = vintrel::detail::rewrite_regex_classes("[\\d]");
  EXPECT_EQ(vintrel::detail::rewrite_regex_classes("[\\d\\d\\d]"), once);
  EXPECT_NE(once.find("\\x{660}-\\x{669}"), std::string::npos);
  EXPECT_EQ(vintrel::detail::rewrite_regex_classes("x\\dy").substr(0, 2), "x[");
}
