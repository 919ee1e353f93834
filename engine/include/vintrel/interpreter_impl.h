// Template part of vintrel/interpreter.h: only the variable lookup depends on
// the bound-value type, so the evaluation loop itself is compiled once, in
// interpreter.cc, and reaches the bindings through a resolver callback.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "vintrel/path.h"

namespace vintrel::interpreter {

namespace detail {

// Finds the value of one variable and converts it into `out` (null on
// entry); the Value may borrow text from the data behind `ctx`.
struct VarResolver {
  std::optional<VarAccessError> (*fn)(const void* ctx, const VarAccess& var, Value& out);
  const void* ctx;
};

// The evaluation loop. The result may borrow from `exp` and from the data
// behind `resolve`.
Expected<Cow<Value>, EvalError> eval_core(const Exp& exp, const FunctionTable& functions, VarResolver resolve);

template <class V>
std::optional<VarAccessError> resolve_from_env(const void* ctx, const VarAccess& var, Value& out) {
  const auto& env = *static_cast<const Env<V>*>(ctx);
  auto found = var.access_from_bindings(env);
  if (!found) return std::move(found).error();
  if (!vintrel::detail::convert_bound_ref(**found, out))
    return VarAccessError::conversion_error(std::string(vintrel::detail::kUnsupportedValueType));
  return std::nullopt;
}

}  // namespace detail

template <class V>
Expected<Cow<Value>, EvalError> eval(const Exp& exp, const Env<V>& env) {
  return detail::eval_core(exp, env.functions.get(), detail::VarResolver{&detail::resolve_from_env<V>, &env});
}

}  // namespace vintrel::interpreter
