// The evaluator: one loop over explicit stacks, no native recursion.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vintrel/cow.h"
#include "vintrel/env.h"
#include "vintrel/errors.h"
#include "vintrel/exp.h"
#include "vintrel/path.h"
#include "vintrel/result.h"
#include "vintrel/value.h"

namespace vintrel::interpreter {

struct Op;
class Program;

namespace detail {
struct VarResolver;
Expected<Cow<Value>, EvalError> eval_core(const Program& program, const FunctionTable& functions,
                                          VarResolver resolve);
}  // namespace detail

// A tree laid out once in the order of its evaluation, so that evaluating
// it many times does not walk the tree again. It refers into the tree,
// which must outlive it and not change.
class Program {
 public:
  explicit Program(const Exp& root);
  Program() noexcept;  // of no tree: evaluates to the "No value on stack" error
  Program(Program&&) noexcept;
  Program& operator=(Program&&) noexcept;
  ~Program();

 private:
  friend Expected<Cow<Value>, EvalError> detail::eval_core(const Program&, const FunctionTable&,
                                                           detail::VarResolver);
  std::vector<Op> ops_;
};

// Evaluates `exp` (or its program) against `env`. The result may borrow
// from the tree (a literal passed on unchanged) and from the environment's
// bound values; a caller that keeps it longer copies it.
template <class V, class Bindings>
Expected<Cow<Value>, EvalError> eval(const Program& program, const Env<V, Bindings>& env);
template <class V, class Bindings>
Expected<Cow<Value>, EvalError> eval(const Exp& exp, const Env<V, Bindings>& env) {
  return eval(Program(exp), env);
}

namespace detail {

// Only the variable lookup depends on the bound-value type, so the loop
// itself is compiled once and reaches the bindings through this callback:
// it finds one variable's value and converts it into `out` (null on
// entry); the Value may borrow text from the data behind `ctx`. False with
// `error` set when the variable cannot be read.
struct VarResolver {
  bool (*fn)(const void* ctx, const VarAccess& var, Value& out, std::optional<VarAccessError>& error);
  const void* ctx;
};

// eval_core, declared above, is the evaluation loop. The result may borrow
// from the program's tree and from the data behind `resolve`.

template <class V, class Bindings>
bool resolve_from_env(const void* ctx, const VarAccess& var, Value& out, std::optional<VarAccessError>& error) {
  const auto& env = *static_cast<const Env<V, Bindings>*>(ctx);
  const V* found = vintrel::detail::read_from_bindings(var, env, error);
  if (!found) return false;
  if (vintrel::detail::convert_bound_ref(*found, out)) return true;
  error = VarAccessError::conversion_error(std::string(vintrel::detail::kUnsupportedValueType));
  return false;
}

}  // namespace detail

template <class V, class Bindings>
Expected<Cow<Value>, EvalError> eval(const Program& program, const Env<V, Bindings>& env) {
  return detail::eval_core(program, env.functions.get(),
                           detail::VarResolver{&detail::resolve_from_env<V, Bindings>, &env});
}

}  // namespace vintrel::interpreter
