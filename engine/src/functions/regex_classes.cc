#include "functions/regex_classes.h"

#include <algorithm>
#include <array>
#include <limits>

#include "unicode_tables.h"

namespace vintrel::detail {

namespace {

// Order of the six class escapes: d D s S w W.
constexpr std::string_view kClassLetters = "dDsSwW";

int class_escape_index(char c) {
  size_t k = kClassLetters.find(c);
  return k == std::string_view::npos ? -1 : static_cast<int>(k);
}

void append_code_point(char32_t c, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char buf[8];
  int len = 0;
  do {
    buf[len++] = kHex[c & 15];
    c >>= 4;
  } while (c != 0);
  out += "\\x{";
  while (len > 0) out += buf[--len];
  out += '}';
}

// One range as RE2 bracket-class text, always written lo-hi so that a "-"
// after the text is never read as extending it.
void append_range(char32_t lo, char32_t hi, std::string& out) {
  append_code_point(lo, out);
  out += '-';
  append_code_point(hi, out);
}

std::string re2_ranges(const unicode::CodePointSet& set) {
  std::string out;
  for (const unicode::CodePointRange& r : set.ranges()) append_range(r.first, r.last, out);
  return out;
}

// The scalar values outside the set: RE2 takes no surrogates.
std::string re2_complement_ranges(const unicode::CodePointSet& set) {
  std::string out;
  char32_t next = 0;  // first code point not yet covered
  auto gap = [&out](char32_t lo, char32_t hi) {  // [lo, hi] less the surrogates
    if (lo < 0xD800) append_range(lo, std::min(hi, char32_t{0xD7FF}), out);
    if (hi > 0xDFFF) append_range(std::max(lo, char32_t{0xE000}), hi, out);
  };
  for (const unicode::CodePointRange& r : set.ranges()) {
    if (r.first > next) gap(next, r.first - 1);
    next = r.last + 1;
  }
  if (next <= 0x10FFFF) gap(next, 0x10FFFF);
  return out;
}

// The six range texts, indexed like kClassLetters.
struct ClassTexts {
  std::array<std::string, 6> ranges;
  std::array<std::string, 6> bracketed;  // the same inside [ ]
};

ClassTexts* build_class_texts() {
  auto* t = new ClassTexts;
  const unicode::CodePointSet* sets[] = {&unicode::kDecimalNumber, &unicode::kWhiteSpace, &unicode::kWordCharacter};
  for (int k = 0; k < 6; k += 2) {
    t->ranges[k] = re2_ranges(*sets[k / 2]);
    t->ranges[k + 1] = re2_complement_ranges(*sets[k / 2]);
  }
  for (int k = 0; k < 6; ++k) t->bracketed[k] = "[" + t->ranges[k] + "]";
  return t;
}

// Built once per process and never freed, so no exit-time destruction order
// can leave a late caller with a destroyed table.
const ClassTexts& class_texts() {
  static const ClassTexts* const texts = build_class_texts();
  return *texts;
}

size_t utf8_seq_len(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// End of one character at p[i]: a UTF-8 scalar, or a backslash and the
// character it escapes. Longer escapes (\x{..}, octal) continue with plain
// hex digits and braces, which need no special handling here.
size_t char_end(std::string_view p, size_t i) {
  size_t len = p[i] == '\\' ? (i + 1 < p.size() ? 1 + utf8_seq_len(static_cast<unsigned char>(p[i + 1])) : 1)
                            : utf8_seq_len(static_cast<unsigned char>(p[i]));
  return std::min(p.size(), i + len);
}

// End of \p or \P at p[i]: a one-character name or a braced one.
size_t unicode_group_end(std::string_view p, size_t i) {
  size_t j = i + 2;
  if (j >= p.size()) return p.size();
  if (p[j] != '{') return char_end(p, j);
  size_t close = p.find('}', j);
  return close == std::string_view::npos ? p.size() : close + 1;
}

class Rewriter {
 public:
  Rewriter(std::string_view p, size_t max_added) : p_(p), max_added_(max_added), texts_(class_texts()) {
    out_.reserve(p.size());
  }

  std::optional<std::string> run() {
    size_t i = 0;
    const size_t n = p_.size();
    while (i < n) {
      size_t special = p_.find_first_of("\\[", i);
      if (special == std::string_view::npos) special = n;
      out_.append(p_, i, special - i);
      i = special;
      if (i == n) break;
      i = p_[i] == '[' ? bracket(i) : escape(i);
      if (out_.size() > i + max_added_) return std::nullopt;
    }
    return std::move(out_);
  }

 private:
  // An escape outside brackets, at p_[i] == '\\'.
  size_t escape(size_t i) {
    if (i + 1 >= p_.size()) {
      out_ += '\\';
      return i + 1;
    }
    char d = p_[i + 1];
    if (d == 'Q') {  // literal up to \E or the end
      size_t e = p_.find("\\E", i + 2);
      size_t stop = e == std::string_view::npos ? p_.size() : e + 2;
      out_.append(p_, i, stop - i);
      return stop;
    }
    if (int k = class_escape_index(d); k >= 0) {
      out_ += texts_.bracketed[k];
      return i + 2;
    }
    size_t end = d == 'p' || d == 'P' ? unicode_group_end(p_, i) : char_end(p_, i);
    out_.append(p_, i, end - i);
    return end;
  }

  // A bracket class at p_[i] == '['; its items are read as RE2 reads them.
  size_t bracket(size_t i) {
    const size_t n = p_.size();
    size_t j = i + 1;
    out_ += '[';
    if (j < n && p_[j] == '^') {
      out_ += '^';
      ++j;
    }
    bool first = true;    // a "]" right after the opening is a literal
    unsigned added = 0;   // class escapes already spelled out in this class
    while (j < n) {
      char c = p_[j];
      if (c == ']' && !first) {
        out_ += ']';
        return j + 1;
      }
      first = false;
      if (c == '[' && j + 1 < n && p_[j + 1] == ':') {
        size_t close = posix_close(j + 2);
        if (close != std::string_view::npos) {
          out_.append(p_, j, close + 2 - j);
          j = close + 2;
          continue;
        }
      }
      if (c == '\\' && j + 1 < n) {
        char d = p_[j + 1];
        if (d == 'p' || d == 'P') {
          size_t end = unicode_group_end(p_, j);
          out_.append(p_, j, end - j);
          j = end;
          continue;
        }
        if (int k = class_escape_index(d); k >= 0) {
          // A class is a union: one copy of each set suffices.
          if (!(added & (1u << k))) {
            added |= 1u << k;
            out_ += texts_.ranges[k];
          }
          j += 2;
          continue;
        }
      }
      // One character, or a range whose upper end is copied as written.
      size_t end = char_end(p_, j);
      if (end + 1 < n && p_[end] == '-' && p_[end + 1] != ']') end = char_end(p_, end + 1);
      out_.append(p_, j, end - j);
      j = end;
    }
    return n;  // unclosed: RE2 reports it
  }

  // Position of the first ":]" at or after `from`. A failed search is
  // remembered, so a class full of "[:" stays linear.
  size_t posix_close(size_t from) {
    if (posix_close_ == std::string_view::npos) return posix_close_;
    if (!posix_searched_ || posix_close_ < from) {
      posix_close_ = p_.find(":]", from);
      posix_searched_ = true;
    }
    return posix_close_;
  }

  std::string_view p_;
  size_t max_added_;
  const ClassTexts& texts_;
  std::string out_;
  size_t posix_close_ = 0;
  bool posix_searched_ = false;
};

}  // namespace

std::optional<std::string> rewrite_regex_classes_bounded(std::string_view pattern, size_t max_added) {
  return Rewriter(pattern, max_added).run();
}

std::string rewrite_regex_classes(std::string_view pattern) {
  return *rewrite_regex_classes_bounded(pattern, std::numeric_limits<size_t>::max() - pattern.size());
}

}  // namespace vintrel::detail
