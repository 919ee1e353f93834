// parse_exp over arbitrary UTF-8 text, then the tree's own operations and
// an evaluation against a small environment.
//
// Either a tree comes back, whose rest is a tail of the input not starting
// with ASCII whitespace, or a ParseError of kind Char, Count or TooLarge
// whose input is a tail of the input. Copies and owned trees equal the
// parsed one, and an owned tree survives the source text.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "vintrel/env.h"
#include "vintrel/exp.h"
#include "vintrel/interpreter.h"
#include "vintrel/parser.h"

namespace {

using fuzz::FuzzValue;
using vintrel::Value;

// Bytes of text and elements reachable from the arguments.
size_t weight(vintrel::FnArgs args) {
  size_t total = 0;
  std::vector<const Value*> todo;
  for (const Value& a : args) todo.push_back(&a);
  while (!todo.empty()) {
    const Value* v = todo.back();
    todo.pop_back();
    ++total;
    if (v->is_string()) total += v->as_str().size();
    if (v->is_array())
      for (const Value& e : v->as_array()) todo.push_back(&e);
    if (v->is_object())
      for (const auto& [k, e] : v->as_object()) {
        total += k.size();
        todo.push_back(&e);
      }
  }
  return total;
}

// The built-ins, refusing large arguments: replace(s, '', s) squares the
// length of s, and a handful of nested calls would otherwise exhaust memory
// on inputs that are perfectly valid.
const vintrel::FunctionTable& bounded_table() {
  static const vintrel::FunctionTable table = [] {
    vintrel::FunctionTable t;
    for (const auto& [name, cb] : vintrel::DEFAULT_VTABLE()) {
      const vintrel::SyncCallable* f = cb.as_sync();
      if (!f) {
        t.emplace(name, cb);
        continue;
      }
      std::shared_ptr<const vintrel::SyncCallable> inner = std::get<vintrel::FnCallback::Sync>(cb.v).f;
      t.emplace(name, vintrel::FnCallback::sync([inner](vintrel::FnArgs args) -> vintrel::FnResult {
                  if (weight(args) > 4096) return vintrel::unexpected(vintrel::EvalError::other("too large"));
                  return (*inner)(args);
                }));
    }
    return t;
  }();
  return table;
}

vintrel::NameMap<FuzzValue> bindings() {
  vintrel::NameMap<FuzzValue> b;
  b.emplace("a", FuzzValue::sint(-3));
  b.emplace("b", FuzzValue::uint(7));
  b.emplace("big", FuzzValue::uint(18446744073709551615u));
  b.emplace("f", FuzzValue::real(1.5));
  b.emplace("s", FuzzValue::string("x{0}y,é"));
  b.emplace("t", FuzzValue::boolean(true));
  b.emplace("n", FuzzValue::null());
  FuzzValue::array_type arr{FuzzValue::uint(1), FuzzValue::string("a"),
                            FuzzValue::array({FuzzValue::sint(-2), FuzzValue::real(-0.0)})};
  b.emplace("arr", FuzzValue::array(arr));
  fuzz::FuzzObject inner;
  inner.insert_or_assign("k", FuzzValue::string("v"));
  inner.insert_or_assign("z", FuzzValue::array(arr));
  fuzz::FuzzObject obj;
  obj.insert_or_assign("o", FuzzValue::object(inner));
  obj.insert_or_assign("e", FuzzValue::object({}));
  b.emplace("obj", FuzzValue::object(obj));
  return b;
}

void evaluate(const vintrel::Exp& tree) {
  static const vintrel::NameMap<FuzzValue> kBindings = bindings();
  auto builder = vintrel::EnvBuilder<FuzzValue>::new_();
  builder.bind_multiple(kBindings);
  builder.functions = vintrel::Cow<vintrel::FunctionTable>::Borrowed(bounded_table());
  auto env = std::move(builder).build();
  auto r = vintrel::interpreter::eval(tree, env);
  if (!r) {
    std::string msg = r.error().message();
    fuzz::require(!msg.empty(), "errors have a message");
    return;
  }
  Value v = std::move(*r).into_owned().into_owned();
  std::string shown = v.display_string();
  std::string debug = v.debug_string();
  fuzz::require(fuzz::is_utf8(shown), "display text is UTF-8", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (!fuzz::is_utf8(in)) return -1;

  fuzz::PrivateText source(in);
  std::string_view text = source.view();

  auto r = vintrel::parse_exp(text);
  if (!r) {
    const vintrel::ParseError& e = r.error();
    fuzz::require(fuzz::is_suffix_view(text, e.input), "error input is a tail of the text");
    fuzz::require(e.kind == vintrel::ErrorKind::Char || e.kind == vintrel::ErrorKind::Count ||
                      e.kind == vintrel::ErrorKind::TooLarge,
                  "parse_exp fails only with Char, Count or TooLarge", vintrel::error_kind_name(e.kind));
    return 0;
  }
  std::string_view rest = r->rest;
  fuzz::require(fuzz::is_suffix_view(text, rest), "rest is a tail of the text");
  fuzz::require(rest.empty() || !(rest[0] == ' ' || rest[0] == '\t' || rest[0] == '\n' || rest[0] == '\r'),
                "rest never starts with ASCII whitespace", rest);

  vintrel::Exp tree = std::move(r->value);
  vintrel::Exp copy = tree;
  fuzz::require(copy == tree, "a copy equals its tree");
  vintrel::Exp owned = vintrel::Exp(tree).into_owned();
  fuzz::require(owned == tree, "the owned tree equals the parsed one");
  vintrel::Exp assigned = vintrel::Exp::value(Value::Null());
  assigned = owned;
  fuzz::require(assigned == owned, "an assigned tree equals its source");

  // Drop everything that may borrow the text, then the text itself.
  copy = vintrel::Exp::value(Value::Null());
  tree = vintrel::Exp::value(Value::Null());
  source.release();

  auto again = vintrel::parse_exp(in);
  fuzz::require(again.has_value() && again->value == owned, "parsing is deterministic");
  fuzz::require(again->rest.size() == rest.size(), "parsing stops at the same place");
  evaluate(owned);
  return 0;
}
