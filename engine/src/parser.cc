// The parser of expression text and variable paths.
//
// Recursive descent, one function per grammar level in the order of the
// grammar. Every rule takes the remaining text by reference and either
// advances it and yields its output, or fails: it records its failure in
// the shared context and may leave the text anywhere, because whoever
// forgets the failure (a further alternative, a list that may end, an
// optional part) puts the text back where it stood.
//
// Nesting (array elements, object values, call arguments, parentheses)
// recurses through every level, up to kMaxNesting times. To keep that
// within a small native stack, the levels hold little more than the tree
// they return (built in place in their caller's frame), and whatever is
// bulky while a node is built lives in helpers that are not inlined into
// the recursive path.
#include "vintrel/parser.h"

#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "vintrel/func.h"
#include "vintrel/panic.h"
#include "vintrel/utils.h"
#include "vintrel/value.h"

namespace vintrel {

namespace {

constexpr std::array<std::string_view, kErrorKindCount> kErrorKindNames = {
    "Tag",         "MapRes",        "MapOpt",        "Alt",
    "IsNot",       "IsA",           "SeparatedList", "SeparatedNonEmptyList",
    "Many0",       "Many1",         "ManyTill",      "Count",
    "TakeUntil",   "LengthValue",   "TagClosure",    "Alpha",
    "Digit",       "HexDigit",      "OctDigit",      "BinDigit",
    "AlphaNumeric", "Space",        "MultiSpace",    "LengthValueFn",
    "Eof",         "Switch",        "TagBits",       "OneOf",
    "NoneOf",      "Char",          "CrLf",          "RegexpMatch",
    "RegexpMatches", "RegexpFind",  "RegexpCapture", "RegexpCaptures",
    "TakeWhile1",  "Complete",      "Fix",           "Escaped",
    "EscapedTransform", "NonEmpty", "ManyMN",        "Not",
    "Permutation", "Verify",        "TakeTill1",     "TakeWhileMN",
    "TooLarge",    "Many0Count",    "Many1Count",    "Float",
    "Satisfy",     "Fail",          "Many",          "Fold",
    "Precedence",
};

// ---------------------------------------------------------------------------
// Characters and whitespace

// The character at the start of non-empty `s`: its length, and its scalar
// value in *out. A byte that does not begin well-formed UTF-8 counts as a
// one-byte character that is neither whitespace nor alphabetic, so hostile
// bytes can never be split or skipped as whitespace.
size_t next_char(std::string_view s, char32_t* out) noexcept {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) {
    *out = b0;
    return 1;
  }
  *out = 0xFFFD;
  const size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
  if (n == 0 || b0 > 0xF4 || s.size() < n) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  const auto b1 = static_cast<unsigned char>(s[1]);
  if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 >= 0xA0) || (b0 == 0xF0 && b1 < 0x90) ||
      (b0 == 0xF4 && b1 >= 0x90))
    return 1;  // overlong, surrogate or beyond U+10FFFF
  return utf8_decode(s, out);
}

bool is_ascii_space_byte(char ch) noexcept { return is_ascii_white_space(static_cast<unsigned char>(ch)); }
bool is_digit(char ch) noexcept { return ch >= '0' && ch <= '9'; }
bool is_ascii_letter(char ch) noexcept { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }
bool is_identifier_char(char ch) noexcept { return is_ascii_letter(ch) || is_digit(ch) || ch == '_'; }

void skip_ascii_ws(std::string_view& s) noexcept {
  size_t i = 0;
  while (i < s.size() && is_ascii_space_byte(s[i])) ++i;
  s.remove_prefix(i);
}

void skip_unicode_ws(std::string_view& s) noexcept {
  while (!s.empty()) {
    char32_t c;
    const size_t n = next_char(s, &c);
    if (!is_unicode_white_space(c)) return;
    s.remove_prefix(n);
  }
}

size_t digit_run(std::string_view s, size_t from) noexcept {
  size_t i = from;
  while (i < s.size() && is_digit(s[i])) ++i;
  return i - from;
}

bool eat(std::string_view& s, char ch) noexcept {
  if (s.empty() || s[0] != ch) return false;
  s.remove_prefix(1);
  return true;
}

bool eat(std::string_view& s, std::string_view token) noexcept {
  if (!s.starts_with(token)) return false;
  s.remove_prefix(token.size());
  return true;
}

// ---------------------------------------------------------------------------
// String literals

// raw(q) -> { run of characters but '\' and q | '\' any character }
// The length of the content before the closing q, or npos when the text
// ends first.
size_t raw_content_length(std::string_view body, char q) noexcept {
  size_t i = 0;
  while (i < body.size()) {
    if (body[i] == q) return i;
    // An escape pair's second byte may start a multi-byte character; its
    // continuation bytes are never q or a backslash, so stepping bytewise
    // over them is the same as stepping over the character.
    i += body[i] == '\\' ? 2 : 1;
  }
  return std::string_view::npos;
}

// The character an escape stands for in a literal quoted with q, or -1 for
// a backslash followed by anything else.
int escaped_char(char e, char q) noexcept {
  switch (e) {
    case '\\': return '\\';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case '0': return '\0';
    case '\'':
    case '"': return e == q ? e : -1;
    default: return -1;
  }
}

enum class QuotedEnd : uint8_t { Closed, BadEscape, Unclosed };

// quoted(q) -> { run of characters but '\' and q | '\' escape(q) }
// Validates the content first, so that a failing literal allocates nothing;
// *length is the length of the content before the closing q.
QuotedEnd scan_quoted(std::string_view body, char q, size_t* length) noexcept {
  size_t i = 0;
  while (i < body.size()) {
    if (body[i] == q) {
      *length = i;
      return QuotedEnd::Closed;
    }
    if (body[i] == '\\') {
      if (i + 1 >= body.size() || escaped_char(body[i + 1], q) < 0) return QuotedEnd::BadEscape;
      i += 2;
    } else {
      ++i;
    }
  }
  return QuotedEnd::Unclosed;
}

// The text of valid quoted content with its escapes replaced. Empty content
// has no pieces and stays borrowed.
CowStr unescape(std::string_view content, char q) {
  if (content.empty()) return CowStr::Borrowed(content);
  std::string out;
  out.reserve(content.size());
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\\') {
      out.push_back(static_cast<char>(escaped_char(content[++i], q)));
    } else {
      const size_t start = i;
      while (i + 1 < content.size() && content[i + 1] != '\\') ++i;
      out.append(content.substr(start, i + 1 - start));
    }
  }
  return CowStr::Owned(std::move(out));
}

// string -> "r'" raw(') "'" | 'r"' raw(") '"' | "'" quoted(') "'" | '"' quoted(") '"'
// On failure `s` is unchanged and *err holds the double-quote form's failure.
bool read_string(std::string_view& s, CowStr* out, ParseError* err) {
  if (s.size() >= 2 && s[0] == 'r' && (s[1] == '\'' || s[1] == '"')) {
    const std::string_view body = s.substr(2);
    const size_t len = raw_content_length(body, s[1]);
    if (len != std::string_view::npos) {
      *out = CowStr::Borrowed(body.substr(0, len));
      s = body.substr(len + 1);
      return true;
    }
  }
  if (!s.empty() && (s[0] == '\'' || s[0] == '"')) {
    const char q = s[0];
    const std::string_view body = s.substr(1);
    size_t len = 0;
    const QuotedEnd end = scan_quoted(body, q, &len);
    if (end == QuotedEnd::Closed) {
      *out = unescape(body.substr(0, len), q);
      s = body.substr(len + 1);
      return true;
    }
    if (q == '"') {
      *err = {end == QuotedEnd::BadEscape ? body : body.substr(body.size()), ErrorKind::Char};
      return false;
    }
  }
  *err = {s, ErrorKind::Char};
  return false;
}

// ---------------------------------------------------------------------------
// Identifiers and variable paths

bool is_keyword(std::string_view word) noexcept { return word == "true" || word == "false" || word == "null"; }

// non_keyword -> identifier character { identifier character }, except true, false, null
bool read_non_keyword(std::string_view& s, std::string_view* out, ParseError* err) noexcept {
  size_t n = 0;
  while (n < s.size() && is_identifier_char(s[n])) ++n;
  const std::string_view word = s.substr(0, n);
  if (n == 0 || is_keyword(word)) {
    *err = {s, ErrorKind::MapRes};
    return false;
  }
  *out = word;
  s.remove_prefix(n);
  return true;
}

// segment -> non_keyword | string
bool read_segment(std::string_view& s, CowStr* name, ParseError* err) {
  std::string_view word;
  if (read_non_keyword(s, &word, err)) {
    *name = CowStr::Borrowed(word);
    return true;
  }
  return read_string(s, name, err);
}

// index -> "[" ascii_ws digit { digit } ascii_ws "]" ascii_ws
// All or nothing: on a missing piece `s` is unchanged.
bool read_index(std::string_view& s, std::string_view* digits) noexcept {
  std::string_view t = s;
  if (!eat(t, '[')) return false;
  skip_ascii_ws(t);
  const size_t n = digit_run(t, 0);
  if (n == 0) return false;
  *digits = t.substr(0, n);
  t.remove_prefix(n);
  skip_ascii_ws(t);
  if (!eat(t, ']')) return false;
  skip_ascii_ws(t);
  s = t;
  return true;
}

// The check of a segment's name that fails first, if any.
std::optional<ErrorKind> name_fault(std::string_view name) noexcept {
  if (name.empty()) return ErrorKind::NonEmpty;
  if (is_digit(name[0])) return ErrorKind::Digit;
  return std::nullopt;
}

// variable_name -> segment [ index ] { "." segment [ index ] }
// The segments are read first; then every name is checked in path order,
// and only then every index converted, so the first faulty name wins over
// any index. Both faults are reported at the text after the whole path.
bool read_variable_name(std::string_view& s, VarAccess* out, ParseError* err) {
  std::string_view rest = s;
  CowStr name;
  if (!read_segment(rest, &name, err)) return false;
  std::vector<VarName> names;
  std::optional<ErrorKind> bad_name;
  bool bad_index = false;
  for (;;) {
    if (!bad_name) bad_name = name_fault(name.view());
    std::string_view digits;
    std::optional<uint64_t> index;
    if (read_index(rest, &digits)) {
      uint64_t v = 0;
      const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (r.ec == std::errc()) {
        index = v;
      } else {
        bad_index = true;
      }
    }
    // Once the path is known to fail, its names are no longer kept.
    if (!bad_name && !bad_index) names.push_back(VarName{std::move(name).into_owned(), index});
    std::string_view next = rest;
    ParseError ignored{};
    if (!eat(next, '.') || !read_segment(next, &name, &ignored)) break;
    rest = next;
  }
  if (bad_name || bad_index) {
    *err = {rest, bad_name ? *bad_name : ErrorKind::TooLarge};
    return false;
  }
  s = rest;
  *out = VarAccess::new_(std::move(names));
  return true;
}

// ---------------------------------------------------------------------------
// Expressions

// Shared by every rule of one parse. `err` is the failure of the rule that
// failed last; `final` marks the depth bound's failure, which no
// alternative, list or optional part may forget.
struct Ctx {
  ParseError err{{}, ErrorKind::Char};
  bool final = false;
  int depth = 0;
};

using Opt = std::optional<Exp>;
using Rule = Opt (*)(Ctx&, std::string_view&);

bool fail(Ctx& c, std::string_view at, ErrorKind kind) noexcept {
  c.err = {at, kind};
  return false;
}

Opt parse_and(Ctx& c, std::string_view& s);
Opt parse_eq(Ctx& c, std::string_view& s);
Opt parse_neq(Ctx& c, std::string_view& s);
Opt parse_comparison(Ctx& c, std::string_view& s);
Opt parse_not(Ctx& c, std::string_view& s);
Opt parse_atom(Ctx& c, std::string_view& s);

// The helpers below build nodes. They are kept out of line so that the
// temporaries of building a node never occupy the frames of the recursion.

// tree becomes tree OP right.
[[gnu::noinline]] void fold(Opt& tree, Exp::Kind kind, Exp&& right) {
  Exp& left = *tree;
  switch (kind) {
    case Exp::Kind::Or: left = Exp::or_(std::move(left), std::move(right)); break;
    case Exp::Kind::And: left = Exp::and_(std::move(left), std::move(right)); break;
    case Exp::Kind::Eq: left = Exp::eq(std::move(left), std::move(right)); break;
    case Exp::Kind::Neq: left = Exp::neq(std::move(left), std::move(right)); break;
    case Exp::Kind::Gt: left = Exp::gt(std::move(left), std::move(right)); break;
    case Exp::Kind::Lt: left = Exp::lt(std::move(left), std::move(right)); break;
    case Exp::Kind::Geq: left = Exp::geq(std::move(left), std::move(right)); break;
    case Exp::Kind::Leq: left = Exp::leq(std::move(left), std::move(right)); break;
    default: panic("Not a binary operator");
  }
}

[[gnu::noinline]] void negate(Opt& tree) { *tree = Exp::not_(std::move(*tree)); }

[[gnu::noinline]] void put_value(Opt& out, Value v) { out.emplace(Exp::value(std::move(v))); }

[[gnu::noinline]] void put_array(Opt& out, std::vector<Exp>& elements) {
  out.emplace(Exp::array(std::move(elements)));
}

[[gnu::noinline]] void put_object(Opt& out, std::vector<Exp::ExpObject::Entry>& entries) {
  out.emplace(Exp::object(Exp::ExpObject::from_entries(std::move(entries))));
}

[[gnu::noinline]] void put_call(Opt& out, std::string_view name, std::vector<Exp>& args) {
  out.emplace(Exp::function(FunctionItem::new_(name, std::move(args))));
}

// The operand after an operator of a level that groups from the left; a
// failing operand fails the level.
[[gnu::noinline]] void chain_operand(Ctx& c, std::string_view& s, Opt& tree, Exp::Kind kind, Rule operand) {
  Opt right = operand(c, s);
  if (right) {
    fold(tree, kind, std::move(*right));
  } else {
    tree.reset();
  }
}

// What follows the first operand of a level of one or two operands. A
// failing operand after the token is given back with the token; a third
// operand fails the level with Count where the next token was looked for.
[[gnu::noinline]] void pair_operands(Ctx& c, std::string_view& s, Opt& tree, std::string_view token,
                                     Exp::Kind kind, Rule operand) {
  int count = 1;
  while (s.starts_with(token)) {
    const std::string_view before = s;
    s.remove_prefix(token.size());
    skip_ascii_ws(s);
    Opt next = operand(c, s);
    if (!next) {
      if (c.final) {
        tree.reset();
        return;
      }
      s = before;
      break;
    }
    if (++count == 2) fold(tree, kind, std::move(*next));
  }
  if (count > 2) {
    tree.reset();
    fail(c, s, ErrorKind::Count);
  }
}

// list(item) -> [ item { "," ascii_ws item } ]
// A failing item ends the list where it stood; only a final failure fails
// the list itself.
template <class ReadItem>
bool read_list(Ctx& c, std::string_view& s, ReadItem read_item) {
  std::string_view before = s;
  if (!read_item(s)) {
    s = before;
    return !c.final;
  }
  for (;;) {
    before = s;
    if (!eat(s, ',')) return true;
    skip_ascii_ws(s);
    if (!read_item(s)) {
      s = before;
      return !c.final;
    }
  }
}

bool push_exp(Ctx& c, std::string_view& s, std::vector<Exp>& out);
bool push_entry(Ctx& c, std::string_view& s, std::vector<Exp::ExpObject::Entry>& out);

bool enter_exp(Ctx& c, std::string_view& s) noexcept {
  if (++c.depth > kMaxNesting) {
    c.final = true;
    return fail(c, s, ErrorKind::TooLarge);
  }
  skip_unicode_ws(s);
  return true;
}

// exp -> unicode_ws and { "||" ascii_ws and }
Opt parse_exp(Ctx& c, std::string_view& s) {
  Opt tree = enter_exp(c, s) ? parse_and(c, s) : Opt();
  while (tree && eat(s, "||")) {
    skip_ascii_ws(s);
    chain_operand(c, s, tree, Exp::Kind::Or, parse_and);
  }
  --c.depth;
  return tree;
}

// and -> eq { "&&" ascii_ws eq }
Opt parse_and(Ctx& c, std::string_view& s) {
  Opt tree = parse_eq(c, s);
  while (tree && eat(s, "&&")) {
    skip_ascii_ws(s);
    chain_operand(c, s, tree, Exp::Kind::And, parse_eq);
  }
  return tree;
}

// eq -> neq [ "==" ascii_ws neq ]
Opt parse_eq(Ctx& c, std::string_view& s) {
  Opt tree = parse_neq(c, s);
  if (tree) pair_operands(c, s, tree, "==", Exp::Kind::Eq, parse_neq);
  return tree;
}

// neq -> comparison [ "!=" ascii_ws comparison ]
Opt parse_neq(Ctx& c, std::string_view& s) {
  Opt tree = parse_comparison(c, s);
  if (tree) pair_operands(c, s, tree, "!=", Exp::Kind::Neq, parse_comparison);
  return tree;
}

bool eat_comparison(std::string_view& s, Exp::Kind* kind) noexcept {
  if (eat(s, ">=")) *kind = Exp::Kind::Geq;
  else if (eat(s, "<=")) *kind = Exp::Kind::Leq;
  else if (eat(s, '>')) *kind = Exp::Kind::Gt;
  else if (eat(s, '<')) *kind = Exp::Kind::Lt;
  else return false;
  return true;
}

// comparison -> not { (">=" | "<=" | ">" | "<") ascii_ws not }
Opt parse_comparison(Ctx& c, std::string_view& s) {
  Opt tree = parse_not(c, s);
  Exp::Kind kind = Exp::Kind::Lt;
  while (tree && eat_comparison(s, &kind)) {
    skip_ascii_ws(s);
    chain_operand(c, s, tree, kind, parse_not);
  }
  return tree;
}

// not -> "!" ascii_ws atom | atom
Opt parse_not(Ctx& c, std::string_view& s) {
  const bool negated = eat(s, '!');
  if (negated) skip_ascii_ws(s);
  Opt operand = parse_atom(c, s);
  if (operand && negated) negate(operand);
  return operand;
}

// Atom alternatives: each either succeeds, filling `out` and skipping the
// ASCII whitespace after what it read, or records its failure.
using Alternative = bool (*)(Ctx&, std::string_view&, Opt&);
bool atom_float(Ctx& c, std::string_view& s, Opt& out);
bool atom_integer(Ctx& c, std::string_view& s, Opt& out);
bool atom_boolean(Ctx& c, std::string_view& s, Opt& out);
bool atom_null(Ctx& c, std::string_view& s, Opt& out);
bool atom_string(Ctx& c, std::string_view& s, Opt& out);
bool atom_array(Ctx& c, std::string_view& s, Opt& out);
bool atom_object(Ctx& c, std::string_view& s, Opt& out);
bool atom_call(Ctx& c, std::string_view& s, Opt& out);
bool atom_variable(Ctx& c, std::string_view& s, Opt& out);
bool atom_parenthesised(Ctx& c, std::string_view& s, Opt& out);

constexpr std::array<Alternative, 10> kAtoms = {
    atom_float, atom_integer, atom_boolean, atom_null,     atom_string,
    atom_array, atom_object,  atom_call,    atom_variable, atom_parenthesised,
};

// atom -> float | integer | boolean | null | string | array | object | call | variable | parenthesised
// The failure of the last alternative is the atom's.
Opt parse_atom(Ctx& c, std::string_view& s) {
  Opt atom;
  const std::string_view start = s;
  for (const Alternative alternative : kAtoms) {
    if (alternative(c, s, atom) || c.final) break;
    s = start;
  }
  return atom;
}

// The length of [ "+" | "-" ] digit { digit } at the start of s, or 0.
size_t integer_length(std::string_view s) noexcept {
  const size_t sign = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
  const size_t n = digit_run(s, sign);
  return n == 0 ? 0 : sign + n;
}

// The text without its sign, and whether the sign was "-". Rounding is
// symmetric, so the magnitude is converted alone and the sign put back.
std::string_view unsigned_part(std::string_view text, bool* negative) noexcept {
  *negative = text[0] == '-';
  if (text[0] == '+' || text[0] == '-') text.remove_prefix(1);
  return text;
}

// Correctly rounded; beyond the finite range the value is infinity of the
// literal's sign, below the smallest subnormal zero of its sign.
double float_value(std::string_view text) noexcept {
  bool negative = false;
  const std::string_view body = unsigned_part(text, &negative);
  double v = 0.0;
  const auto r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::fixed);
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range with a nonzero digit before the "." can only be too large.
    const bool too_large = body.find_first_not_of('0') < body.find('.');
    v = too_large ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -v : v;
}

// float -> [ "+" | "-" ] digit { digit } "." digit { digit }
bool atom_float(Ctx& c, std::string_view& s, Opt& out) {
  const size_t int_len = integer_length(s);
  if (int_len == 0) return fail(c, s, ErrorKind::Digit);
  if (int_len >= s.size() || s[int_len] != '.') return fail(c, s, ErrorKind::Char);
  const size_t frac_len = digit_run(s, int_len + 1);
  if (frac_len == 0) return fail(c, s, ErrorKind::Digit);
  const size_t len = int_len + 1 + frac_len;
  put_value(out, Value::Float(float_value(s.substr(0, len))));
  s.remove_prefix(len);
  skip_ascii_ws(s);
  return true;
}

// integer -> [ "+" | "-" ] digit { digit }, within the signed 64-bit range
bool atom_integer(Ctx& c, std::string_view& s, Opt& out) {
  const size_t len = integer_length(s);
  if (len == 0) return fail(c, s, ErrorKind::Digit);
  // from_chars reads a leading "-" but not a "+".
  const size_t from = s[0] == '+' ? 1 : 0;
  int64_t v = 0;
  const auto r = std::from_chars(s.data() + from, s.data() + len, v);
  if (r.ec != std::errc()) return fail(c, s, ErrorKind::MapRes);
  put_value(out, Value::Int(v));
  s.remove_prefix(len);
  skip_ascii_ws(s);
  return true;
}

// boolean -> "true" | "false"
bool atom_boolean(Ctx& c, std::string_view& s, Opt& out) {
  bool b;
  if (eat(s, "true")) b = true;
  else if (eat(s, "false")) b = false;
  else return fail(c, s, ErrorKind::Tag);
  put_value(out, Value::Bool(b));
  skip_ascii_ws(s);
  return true;
}

// null -> "null"
bool atom_null(Ctx& c, std::string_view& s, Opt& out) {
  if (!eat(s, "null")) return fail(c, s, ErrorKind::Tag);
  put_value(out, Value::Null());
  skip_ascii_ws(s);
  return true;
}

// string -> string literal ascii_ws
bool atom_string(Ctx& c, std::string_view& s, Opt& out) {
  CowStr text;
  if (!read_string(s, &text, &c.err)) return false;
  put_value(out, Value::String(std::move(text)));
  skip_ascii_ws(s);
  return true;
}

// array -> "[" ascii_ws list(exp) "]" ascii_ws
bool atom_array(Ctx& c, std::string_view& s, Opt& out) {
  if (!eat(s, '[')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  std::vector<Exp> elements;
  if (!read_list(c, s, [&](std::string_view& t) { return push_exp(c, t, elements); })) return false;
  if (!eat(s, ']')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  put_array(out, elements);
  return true;
}

// object -> "{" ascii_ws list(entry) "}" ascii_ws
bool atom_object(Ctx& c, std::string_view& s, Opt& out) {
  if (!eat(s, '{')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  std::vector<Exp::ExpObject::Entry> entries;
  if (!read_list(c, s, [&](std::string_view& t) { return push_entry(c, t, entries); })) return false;
  if (!eat(s, '}')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  put_object(out, entries);
  return true;
}

// The length of the call name at the start of s: one alphabetic character,
// then alphabetic characters and ASCII digits; 0 when there is none.
size_t call_name_length(std::string_view s) noexcept {
  size_t i = 0;
  while (i < s.size()) {
    char32_t ch;
    const size_t n = next_char(s.substr(i), &ch);
    const bool alphabetic = ch < 0x80 ? is_ascii_letter(static_cast<char>(ch)) : is_unicode_alphabetic(ch);
    if (!alphabetic && (i == 0 || !is_digit(s[i]))) break;
    i += n;
  }
  return i;
}

// call -> name unicode_ws "(" unicode_ws list(exp) [ "," ascii_ws ] unicode_ws ")" ascii_ws
bool atom_call(Ctx& c, std::string_view& s, Opt& out) {
  const size_t name_len = call_name_length(s);
  if (name_len == 0) return fail(c, s, ErrorKind::Alpha);
  const std::string_view name = s.substr(0, name_len);
  s.remove_prefix(name_len);
  skip_unicode_ws(s);
  if (!eat(s, '(')) return fail(c, s, ErrorKind::Char);
  skip_unicode_ws(s);
  std::vector<Exp> args;
  if (!read_list(c, s, [&](std::string_view& t) { return push_exp(c, t, args); })) return false;
  if (eat(s, ',')) skip_ascii_ws(s);
  skip_unicode_ws(s);
  if (!eat(s, ')')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  put_call(out, name, args);
  return true;
}

// variable -> variable_name ascii_ws
bool atom_variable(Ctx& c, std::string_view& s, Opt& out) {
  VarAccess path;
  if (!read_variable_name(s, &path, &c.err)) return false;
  out.emplace(Exp::variable(std::move(path)));
  skip_ascii_ws(s);
  return true;
}

// parenthesised -> "(" ascii_ws exp ")" ascii_ws
bool atom_parenthesised(Ctx& c, std::string_view& s, Opt& out) {
  if (!eat(s, '(')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  out = parse_exp(c, s);
  if (!out) return false;
  if (!eat(s, ')')) {
    out.reset();
    return fail(c, s, ErrorKind::Char);
  }
  skip_ascii_ws(s);
  return true;
}

bool push_exp(Ctx& c, std::string_view& s, std::vector<Exp>& out) {
  Opt e = parse_exp(c, s);
  if (!e) return false;
  out.push_back(std::move(*e));
  return true;
}

// entry -> string ":" ascii_ws exp
bool push_entry(Ctx& c, std::string_view& s, std::vector<Exp::ExpObject::Entry>& out) {
  CowStr key;
  if (!read_string(s, &key, &c.err)) return false;
  if (!eat(s, ':')) return fail(c, s, ErrorKind::Char);
  skip_ascii_ws(s);
  Opt value = parse_exp(c, s);
  if (!value) return false;
  out.emplace_back(std::move(key).into_owned(), std::move(*value));
  return true;
}

}  // namespace

std::string_view error_kind_name(ErrorKind k) noexcept {
  const auto i = static_cast<size_t>(k);
  return i < kErrorKindNames.size() ? kErrorKindNames[i] : std::string_view("Unknown");
}

ParseResult<CowStr> parse_string(std::string_view input) {
  CowStr text;
  ParseError err{};
  if (!read_string(input, &text, &err)) return unexpected(err);
  return Parsed<CowStr>{input, std::move(text)};
}

ParseResult<std::string_view> parse_non_keyword(std::string_view input) {
  std::string_view word;
  ParseError err{};
  if (!read_non_keyword(input, &word, &err)) return unexpected(err);
  return Parsed<std::string_view>{input, word};
}

ParseResult<VarAccess> parse_variable_name(std::string_view input) {
  VarAccess path;
  ParseError err{};
  if (!read_variable_name(input, &path, &err)) return unexpected(err);
  return Parsed<VarAccess>{input, std::move(path)};
}

ParseResult<Exp> parse_exp(std::string_view input) {
  Ctx c;
  Opt tree = parse_exp(c, input);
  if (!tree) return unexpected(c.err);
  return Parsed<Exp>{input, std::move(*tree)};
}

}  // namespace vintrel
