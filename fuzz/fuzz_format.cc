// format, replace, split and join over arbitrary text.
//
// Input: NUL-separated parts. Part 0 is the format string (and the text of
// replace and split), the others become format's values: a part starting
// with '#' an int, with '[' an array, with '{' an object, else a string.
// replace and split are checked against plain reference versions.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "vintrel/functions.h"
#include "vintrel/value.h"

namespace {

using vintrel::CowStr;
using vintrel::Value;

Value text(std::string_view s) { return Value::String(CowStr::Borrowed(s)); }

Value value_from_part(std::string_view p) {
  if (!p.empty() && p[0] == '#') return Value::Int(static_cast<int64_t>(p.size()) - 2);
  if (!p.empty() && p[0] == '[') {
    vintrel::ValueArray a;
    a.push_back(text(p.substr(1)));
    a.push_back(Value::Float(0.5 * static_cast<double>(p.size())));
    a.push_back(Value::Null());
    return Value::Array(std::move(a));
  }
  if (!p.empty() && p[0] == '{') {
    vintrel::ValueObject o;
    o.insert_or_assign(std::string(p.substr(1)), Value::Bool(p.size() % 2 == 0));
    o.insert_or_assign("k", text(p));
    return Value::Object(std::move(o));
  }
  return text(p);
}

// Every occurrence of x replaced by r, left to right, without overlap; an
// empty x occurs before each scalar value and at the end.
std::string reference_replace(std::string_view t, std::string_view x, std::string_view r) {
  std::string out;
  if (x.empty()) {
    for (size_t i = 0; i < t.size(); ++i) {
      if ((static_cast<unsigned char>(t[i]) & 0xC0) != 0x80) out += r;
      out += t[i];
    }
    out += r;
    return out;
  }
  size_t pos = 0;
  for (;;) {
    size_t hit = t.find(x, pos);
    if (hit == std::string_view::npos) break;
    out.append(t.substr(pos, hit - pos));
    out += r;
    pos = hit + x.size();
  }
  out.append(t.substr(pos));
  return out;
}

void check_format(const std::vector<Value>& args) {
  auto r = vintrel::functions::format(args);
  if (!r) return;
  fuzz::require(r->is_string(), "format returns a string");
  fuzz::require(fuzz::is_utf8(r->as_str()), "format keeps UTF-8", r->as_str());
}

void check_replace(std::string_view t, std::string_view x, std::string_view rep) {
  std::vector<Value> args{text(t), text(x), text(rep)};
  auto r = vintrel::functions::replace(args);
  fuzz::require(r.has_value() && r->is_string(), "replace of three strings succeeds");
  fuzz::require(r->as_str() == reference_replace(t, x, rep), "replace matches the reference", r->as_str());
}

void check_split_join(std::string_view t, std::string_view sep) {
  std::vector<Value> args{text(t), text(sep)};
  auto pieces = vintrel::functions::split(args);
  fuzz::require(pieces.has_value() && pieces->is_array(), "split of two strings succeeds");
  for (const Value& p : pieces->as_array()) fuzz::require(p.is_string(), "split gives strings");
  if (!sep.empty()) {
    size_t expected = 1;
    for (size_t pos = t.find(sep); pos != std::string_view::npos; pos = t.find(sep, pos + sep.size())) ++expected;
    fuzz::require(pieces->as_array().size() == expected, "split gives one piece more than occurrences");
  }
  std::vector<Value> join_args{*pieces, text(sep)};
  auto joined = vintrel::functions::join(join_args);
  fuzz::require(joined.has_value() && joined->is_string(), "join of split pieces succeeds");
  fuzz::require(joined->as_str() == t, "join(split(t, sep), sep) == t", joined->as_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (!fuzz::is_utf8(in)) return -1;
  auto parts = fuzz::split_nul(in, 6);

  std::vector<Value> args;
  args.push_back(text(parts[0]));
  for (size_t i = 1; i < parts.size(); ++i) args.push_back(value_from_part(parts[i]));
  check_format(args);

  std::string_view pattern = parts.size() > 1 ? parts[1] : std::string_view("{");
  std::string_view replacement = parts.size() > 2 ? parts[2] : std::string_view("}");
  // The empty pattern multiplies the text; keep the result small.
  if (parts[0].size() * (replacement.size() + 1) < (1u << 20)) check_replace(parts[0], pattern, replacement);
  check_split_join(parts[0], pattern);
  return 0;
}
