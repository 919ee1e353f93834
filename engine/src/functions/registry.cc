// The table of built-in functions, by the names the language spells.
#include <iterator>

#include "vintrel/func.h"
#include "vintrel/functions.h"

namespace vintrel {

namespace {

struct Builtin {
  const char* name;
  FnResult (*fn)(FnArgs);
};

// In the order in which the table receives them.
constexpr Builtin kBuiltins[] = {
    {"matches", functions::matches},
    {"len", functions::len},
    {"startsWith", functions::starts_with},
    {"endsWith", functions::ends_with},
    {"contains", functions::contains},
    {"bool", functions::into_bool},
    {"string", functions::into_string},
    {"int", functions::into_int},
    {"float", functions::into_float},
    {"base64Encode", functions::base64_encode},
    {"base64Decode", functions::base64_decode},
    {"replace", functions::replace},
    {"format", functions::format},
    {"join", functions::join},
    {"split", functions::split},
};

// The caller owns the new table.
FunctionTable* build_default_vtable() {
  auto* table = new FunctionTable;
  table->reserve(std::size(kBuiltins));
  for (const Builtin& b : kBuiltins) table->insert_or_assign(b.name, FnCallback::sync(b.fn));
  return table;
}

}  // namespace

const FunctionTable& DEFAULT_VTABLE() {
  // Built by the first caller while concurrent first callers wait; never
  // freed, so it outlives every static destructor that might still use it.
  static const FunctionTable* const table = build_default_vtable();
  return *table;
}

}  // namespace vintrel
