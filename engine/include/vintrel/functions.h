// The built-in functions of the language.
#pragma once

#include "vintrel/func.h"

namespace vintrel::functions {

FnResult matches(FnArgs args);
FnResult len(FnArgs args);
FnResult starts_with(FnArgs args);
FnResult ends_with(FnArgs args);
FnResult contains(FnArgs args);
FnResult into_bool(FnArgs args);
FnResult into_string(FnArgs args);
FnResult into_int(FnArgs args);
FnResult into_float(FnArgs args);
FnResult base64_encode(FnArgs args);
FnResult base64_decode(FnArgs args);
FnResult replace(FnArgs args);
FnResult format(FnArgs args);
FnResult join(FnArgs args);
FnResult split(FnArgs args);

}  // namespace vintrel::functions
