#include "vintrel/var.h"

#include <charconv>

#include "vintrel/panic.h"

namespace vintrel {

void VarName::display_fmt(std::string& out) const {
  out += name;
  if (index) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, *index);
    out += '[';
    out.append(buf, r.ptr);
    out += ']';
  }
}

// Takes the names; the path owns them from then on.
VarAccess VarAccess::new_(std::vector<VarName> names) {
  if (names.empty()) panic("Variable access must have at least one name");
  return VarAccess{std::move(names)};
}

std::string VarAccess::resolve_name_until(const std::vector<VarName>& names, const VarName* root, size_t until) {
  std::string out;
  if (until > names.size()) until = names.size();
  if (root) {
    root->display_fmt(out);
  } else if (until == 0) {
    out = "<root>";
  }
  for (size_t i = 0; i < until; ++i) {
    if (i > 0 || root) out += '.';
    names[i].display_fmt(out);
  }
  return out;
}

}  // namespace vintrel
