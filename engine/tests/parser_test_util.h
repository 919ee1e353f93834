// Builders for expected trees and checks of parse results.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vintrel/exp.h"
#include "vintrel/func.h"
#include "vintrel/parser.h"
#include "vintrel/value.h"
#include "vintrel/var.h"

namespace parser_test {

using vintrel::Exp;
using vintrel::Value;

struct Seg {
  std::string name;
  std::optional<uint64_t> index;
};

inline vintrel::VarAccess path(std::initializer_list<Seg> segs) {
  std::vector<vintrel::VarName> names;
  for (const Seg& s : segs) names.push_back(vintrel::VarName{s.name, s.index});
  return vintrel::VarAccess::new_(std::move(names));
}

inline Exp var(std::initializer_list<Seg> segs) { return Exp::variable(path(segs)); }
inline Exp var(const char* name) { return var({Seg{name, std::nullopt}}); }
inline Exp i(int64_t v) { return Exp::value(Value::Int(v)); }
inline Exp f(double v) { return Exp::value(Value::Float(v)); }
inline Exp b(bool v) { return Exp::value(Value::Bool(v)); }
inline Exp null() { return Exp::value(Value::Null()); }
inline Exp str(std::string_view s) { return Exp::value(Value::String(vintrel::CowStr::Owned(std::string(s)))); }
inline Exp arr(std::initializer_list<Exp> elements) { return Exp::array(std::vector<Exp>(elements)); }
inline Exp call(std::string_view name, std::initializer_list<Exp> args) {
  return Exp::function(vintrel::FunctionItem::new_(name, std::vector<Exp>(args)));
}
inline Exp obj(std::initializer_list<std::pair<std::string, Exp>> entries) {
  return Exp::object(Exp::ExpObject::from_entries(std::vector<Exp::ExpObject::Entry>(entries)));
}

// A compact text of a tree for failure messages: Or(a, Lt(b, Int(1))).
inline void show(const Exp& e, std::string& out) {
  auto two = [&](const char* op) {
    out += op;
    out += '(';
    show(e.left(), out);
    out += ", ";
    show(e.right(), out);
    out += ')';
  };
  auto list = [&](const std::vector<Exp>& items) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (k) out += ", ";
      show(items[k], out);
    }
  };
  switch (e.kind()) {
    case Exp::Kind::Value: e.as_value().debug_fmt(out); break;
    case Exp::Kind::Function:
      out += e.as_function().name + "(";
      list(e.as_function().args);
      out += ')';
      break;
    case Exp::Kind::Variable:
      for (size_t k = 0; k < e.as_variable().names.size(); ++k) {
        if (k) out += '.';
        e.as_variable().names[k].display_fmt(out);
      }
      break;
    case Exp::Kind::Not:
      out += "Not(";
      show(e.operand(), out);
      out += ')';
      break;
    case Exp::Kind::Or: two("Or"); break;
    case Exp::Kind::And: two("And"); break;
    case Exp::Kind::Eq: two("Eq"); break;
    case Exp::Kind::Neq: two("Neq"); break;
    case Exp::Kind::Gt: two("Gt"); break;
    case Exp::Kind::Lt: two("Lt"); break;
    case Exp::Kind::Geq: two("Geq"); break;
    case Exp::Kind::Leq: two("Leq"); break;
    case Exp::Kind::Array:
      out += '[';
      list(e.as_array());
      out += ']';
      break;
    case Exp::Kind::Object: {
      out += '{';
      bool first = true;
      for (const auto& [k, v] : e.as_object()) {
        if (!first) out += ", ";
        first = false;
        out += k + ": ";
        show(v, out);
      }
      out += '}';
      break;
    }
  }
}

inline std::string show(const Exp& e) {
  std::string out;
  show(e, out);
  return out;
}

// `part` is the suffix of `src` that the parser reports: its bytes and its
// place (a view that merely has the same text elsewhere does not pass).
inline ::testing::AssertionResult is_suffix(std::string_view src, std::string_view part, std::string_view expected) {
  if (part != expected)
    return ::testing::AssertionFailure() << "remaining text \"" << part << "\", expected \"" << expected << "\"";
  if (part.data() + part.size() != src.data() + src.size())
    return ::testing::AssertionFailure() << "remaining text does not point into the end of the source";
  return ::testing::AssertionSuccess();
}

// A failure of the given kind whose input is the given suffix of src.
template <class T>
::testing::AssertionResult fails_with(const vintrel::ParseResult<T>& r, std::string_view src, vintrel::ErrorKind kind,
                                      std::string_view input) {
  if (r.has_value()) return ::testing::AssertionFailure() << "parsed, rest \"" << r->rest << "\"";
  if (r.error().kind != kind)
    return ::testing::AssertionFailure() << "kind " << vintrel::error_kind_name(r.error().kind) << ", expected "
                                         << vintrel::error_kind_name(kind);
  return is_suffix(src, r.error().input, input);
}

}  // namespace parser_test
