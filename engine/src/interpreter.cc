// The evaluation loop: one dispatch over explicit stacks of tasks, values and
// object keys. A node's first operand is visited straight away instead of
// being pushed and popped again; the order in which operands, lookups and
// calls happen is the one the stacks alone would give.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "vintrel/interpreter.h"
#include "vintrel/panic.h"
#include "vintrel/small_stack.h"

namespace vintrel::interpreter::detail {
namespace {

enum class CompareOp : uint8_t { Lt, Gt, Leq, Geq };

// One pending step. Everything it refers to belongs to the tree. Built in
// place on the stack: a task assembled elsewhere and copied in costs a
// store-forwarding stall per push.
struct EvalTask {
  enum class Kind : uint8_t { PushKey, Visit, Not, Or, And, Eq, Neq, Compare, Call, MakeArray, MakeObject };
  Kind kind;
  CompareOp op;        // Compare
  const void* ref;     // Visit, Or, And: an Exp; PushKey: the key; Call: the FunctionItem
  uint64_t count;      // Call, MakeArray, MakeObject

  EvalTask(Kind k, const void* r = nullptr, uint64_t n = 0, CompareOp o = CompareOp::Lt) noexcept
      : kind(k), op(o), ref(r), count(n) {}
  const Exp* exp() const noexcept { return static_cast<const Exp*>(ref); }
  const std::string& text() const noexcept { return *static_cast<const std::string*>(ref); }
};

// A value_stack entry: a literal of the tree, borrowed, or a value of its
// own. Cheaper than a Cow<Value>: entries are built in place and a Bool
// result replaces the entry it comes from.
struct Slot {
  const Value* lit = nullptr;  // the borrowed literal; null when `own` is the value
  Value own;

  Slot() noexcept = default;
  explicit Slot(const Value& literal) noexcept : lit(&literal) {}
  explicit Slot(Value&& v) noexcept : own(std::move(v)) {}

  const Value& get() const noexcept { return lit ? *lit : own; }
  void set_bool(bool b) {
    lit = nullptr;
    own = Value::Bool(b);
  }
  // Where a value must be owned: a borrowed literal is copied (its text stays
  // borrowed), an owned value moves.
  template <class Sink>
  void move_into(Sink&& sink) {
    if (lit)
      sink(*lit);
    else
      sink(std::move(own));
  }
  Cow<Value> into_cow() && { return lit ? Cow<Value>::Borrowed(*lit) : Cow<Value>::Owned(std::move(own)); }
};

// Sized for the trees people write: these never reach the heap.
using TaskStack = vintrel::detail::SmallStack<EvalTask, 64>;
using ValueStack = vintrel::detail::SmallStack<Slot, 16>;
using KeyStack = vintrel::detail::SmallStack<const std::string*, 8>;
using ArgList = vintrel::detail::SmallStack<Value, 8>;

[[noreturn, gnu::cold]] void value_underflow() { panic("Value stack underflow"); }

void need_values(const ValueStack& values, uint64_t n) {
  if (values.size() < n) value_underflow();
}

[[gnu::cold, gnu::noinline]] EvalError cannot_compare(const Value& l, const Value& r) {
  std::string m = "Cannot compare values of different types: ";
  m += type_name(l.get_type());
  m += " and ";
  m += type_name(r.get_type());
  return EvalError::type_error(std::move(m));
}

// Only two ints or two floats are ordered; NaN makes every test false.
template <class T>
bool test(CompareOp op, T l, T r) {
  switch (op) {
    case CompareOp::Lt: return l < r;
    case CompareOp::Gt: return l > r;
    case CompareOp::Leq: return l <= r;
    case CompareOp::Geq: return l >= r;
  }
  return false;
}

CompareOp compare_op(Exp::Kind k) {
  switch (k) {
    case Exp::Kind::Lt: return CompareOp::Lt;
    case Exp::Kind::Gt: return CompareOp::Gt;
    case Exp::Kind::Leq: return CompareOp::Leq;
    default: return CompareOp::Geq;
  }
}

class Machine {
 public:
  Machine(const FunctionTable& functions, VarResolver resolve)
      : functions_(functions), default_table_(&functions == &DEFAULT_VTABLE()), resolve_(resolve) {}

  Expected<Cow<Value>, EvalError> run(const Exp& root) {
    const Exp* node = &root;
    for (;;) {
      if (node) {
        auto failed = visit(node);
        if (failed) return unexpected(std::move(*failed));
      }
      if (tasks_.empty()) break;
      EvalTask t = tasks_.pop();
      auto failed = step(t, node);
      if (failed) return unexpected(std::move(*failed));
    }
    if (values_.empty()) return unexpected(EvalError::value_error("No value on stack after evaluation"));
    return std::move(values_.back()).into_cow();
  }

 private:
  using Failure = std::optional<EvalError>;

  // Visits `node` and, through its leftmost operands, every node that would
  // run right after it; leaves `node` null.
  Failure visit(const Exp*& node) {
    while (node) {
      const Exp& e = *node;
      node = nullptr;
      switch (e.kind()) {
        case Exp::Kind::Value:
          values_.emplace_back(e.as_value());
          break;
        case Exp::Kind::Variable: {
          auto failed = resolve_.fn(resolve_.ctx, e.as_variable(), values_.emplace_back().own);
          if (failed) return EvalError::var_access(std::move(*failed));
          break;
        }
        case Exp::Kind::Not:
          tasks_.emplace_back(EvalTask::Kind::Not);
          node = &e.operand();
          break;
        case Exp::Kind::Or:
          tasks_.emplace_back(EvalTask::Kind::Or, &e.right());
          node = &e.left();
          break;
        case Exp::Kind::And:
          tasks_.emplace_back(EvalTask::Kind::And, &e.right());
          node = &e.left();
          break;
        case Exp::Kind::Eq:
        case Exp::Kind::Neq:
          tasks_.emplace_back(e.kind() == Exp::Kind::Eq ? EvalTask::Kind::Eq : EvalTask::Kind::Neq);
          tasks_.emplace_back(EvalTask::Kind::Visit, &e.right());
          node = &e.left();
          break;
        case Exp::Kind::Gt:
        case Exp::Kind::Lt:
        case Exp::Kind::Geq:
        case Exp::Kind::Leq:
          tasks_.emplace_back(EvalTask::Kind::Compare, nullptr, 0, compare_op(e.kind()));
          tasks_.emplace_back(EvalTask::Kind::Visit, &e.right());
          node = &e.left();
          break;
        case Exp::Kind::Function: {
          const FunctionItem& f = e.as_function();
          size_t n = f.args.size();
          tasks_.emplace_back(EvalTask::Kind::Call, &f, n);
          // Arguments run first to last: the first one is visited now.
          for (size_t i = n; i > 1; --i) tasks_.emplace_back(EvalTask::Kind::Visit, &f.args[i - 1]);
          if (n > 0) node = &f.args[0];
          break;
        }
        case Exp::Kind::Array: {
          const auto& elems = e.as_array();
          size_t n = elems.size();
          tasks_.emplace_back(EvalTask::Kind::MakeArray, nullptr, n);
          // Elements run last to first: the last one is visited now.
          for (size_t i = 0; i + 1 < n; ++i) tasks_.emplace_back(EvalTask::Kind::Visit, &elems[i]);
          if (n > 0) node = &elems[n - 1];
          break;
        }
        case Exp::Kind::Object: {
          const auto& entries = e.as_object();
          size_t n = entries.size();
          tasks_.emplace_back(EvalTask::Kind::MakeObject, nullptr, n);
          // Entries run in descending key order, each key pushed just
          // before its value runs: the greatest is started now.
          auto it = entries.begin();
          for (size_t i = 0; i + 1 < n; ++i, ++it) {
            tasks_.emplace_back(EvalTask::Kind::Visit, &it->second);
            tasks_.emplace_back(EvalTask::Kind::PushKey, &it->first);
          }
          if (n > 0) {
            keys_.push_back(&it->first);
            node = &it->second;
          }
          break;
        }
      }
    }
    return std::nullopt;
  }

  // Carries out one popped task; may hand back a node to visit next.
  Failure step(const EvalTask& t, const Exp*& node) {
    switch (t.kind) {
      case EvalTask::Kind::PushKey:
        keys_.push_back(&t.text());
        return std::nullopt;
      case EvalTask::Kind::Visit:
        node = t.exp();
        return std::nullopt;
      case EvalTask::Kind::Not: {
        need_values(values_, 1);
        Slot& top = values_.back();
        top.set_bool(!is_truthy(top.get()));
        return std::nullopt;
      }
      case EvalTask::Kind::Or:
        need_values(values_, 1);
        // A truthy left value stays where it is, borrowed or owned.
        if (!is_truthy(values_.back().get())) {
          values_.drop(1);
          node = t.exp();
        }
        return std::nullopt;
      case EvalTask::Kind::And:
        need_values(values_, 1);
        if (is_truthy(values_.back().get())) {
          values_.drop(1);
          node = t.exp();
        } else {
          values_.back().set_bool(false);
        }
        return std::nullopt;
      case EvalTask::Kind::Eq:
      case EvalTask::Kind::Neq: {
        need_values(values_, 2);
        size_t s = values_.size();
        bool equal = values_[s - 2].get() == values_[s - 1].get();
        values_.drop(1);
        values_.back().set_bool(t.kind == EvalTask::Kind::Eq ? equal : !equal);
        return std::nullopt;
      }
      case EvalTask::Kind::Compare:
        return compare(t.op);
      case EvalTask::Kind::Call:
        return call(*static_cast<const FunctionItem*>(t.ref), t.count);
      case EvalTask::Kind::MakeArray:
        make_array(t.count);
        return std::nullopt;
      case EvalTask::Kind::MakeObject:
        make_object(t.count);
        return std::nullopt;
    }
    return std::nullopt;
  }

  Failure compare(CompareOp op) {
    need_values(values_, 2);
    size_t s = values_.size();
    const Value& l = values_[s - 2].get();
    const Value& r = values_[s - 1].get();
    bool outcome;
    if (l.is_int() && r.is_int()) {
      outcome = test(op, l.as_int(), r.as_int());
    } else if (l.is_float() && r.is_float()) {
      outcome = test(op, l.as_float(), r.as_float());
    } else {
      return cannot_compare(l, r);
    }
    values_.drop(1);
    values_.back().set_bool(outcome);
    return std::nullopt;
  }

  Failure call(const FunctionItem& item, uint64_t n) {
    const std::string& name = item.name;
    const FnCallback* entry = item.builtin;
    if (!entry || !default_table_) {
      auto it = functions_.find(name);
      if (it == functions_.end()) return EvalError::undefined_function(name);
      entry = &it->second;
    }
    need_values(values_, n);
    // The arguments in source order: the first one is the deepest.
    size_t base = values_.size() - n;
    for (size_t i = 0; i < n; ++i) values_[base + i].move_into([&](auto&& v) { args_.emplace_back(std::forward<decltype(v)>(v)); });
    values_.drop(n);
    const SyncCallable* f = entry->as_sync();
    if (!f) {
      args_.clear();
      return EvalError::fn_call(name, EvalError::async_in_sync());
    }
    FnResult r = (*f)(FnArgs({args_.data(), n}, &item));
    if (!r) {
      args_.clear();
      return EvalError::fn_call(name, std::move(r).error());
    }
    // The result may view the text of an argument this call owns: it takes
    // its own copy before the arguments go.
    values_.emplace_back(std::move(r).value().into_owned());
    args_.clear();
    return std::nullopt;
  }

  void make_array(uint64_t n) {
    need_values(values_, n);
    ValueArray list;
    list.reserve(n);
    // Element 0 was evaluated last, so it is on top.
    size_t s = values_.size();
    for (size_t i = 0; i < n; ++i) values_[s - 1 - i].move_into([&](auto&& v) { list.push_back(std::forward<decltype(v)>(v)); });
    values_.drop(n);
    values_.emplace_back(Value::Array(std::move(list)));
  }

  void make_object(uint64_t n) {
    ValueObject map;
    map.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
      if (keys_.empty()) panic("Object key stack underflow");
      need_values(values_, 1);
      const std::string& key = *keys_.pop();
      // Keys come off the stack in ascending order; anything else is merged.
      bool in_order = map.empty() || (map.end() - 1)->first < key;
      values_.back().move_into([&](auto&& v) {
        if (in_order)
          map.push_back_sorted(key, Value(std::forward<decltype(v)>(v)));
        else
          map.insert_or_assign(key, Value(std::forward<decltype(v)>(v)));
      });
      values_.drop(1);
    }
    values_.emplace_back(Value::Object(std::move(map)));
  }

  const FunctionTable& functions_;
  bool default_table_;  // call nodes then carry their built-in already
  VarResolver resolve_;
  TaskStack tasks_;
  ValueStack values_;
  KeyStack keys_;
  ArgList args_;  // reused by every call of this run
};

}  // namespace

Expected<Cow<Value>, EvalError> eval_core(const Exp& exp, const FunctionTable& functions, VarResolver resolve) {
  return Machine(functions, resolve).run(exp);
}

}  // namespace vintrel::interpreter::detail
