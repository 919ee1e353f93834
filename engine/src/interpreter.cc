// The evaluation loop over a tree laid out as a program: the tree's nodes in
// the order in which explicit stacks of tasks would carry them out (every
// operand before its operator, call arguments first to last, array elements
// last to first, object entries in descending key order), with a jump past
// the right operand of || and &&. The order of operands, lookups, calls and
// errors is therefore exactly the stacks' order, while a node costs one
// dispatch instead of a task pushed and popped. Nothing recurses: the
// program is made from the tree with an explicit stack, and runs as a loop
// over a stack of values.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vintrel/interpreter.h"
#include "vintrel/panic.h"
#include "vintrel/small_stack.h"

namespace vintrel::interpreter {

enum class CompareOp : uint8_t { Lt, Gt, Leq, Geq };

// One step of a program. Everything it refers to belongs to the tree.
struct Op {
  enum class Code : uint8_t { Literal, Variable, Not, OrJump, AndJump, Eq, Neq, Compare, Call, MakeArray, MakeObject };
  Code code;
  CompareOp compare = CompareOp::Lt;  // Compare
  // Literal: a Value; Variable: a VarAccess; Call: a FunctionItem; MakeObject:
  // the Exp::ExpObject whose keys it takes.
  const void* ref = nullptr;
  uint64_t count = 0;  // Call, MakeArray, MakeObject: values taken; OrJump, AndJump: where to go
};

namespace {

CompareOp compare_op(Exp::Kind k) {
  switch (k) {
    case Exp::Kind::Lt: return CompareOp::Lt;
    case Exp::Kind::Gt: return CompareOp::Gt;
    case Exp::Kind::Leq: return CompareOp::Leq;
    default: return CompareOp::Geq;
  }
}

}  // namespace

Program::Program(const Exp& root) {
  // A node waiting for its operands: `stage` counts what has been laid out,
  // `jump` is the position of an || or && jump still to be aimed.
  struct Pending {
    const Exp* node;
    uint8_t stage;
    size_t jump;
  };
  vintrel::SmallStack<Pending, 32> pending;
  pending.push_back({&root, 0, 0});
  ops_.reserve(32);
  auto emit = [this](Op::Code code, const void* ref = nullptr, uint64_t count = 0) {
    ops_.push_back(Op{code, CompareOp::Lt, ref, count});
  };
  while (!pending.empty()) {
    size_t at = pending.size() - 1;
    const Exp& e = *pending[at].node;
    uint8_t stage = pending[at].stage++;
    switch (e.kind()) {
      case Exp::Kind::Value:
        emit(Op::Code::Literal, &e.as_value());
        pending.drop(1);
        break;
      case Exp::Kind::Variable:
        emit(Op::Code::Variable, &e.as_variable());
        pending.drop(1);
        break;
      case Exp::Kind::Not:
        if (stage == 0) {
          pending.push_back({&e.operand(), 0, 0});
        } else {
          emit(Op::Code::Not);
          pending.drop(1);
        }
        break;
      case Exp::Kind::Or:
      case Exp::Kind::And:
        if (stage == 0) {
          pending.push_back({&e.left(), 0, 0});
        } else if (stage == 1) {
          pending[at].jump = ops_.size();
          emit(e.kind() == Exp::Kind::Or ? Op::Code::OrJump : Op::Code::AndJump);
          pending.push_back({&e.right(), 0, 0});
        } else {
          ops_[pending[at].jump].count = ops_.size();  // past the right operand
          pending.drop(1);
        }
        break;
      case Exp::Kind::Eq:
      case Exp::Kind::Neq:
      case Exp::Kind::Gt:
      case Exp::Kind::Lt:
      case Exp::Kind::Geq:
      case Exp::Kind::Leq:
        if (stage == 0) {
          pending.push_back({&e.right(), 0, 0});
          pending.push_back({&e.left(), 0, 0});  // on top: laid out first
        } else {
          if (e.kind() == Exp::Kind::Eq) {
            emit(Op::Code::Eq);
          } else if (e.kind() == Exp::Kind::Neq) {
            emit(Op::Code::Neq);
          } else {
            emit(Op::Code::Compare);
            ops_.back().compare = compare_op(e.kind());
          }
          pending.drop(1);
        }
        break;
      case Exp::Kind::Function: {
        const FunctionItem& f = e.as_function();
        if (stage == 0) {
          // Arguments first to last: the first on top.
          for (size_t i = f.args.size(); i > 0; --i) pending.push_back({&f.args[i - 1], 0, 0});
        } else {
          emit(Op::Code::Call, &f, f.args.size());
          pending.drop(1);
        }
        break;
      }
      case Exp::Kind::Array: {
        const auto& elems = e.as_array();
        if (stage == 0) {
          // Elements last to first: the last on top.
          for (const Exp& x : elems) pending.push_back({&x, 0, 0});
        } else {
          emit(Op::Code::MakeArray, nullptr, elems.size());
          pending.drop(1);
        }
        break;
      }
      case Exp::Kind::Object: {
        const auto& entries = e.as_object();
        if (stage == 0) {
          // Entries in descending key order: the greatest key on top.
          for (const auto& entry : entries) pending.push_back({&entry.second, 0, 0});
        } else {
          emit(Op::Code::MakeObject, &entries, entries.size());
          pending.drop(1);
        }
        break;
      }
    }
  }
}

Program::Program() noexcept = default;
Program::~Program() = default;
Program::Program(Program&&) noexcept = default;
Program& Program::operator=(Program&&) noexcept = default;

namespace detail {
namespace {

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
using ValueStack = vintrel::SmallStack<Slot, 16>;
using ArgList = vintrel::SmallStack<Value, 8>;

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

class Machine {
 public:
  Machine(const FunctionTable& functions, VarResolver resolve)
      : functions_(functions), default_table_(&functions == &DEFAULT_VTABLE()), resolve_(resolve) {}

  Expected<Cow<Value>, EvalError> run(const std::vector<Op>& ops) {
    const size_t end = ops.size();
    for (size_t pc = 0; pc < end; ++pc) {
      const Op& op = ops[pc];
      switch (op.code) {
        case Op::Code::Literal:
          values_.emplace_back(*static_cast<const Value*>(op.ref));
          break;
        case Op::Code::Variable:
          if (!resolve_.fn(resolve_.ctx, *static_cast<const VarAccess*>(op.ref), values_.emplace_back().own,
                           var_failure_))
            return unexpected(EvalError::var_access(std::move(*var_failure_)));
          break;
        case Op::Code::Not: {
          need_values(values_, 1);
          Slot& top = values_.back();
          top.set_bool(!is_truthy(top.get()));
          break;
        }
        case Op::Code::OrJump:
          need_values(values_, 1);
          // A truthy left value is the result, borrowed or owned as it is;
          // otherwise the right operand's value is.
          if (is_truthy(values_.back().get()))
            pc = op.count - 1;
          else
            values_.drop(1);
          break;
        case Op::Code::AndJump:
          need_values(values_, 1);
          if (is_truthy(values_.back().get())) {
            values_.drop(1);
          } else {
            values_.back().set_bool(false);
            pc = op.count - 1;
          }
          break;
        case Op::Code::Eq:
        case Op::Code::Neq: {
          need_values(values_, 2);
          size_t s = values_.size();
          bool equal = values_[s - 2].get() == values_[s - 1].get();
          values_.drop(1);
          values_.back().set_bool(op.code == Op::Code::Eq ? equal : !equal);
          break;
        }
        case Op::Code::Compare:
          if (!compare(op.compare)) return unexpected(std::move(*failure_));
          break;
        case Op::Code::Call:
          if (!call(*static_cast<const FunctionItem*>(op.ref), op.count)) return unexpected(std::move(*failure_));
          break;
        case Op::Code::MakeArray:
          make_array(op.count);
          break;
        case Op::Code::MakeObject:
          make_object(*static_cast<const Exp::ExpObject*>(op.ref));
          break;
      }
    }
    if (values_.empty()) return unexpected(EvalError::value_error("No value on stack after evaluation"));
    return std::move(values_.back()).into_cow();
  }

 private:
  // A failure leaves its error in failure_ and reports false, which keeps
  // the error out of every step's return value.
  bool fail(EvalError e) {
    failure_ = std::move(e);
    return false;
  }

  bool compare(CompareOp op) {
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
      return fail(cannot_compare(l, r));
    }
    values_.drop(1);
    values_.back().set_bool(outcome);
    return true;
  }

  bool call(const FunctionItem& item, uint64_t n) {
    const std::string& name = item.name;
    const FnCallback* entry = item.builtin;
    if (!entry || !default_table_) {
      auto it = functions_.find(name);
      if (it == functions_.end()) return fail(EvalError::undefined_function(name));
      entry = &it->second;
    }
    need_values(values_, n);
    // The arguments in source order: the first one is the deepest.
    size_t base = values_.size() - n;
    for (size_t i = 0; i < n; ++i) values_[base + i].move_into([&](auto&& v) { args_.emplace_back(std::forward<decltype(v)>(v)); });
    values_.drop(n);
    const FnCallback::Sync* f = entry->sync_entry();
    if (!f) {
      args_.clear();
      return fail(EvalError::fn_call(name, EvalError::async_in_sync()));
    }
    FnResult r = (*f)(FnArgs({args_.data(), n}, &item));
    if (!r) {
      args_.clear();
      return fail(EvalError::fn_call(name, std::move(r).error()));
    }
    // The result may view the text of an argument this call owns: it takes
    // its own copy before the arguments go. Most results are scalars, which
    // have no text.
    Value& result = values_.emplace_back(std::move(r).value()).own;
    if (result.is_string())
      result.as_cow_str().make_owned();
    else if (result.is_container())
      result = std::move(result).into_owned();
    args_.clear();
    return true;
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

  // The values of an object literal's entries, the one of the smallest key
  // on top; the keys come from the literal, unique and in ascending order.
  void make_object(const Exp::ExpObject& entries) {
    size_t n = entries.size();
    need_values(values_, n);
    ValueObject map;
    map.reserve(n);
    size_t s = values_.size();
    size_t i = 0;
    for (const auto& entry : entries) {
      values_[s - 1 - i++].move_into([&](auto&& v) { map.push_back_sorted(entry.first, Value(std::forward<decltype(v)>(v))); });
    }
    values_.drop(n);
    values_.emplace_back(Value::Object(std::move(map)));
  }

  const FunctionTable& functions_;
  bool default_table_;  // call nodes then carry their built-in already
  VarResolver resolve_;
  ValueStack values_;
  ArgList args_;  // reused by every call of this run
  std::optional<EvalError> failure_;
  std::optional<VarAccessError> var_failure_;
};

}  // namespace

Expected<Cow<Value>, EvalError> eval_core(const Program& program, const FunctionTable& functions,
                                          VarResolver resolve) {
  return Machine(functions, resolve).run(program.ops_);
}

}  // namespace detail
}  // namespace vintrel::interpreter
