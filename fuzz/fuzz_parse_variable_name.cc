// parse_variable_name over arbitrary UTF-8 text.
//
// Either a path comes back, whose rest is a tail of the input and whose
// names are non-empty and never start with a digit, or a ParseError whose
// input is a tail of the input. The path survives the source text.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "vintrel/parser.h"
#include "vintrel/var.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (!fuzz::is_utf8(in)) return -1;

  fuzz::PrivateText source(in);
  std::string_view text = source.view();

  auto r = vintrel::parse_variable_name(text);
  if (!r) {
    fuzz::require(fuzz::is_suffix_view(text, r.error().input), "error input is a tail of the text");
    fuzz::require(static_cast<int>(r.error().kind) < vintrel::kErrorKindCount, "error kind in range");
    fuzz::require(!vintrel::error_kind_name(r.error().kind).empty(), "error kind has a name");
    return 0;
  }
  fuzz::require(fuzz::is_suffix_view(text, r->rest), "rest is a tail of the text");
  fuzz::require(r->rest.size() < text.size(), "a path consumes something");
  vintrel::VarAccess path = std::move(r->value);
  source.release();

  fuzz::require(!path.names.empty(), "a path has a name");
  std::string shown;
  for (const vintrel::VarName& n : path.names) {
    fuzz::require(!n.name.empty(), "names are never empty");
    fuzz::require(!(n.name[0] >= '0' && n.name[0] <= '9'), "names never start with a digit", n.name);
    fuzz::require(fuzz::is_utf8(n.name), "names are UTF-8", n.name);
    n.display_fmt(shown);
  }
  vintrel::VarAccess copy = path;
  fuzz::require(copy == path, "a copy equals its path");

  // The same text parses to the same path.
  auto again = vintrel::parse_variable_name(in);
  fuzz::require(again.has_value() && again->value == path, "parsing is deterministic");
  return 0;
}
