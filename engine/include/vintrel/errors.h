// Engine errors: values with fixed message texts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace vintrel {

class VarAccessError {
 public:
  enum class Kind : uint8_t { Empty, NotFound, KeyNotFound, TypeError, IndexOutOfBounds, ConversionError };

  static VarAccessError empty();
  static VarAccessError not_found(std::string name);
  static VarAccessError key_not_found(std::string path, std::string key);
  static VarAccessError type_error(std::string message);
  static VarAccessError index_out_of_bounds(std::string message);
  static VarAccessError conversion_error(std::string message);

  Kind kind() const noexcept { return kind_; }
  // NotFound: the name; KeyNotFound: the path text; the others: the message.
  const std::string& text() const noexcept { return text_; }
  // KeyNotFound only: the missing key.
  const std::string& key() const noexcept { return key_; }

  // "Variable not found: x", "Object 'a.b' does not contain key 'c'", ...
  void message(std::string& out) const;
  std::string message() const;

  friend bool operator==(const VarAccessError&, const VarAccessError&) = default;

 private:
  VarAccessError(Kind k, std::string t, std::string key = {}) : kind_(k), text_(std::move(t)), key_(std::move(key)) {}
  Kind kind_;
  std::string text_;
  std::string key_;
};

class EvalError;

// A failed call of a registered function.
struct FnCallError {
  std::string name;
  std::unique_ptr<EvalError> error;  // never null

  FnCallError(std::string n, EvalError e);
  FnCallError(const FnCallError& other);  // deep copy
  FnCallError(FnCallError&&) noexcept = default;
  FnCallError& operator=(const FnCallError& other);
  FnCallError& operator=(FnCallError&&) noexcept = default;
  ~FnCallError();
};

class EvalError {
 public:
  enum class Kind : uint8_t {
    VarAccess, FnCall, UndefinedFunction, TypeError, ValueError, RegexError, ArgumentCount, AsyncInSync, Other
  };

  static EvalError var_access(VarAccessError e);
  static EvalError fn_call(std::string name, EvalError inner);
  static EvalError undefined_function(std::string name);
  static EvalError type_error(std::string message);
  static EvalError value_error(std::string message);
  static EvalError regex_error(std::string message);
  static EvalError argument_count(uint64_t expected, uint64_t got);
  static EvalError async_in_sync();
  static EvalError other(std::string message);

  Kind kind() const noexcept { return kind_; }
  // UndefinedFunction: the name; TypeError, ValueError, RegexError, Other: the message.
  const std::string& text() const noexcept { return text_; }
  std::string take_text() && { return std::move(text_); }
  uint64_t expected() const noexcept { return expected_; }  // ArgumentCount
  uint64_t got() const noexcept { return got_; }            // ArgumentCount
  const VarAccessError& var_access_error() const noexcept { return *var_; }  // VarAccess
  const FnCallError& fn_call_error() const noexcept { return *fn_; }         // FnCall

  // The engine's message text, e.g. "Type Error: ...".
  void message(std::string& out) const;
  std::string message() const;

  EvalError(const EvalError& other);  // deep copy
  EvalError(EvalError&&) noexcept = default;
  EvalError& operator=(const EvalError& other);
  EvalError& operator=(EvalError&&) noexcept = default;
  ~EvalError();

 private:
  explicit EvalError(Kind k) : kind_(k) {}
  static EvalError with_text(Kind k, std::string text);
  Kind kind_;
  std::string text_;
  uint64_t expected_ = 0;
  uint64_t got_ = 0;
  std::unique_ptr<VarAccessError> var_;
  std::unique_ptr<FnCallError> fn_;
};

}  // namespace vintrel
