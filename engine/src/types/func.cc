#include "vintrel/func.h"

#include "vintrel/exp.h"

namespace vintrel {

FunctionItem FunctionItem::new_(std::string_view name, std::vector<Exp> args) {
  const FunctionTable& table = DEFAULT_VTABLE();
  auto it = table.find(name);
  return FunctionItem{std::string(name), std::move(args), it == table.end() ? nullptr : &it->second};
}

}  // namespace vintrel
