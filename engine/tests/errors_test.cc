#include <gtest/gtest.h>

#include <memory>

#include "small_stack.h"
#include "vintrel/errors.h"

using vintrel::EvalError;
using vintrel::VarAccessError;

TEST(ErrorMessages, Table) {
  struct Case {
    EvalError e;
    const char* text;
  };
  const Case cases[] = {
      {EvalError::var_access(VarAccessError::empty()), "Variable access is empty"},
      {EvalError::var_access(VarAccessError::not_found("x")), "Variable not found: x"},
      {EvalError::var_access(VarAccessError::key_not_found("a.b", "c")), "Object 'a.b' does not contain key 'c'"},
      {EvalError::var_access(VarAccessError::type_error("m")), "Type error: m"},
      {EvalError::var_access(VarAccessError::index_out_of_bounds("m")), "Index out of bounds: m"},
      {EvalError::var_access(VarAccessError::conversion_error("m")), "Conversion error: m"},
      {EvalError::fn_call("len", EvalError::type_error("Expected a string, array, or object, got: 'int'")),
       "Error calling function 'len': Type Error: Expected a string, array, or object, got: 'int'"},
      {EvalError::fn_call("f", EvalError::fn_call("g", EvalError::value_error("v"))),
       "Error calling function 'f': Error calling function 'g': Value Error: v"},
      {EvalError::fn_call("f", EvalError::async_in_sync()),
       "Error calling function 'f': Cannot call an async function in a sync context"},
      {EvalError::undefined_function("nope"), "Undefined function: nope"},
      {EvalError::regex_error("bad {"), "Regex Error: bad {"},
      {EvalError::argument_count(1, 0), "Argument Error: Expected 1 arguments, but got 0"},
      {EvalError::argument_count(UINT64_MAX, 3), "Argument Error: Expected 18446744073709551615 arguments, but got 3"},
      {EvalError::async_in_sync(), "Cannot call an async function in a sync context"},
      {EvalError::other("plain {} text"), "plain {} text"},
      {EvalError::other(""), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.e.message(), c.text);
}

TEST(ErrorCopy, FnCallCopyIsIndependent) {
  auto src = std::make_unique<EvalError>(
      EvalError::fn_call("f", EvalError::fn_call("g", EvalError::var_access(VarAccessError::key_not_found("p", "k")))));
  EvalError copy = *src;
  const EvalError* src_inner = src->fn_call_error().error.get();
  EXPECT_NE(copy.fn_call_error().error.get(), src_inner);
  std::string expected = src->message();
  src.reset();
  EXPECT_EQ(copy.message(), expected);
  EXPECT_EQ(copy.kind(), EvalError::Kind::FnCall);
  EXPECT_EQ(copy.fn_call_error().name, "f");
  const EvalError& innermost = *copy.fn_call_error().error->fn_call_error().error;
  EXPECT_EQ(innermost.var_access_error(), VarAccessError::key_not_found("p", "k"));

  EvalError assigned = EvalError::other("x");
  assigned = copy;
  EXPECT_EQ(assigned.message(), expected);
  EvalError args = EvalError::argument_count(2, 5);
  EvalError args_copy(args);
  EXPECT_EQ(args_copy.expected(), 2u);
  EXPECT_EQ(args_copy.got(), 5u);
}

// A registered function may return errors nested to any depth.
TEST(ErrorCopy, DeepFnCallChainOnSmallStack) {
  vintrel_test::run_on_small_stack([] {
    EvalError e = EvalError::other("bottom");
    for (int i = 0; i < 100000; ++i) e = EvalError::fn_call("f", std::move(e));
    EvalError copy = e;
    std::string m = copy.message();
    EXPECT_EQ(m.size(), 100000 * std::string("Error calling function 'f': ").size() + 6);
    EXPECT_EQ(m.substr(m.size() - 6), "bottom");
  });
}
