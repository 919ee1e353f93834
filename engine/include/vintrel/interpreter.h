// The evaluator: one loop over explicit stacks, no native recursion.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "vintrel/cow.h"
#include "vintrel/env.h"
#include "vintrel/errors.h"
#include "vintrel/exp.h"
#include "vintrel/path.h"
#include "vintrel/result.h"
#include "vintrel/value.h"

namespace vintrel::interpreter {

// Evaluates `exp` against `env`. The result may borrow from the tree (a
// literal passed on unchanged) and from the environment's bound values; a
// caller that keeps it longer copies it.
template <class V, class Bindings>
Expected<Cow<Value>, EvalError> eval(const Exp& exp, const Env<V, Bindings>& env);

namespace detail {

// Only the variable lookup depends on the bound-value type, so the loop
// itself is compiled once and reaches the bindings through this callback:
// it finds one variable's value and converts it into `out` (null on
// entry); the Value may borrow text from the data behind `ctx`.
struct VarResolver {
  std::optional<VarAccessError> (*fn)(const void* ctx, const VarAccess& var, Value& out);
  const void* ctx;
};

// The evaluation loop. The result may borrow from `exp` and from the data
// behind `resolve`.
Expected<Cow<Value>, EvalError> eval_core(const Exp& exp, const FunctionTable& functions, VarResolver resolve);

template <class V, class Bindings>
std::optional<VarAccessError> resolve_from_env(const void* ctx, const VarAccess& var, Value& out) {
  const auto& env = *static_cast<const Env<V, Bindings>*>(ctx);
  auto found = var.access_from_bindings(env);
  if (!found) return std::move(found).error();
  auto converted = Value::from_json_object_ref(**found);
  if (!converted) return VarAccessError::conversion_error(std::move(converted).error());
  out = std::move(*converted);
  return std::nullopt;
}

}  // namespace detail

template <class V, class Bindings>
Expected<Cow<Value>, EvalError> eval(const Exp& exp, const Env<V, Bindings>& env) {
  return detail::eval_core(exp, env.functions.get(),
                           detail::VarResolver{&detail::resolve_from_env<V, Bindings>, &env});
}

}  // namespace vintrel::interpreter
