#include "vintrel/errors.h"

#include <charconv>

namespace vintrel {

// ---------------------------------------------------------------------------
// VarAccessError

VarAccessError VarAccessError::empty() { return VarAccessError(Kind::Empty, {}); }
VarAccessError VarAccessError::not_found(std::string name) { return VarAccessError(Kind::NotFound, std::move(name)); }
VarAccessError VarAccessError::key_not_found(std::string path, std::string key) {
  return VarAccessError(Kind::KeyNotFound, std::move(path), std::move(key));
}
VarAccessError VarAccessError::type_error(std::string message) {
  return VarAccessError(Kind::TypeError, std::move(message));
}
VarAccessError VarAccessError::index_out_of_bounds(std::string message) {
  return VarAccessError(Kind::IndexOutOfBounds, std::move(message));
}
VarAccessError VarAccessError::conversion_error(std::string message) {
  return VarAccessError(Kind::ConversionError, std::move(message));
}

void VarAccessError::message(std::string& out) const {
  switch (kind_) {
    case Kind::Empty: out += "Variable access is empty"; return;
    case Kind::NotFound: out += "Variable not found: "; break;
    case Kind::KeyNotFound:
      out += "Object '";
      out += text_;
      out += "' does not contain key '";
      out += key_;
      out += '\'';
      return;
    case Kind::TypeError: out += "Type error: "; break;
    case Kind::IndexOutOfBounds: out += "Index out of bounds: "; break;
    case Kind::ConversionError: out += "Conversion error: "; break;
  }
  out += text_;
}

std::string VarAccessError::message() const {
  std::string out;
  message(out);
  return out;
}

// ---------------------------------------------------------------------------
// FnCallError

// Takes the inner error into a new allocation of its own.
FnCallError::FnCallError(std::string n, EvalError e)
    : name(std::move(n)), error(std::make_unique<EvalError>(std::move(e))) {}

FnCallError::FnCallError(const FnCallError& other)
    : name(other.name), error(std::make_unique<EvalError>(*other.error)) {}

FnCallError& FnCallError::operator=(const FnCallError& other) {
  if (this != &other) {
    FnCallError copy(other);
    *this = std::move(copy);
  }
  return *this;
}

FnCallError::~FnCallError() = default;

// ---------------------------------------------------------------------------
// EvalError

EvalError EvalError::var_access(VarAccessError e) {
  EvalError r(Kind::VarAccess);
  r.var_ = std::make_unique<VarAccessError>(std::move(e));
  return r;
}
EvalError EvalError::fn_call(std::string name, EvalError inner) {
  EvalError r(Kind::FnCall);
  r.fn_ = std::make_unique<FnCallError>(std::move(name), std::move(inner));
  return r;
}
EvalError EvalError::with_text(Kind k, std::string text) {
  EvalError r(k);
  r.text_ = std::move(text);
  return r;
}
EvalError EvalError::undefined_function(std::string name) { return with_text(Kind::UndefinedFunction, std::move(name)); }
EvalError EvalError::type_error(std::string message) { return with_text(Kind::TypeError, std::move(message)); }
EvalError EvalError::value_error(std::string message) { return with_text(Kind::ValueError, std::move(message)); }
EvalError EvalError::regex_error(std::string message) { return with_text(Kind::RegexError, std::move(message)); }
EvalError EvalError::argument_count(uint64_t expected, uint64_t got) {
  EvalError r(Kind::ArgumentCount);
  r.expected_ = expected;
  r.got_ = got;
  return r;
}
EvalError EvalError::async_in_sync() { return EvalError(Kind::AsyncInSync); }
EvalError EvalError::other(std::string message) { return with_text(Kind::Other, std::move(message)); }

static void append_u64(uint64_t n, std::string& out) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, r.ptr);
}

// A chain of FnCall errors is written in a loop: a registered function may
// return an error that nests any number of calls.
void EvalError::message(std::string& out) const {
  const EvalError* e = this;
  while (e->kind_ == Kind::FnCall) {
    if (!e->fn_ || !e->fn_->error) return;  // moved-from
    out += "Error calling function '";
    out += e->fn_->name;
    out += "': ";
    e = e->fn_->error.get();
  }
  switch (e->kind_) {
    case Kind::VarAccess:
      if (e->var_) e->var_->message(out);
      return;
    case Kind::FnCall: return;
    case Kind::UndefinedFunction: out += "Undefined function: "; break;
    case Kind::TypeError: out += "Type Error: "; break;
    case Kind::ValueError: out += "Value Error: "; break;
    case Kind::RegexError: out += "Regex Error: "; break;
    case Kind::ArgumentCount:
      out += "Argument Error: Expected ";
      append_u64(e->expected_, out);
      out += " arguments, but got ";
      append_u64(e->got_, out);
      return;
    case Kind::AsyncInSync: out += "Cannot call an async function in a sync context"; return;
    case Kind::Other: break;
  }
  out += e->text_;
}

std::string EvalError::message() const {
  std::string out;
  message(out);
  return out;
}

// Deep copy; the FnCall chain is copied link by link in a loop.
EvalError::EvalError(const EvalError& other) : kind_(other.kind_) {
  const EvalError* src = &other;
  EvalError* dst = this;
  for (;;) {
    dst->kind_ = src->kind_;
    dst->text_ = src->text_;
    dst->expected_ = src->expected_;
    dst->got_ = src->got_;
    if (src->var_) dst->var_ = std::make_unique<VarAccessError>(*src->var_);
    if (!src->fn_) break;
    dst->fn_ = std::make_unique<FnCallError>(src->fn_->name, EvalError(Kind::Other));
    if (!src->fn_->error) break;
    src = src->fn_->error.get();
    dst = dst->fn_->error.get();
  }
}

EvalError& EvalError::operator=(const EvalError& other) {
  if (this != &other) {
    EvalError copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// Unlinks the FnCall chain one link at a time, so no nesting depth turns
// into native recursion.
EvalError::~EvalError() {
  while (fn_) {
    std::unique_ptr<FnCallError> link = std::move(fn_);
    if (link->error) fn_ = std::move(link->error->fn_);
  }
}

}  // namespace vintrel
