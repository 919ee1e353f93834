// Call nodes, registered functions and the table that holds them.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "vintrel/errors.h"
#include "vintrel/result.h"
#include "vintrel/utils.h"
#include "vintrel/value.h"

namespace vintrel {

class Exp;
struct FnCallback;

// A call node: the name as written and the argument expressions in order.
struct FunctionItem {
  std::string name;
  std::vector<Exp> args;
  // The built-in of this name in DEFAULT_VTABLE, found once when the node is
  // made, so that evaluating against the default table needs no lookup.
  // Null when no built-in has the name; equality ignores it.
  const FnCallback* builtin = nullptr;

  // Copies the name into owned text and takes the argument list.
  static FunctionItem new_(std::string_view name, std::vector<Exp> args);
};

using FnArgs = std::span<const Value>;
using FnResult = Expected<Value, EvalError>;
// Takes the argument values of one call, in source order.
using SyncCallable = std::function<FnResult(FnArgs)>;
// Nothing in the system creates or calls one; the interpreter refuses it.
using AsyncCallable = std::function<void(FnArgs, std::function<void(FnResult)>)>;

// A registered function. Copies share the callable through an atomic
// reference count.
struct FnCallback {
  struct Sync {
    std::shared_ptr<const SyncCallable> f;
  };
  struct Async {
    std::shared_ptr<const AsyncCallable> f;
  };
  std::variant<Sync, Async> v;

  static FnCallback sync(SyncCallable f) { return {Sync{std::make_shared<const SyncCallable>(std::move(f))}}; }
  static FnCallback async(AsyncCallable f) { return {Async{std::make_shared<const AsyncCallable>(std::move(f))}}; }
  const SyncCallable* as_sync() const noexcept {
    auto* s = std::get_if<Sync>(&v);
    return s ? s->f.get() : nullptr;
  }
};

// Name to function; lookup is byte-exact, inserting replaces.
using FunctionTable = std::unordered_map<std::string, FnCallback, NameHash, std::equal_to<>>;

// The fifteen built-ins, built on first use (thread-safe) and never freed.
const FunctionTable& DEFAULT_VTABLE();

}  // namespace vintrel
