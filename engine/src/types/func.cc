#include "vintrel/func.h"

#include "vintrel/exp.h"

namespace vintrel {

FunctionItem FunctionItem::new_(std::string_view name, std::vector<Exp> args) {
  return FunctionItem{std::string(name), std::move(args)};
}

}  // namespace vintrel
