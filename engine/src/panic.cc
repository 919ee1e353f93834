#include "vintrel/panic.h"

namespace vintrel {

void panic(std::string_view message) { throw Panic(std::string(message)); }

}  // namespace vintrel
