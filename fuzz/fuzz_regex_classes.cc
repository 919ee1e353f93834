// The rewrite of Unicode classes in matches patterns, then RE2.
//
// Input: the pattern, optionally a NUL and the text to search. Whatever the
// rewrite returns must compile or be refused by RE2 without a crash, and
// matches must answer with a bool or a RegexError, and finish quickly on
// every pattern (RE2 never backtracks).
#include <re2/re2.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "functions/regex_classes.h"
#include "vintrel/functions.h"
#include "vintrel/value.h"

namespace {

using vintrel::CowStr;
using vintrel::Value;

Value text(std::string_view s) { return Value::String(CowStr::Borrowed(s)); }

vintrel::FnResult matches(std::string_view t, std::string_view pattern) {
  std::vector<Value> args{text(t), text(pattern)};
  return vintrel::functions::matches(args);
}

// Unicode-aware classes that every user relies on must compile and match.
void check_unicode_classes() {
  struct Case {
    std::string_view text, pattern;
    bool expected;
  };
  static const Case kCases[] = {
      {"é", "^\\w$", true},        {"٣", "^\\d$", true},        {"\xe3\x80\x80", "^\\s$", true},
      {"Ж", "^\\p{L}$", true},     {"Ж", "^\\pL$", true},       {"ω", "^\\p{Greek}$", true},
      {"a", "^\\P{Lu}$", true},    {"A", "^[\\p{Lu}\\d]$", true}, {"é", "^[[:alpha:]]$", false},
      {"x y", "\\bx\\b", true},    {"é", "^.$", true},          {"aaaa", "(a+)+$", true},
  };
  for (const Case& c : kCases) {
    auto r = matches(c.text, c.pattern);
    if (!r) fuzz::fail("a Unicode class is refused", c.pattern);
    fuzz::require(r->is_bool() && r->as_bool() == c.expected, "a Unicode class matches as expected", c.pattern);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  check_unicode_classes();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (!fuzz::is_utf8(in)) return -1;
  auto parts = fuzz::split_nul(in, 2);
  std::string_view pattern = parts[0];
  std::string_view subject = parts.size() > 1 ? parts[1] : std::string_view("aaaaaaaaaaaaaaaaaaaaaaaaaaaaab é Ж 1٣ \t");

  std::string rewritten = vintrel::detail::rewrite_regex_classes(pattern);
  fuzz::require(fuzz::is_utf8(rewritten), "the rewrite keeps UTF-8", rewritten);
  auto bounded = vintrel::detail::rewrite_regex_classes_bounded(pattern, 1u << 16);
  if (bounded) fuzz::require(*bounded == rewritten, "the bounded rewrite agrees with the plain one", *bounded);
  if (rewritten.size() < (1u << 16)) {
    RE2::Options options;
    options.set_log_errors(false);
    RE2 re(rewritten, options);
    if (re.ok()) (void)RE2::PartialMatch(subject, re);
  }

  auto r = matches(subject, pattern);
  if (r) {
    fuzz::require(r->is_bool(), "matches gives a bool");
  } else {
    fuzz::require(r.error().kind() == vintrel::EvalError::Kind::RegexError, "matches fails with RegexError");
  }
  return 0;
}
