// The expression tree.
//
// Every walk over a tree (copy, equality, into_owned, destruction) uses an
// explicit stack: a machine-generated chain such as x == 1 || x == 2 || ...
// builds a tree as deep as the chain, and no depth may exhaust the native
// stack.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vintrel/func.h"
#include "vintrel/sorted_map.h"
#include "vintrel/value.h"
#include "vintrel/var.h"

namespace vintrel {

class Exp {
 public:
  // Declared order of the variants.
  enum class Kind : uint8_t { Value, Function, Variable, Not, Or, And, Eq, Neq, Gt, Lt, Geq, Leq, Array, Object };

  struct Binary {
    std::unique_ptr<Exp> left;
    std::unique_ptr<Exp> right;
  };
  using ExpObject = SortedMap<Exp>;
  // Payload by kind: Value; Function; Variable; Not (one boxed operand);
  // Or..Leq (Binary); Array (list); Object (sorted map).
  using Payload = std::variant<vintrel::Value, FunctionItem, VarAccess, std::unique_ptr<Exp>, Binary,
                               std::vector<Exp>, ExpObject>;

  static Exp value(vintrel::Value v);
  static Exp function(FunctionItem f);
  static Exp variable(VarAccess v);
  static Exp not_(Exp operand);
  static Exp or_(Exp left, Exp right);
  static Exp and_(Exp left, Exp right);
  static Exp eq(Exp left, Exp right);
  static Exp neq(Exp left, Exp right);
  static Exp gt(Exp left, Exp right);
  static Exp lt(Exp left, Exp right);
  static Exp geq(Exp left, Exp right);
  static Exp leq(Exp left, Exp right);
  static Exp array(std::vector<Exp> elements);
  static Exp object(ExpObject entries);
  // Any of Or..Leq.
  static Exp binary(Kind kind, Exp left, Exp right);

  Exp(const Exp& other);  // deep copy; borrowed literal text stays borrowed
  Exp(Exp&& other) noexcept = default;
  Exp& operator=(const Exp& other);
  Exp& operator=(Exp&& other) noexcept;
  ~Exp();

  Kind kind() const noexcept { return kind_; }
  bool is_binary() const noexcept { return kind_ >= Kind::Or && kind_ <= Kind::Leq; }

  // Accessors; each requires the matching kind.
  const vintrel::Value& as_value() const noexcept { return *std::get_if<0>(&payload_); }
  const FunctionItem& as_function() const noexcept { return *std::get_if<1>(&payload_); }
  const VarAccess& as_variable() const noexcept { return *std::get_if<2>(&payload_); }
  const Exp& operand() const noexcept { return **std::get_if<3>(&payload_); }  // Not
  const Exp& left() const noexcept { return *std::get_if<4>(&payload_)->left; }
  const Exp& right() const noexcept { return *std::get_if<4>(&payload_)->right; }
  const std::vector<Exp>& as_array() const noexcept { return *std::get_if<5>(&payload_); }
  const ExpObject& as_object() const noexcept { return *std::get_if<6>(&payload_); }

  const Payload& payload() const noexcept { return payload_; }
  Payload& payload_mut() noexcept { return payload_; }

  // An equal tree that borrows no text.
  Exp into_owned() &&;

  // Structural equality; stops at the first difference.
  friend bool operator==(const Exp& a, const Exp& b);

 private:
  Exp(Kind k, Payload p) noexcept : kind_(k), payload_(std::move(p)) {}
  Kind kind_;
  Payload payload_;
};

// Calls `f` on every variable of the tree (in no particular order), so that
// the tree's owner can prepare its paths; the tree's shape is not changed.
void for_each_variable(Exp& root, const std::function<void(VarAccess&)>& f);

}  // namespace vintrel
