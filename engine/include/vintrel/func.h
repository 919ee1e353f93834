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
namespace detail {
class LiteralPattern;
}

// A call node: the name as written and the argument expressions in order.
struct FunctionItem {
  std::string name;
  std::vector<Exp> args;
  // The built-in of this name in DEFAULT_VTABLE, found once when the node is
  // made, so that evaluating against the default table needs no lookup.
  // Null when no built-in has the name; equality ignores it.
  const FnCallback* builtin = nullptr;
  // For matches whose pattern is a string literal: that pattern, compiled on
  // the node's first evaluation and kept for every later one. Copies of the
  // node share it. Null for every other call; equality ignores it.
  std::shared_ptr<const detail::LiteralPattern> literal_pattern;

  // Copies the name into owned text and takes the argument list.
  static FunctionItem new_(std::string_view name, std::vector<Exp> args);
};

// The argument values of one call, in source order, and the call node they
// were evaluated for; the node is null when a callable is called directly.
// A built-in may use what the node has prepared (literal_pattern).
struct FnArgs : std::span<const Value> {
  using std::span<const Value>::span;
  FnArgs(std::span<const Value> values, const FunctionItem* node) noexcept
      : std::span<const Value>(values), site(node) {}
  const FunctionItem* site = nullptr;
};
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
