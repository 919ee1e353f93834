#include "vintrel/func.h"

#include "functions/compiled_pattern.h"
#include "vintrel/exp.h"

namespace vintrel {

FunctionItem FunctionItem::new_(std::string_view name, std::vector<Exp> args) {
  const FunctionTable& table = DEFAULT_VTABLE();
  auto it = table.find(name);
  auto literal_pattern = detail::LiteralPattern::of_call(name, args);
  return FunctionItem{std::string(name), std::move(args), it == table.end() ? nullptr : &it->second,
                      std::move(literal_pattern)};
}

}  // namespace vintrel
