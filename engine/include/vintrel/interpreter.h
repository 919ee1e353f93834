// The evaluator: one loop over explicit stacks, no native recursion.
#pragma once

#include "vintrel/cow.h"
#include "vintrel/env.h"
#include "vintrel/errors.h"
#include "vintrel/exp.h"
#include "vintrel/result.h"
#include "vintrel/value.h"

namespace vintrel::interpreter {

// Evaluates `exp` against `env`. The result may borrow from the tree (a
// literal passed on unchanged) and from the environment's bound values; a
// caller that keeps it longer copies it.
template <class V>
Expected<Cow<Value>, EvalError> eval(const Exp& exp, const Env<V>& env);

}  // namespace vintrel::interpreter

#include "vintrel/interpreter_impl.h"
