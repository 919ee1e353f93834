// Variable paths: a.b[2].c
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vintrel/errors.h"
#include "vintrel/result.h"

namespace vintrel {

template <class V, class Bindings>
struct Env;

// A host's own prepared form of a name, for looking it up in the host's data
// (the Python binding keeps a hashed str there). The host attaches it to a
// path it owns before anyone else reads the path, and keeps what it points
// to alive for as long as the path. A copy starts without one: the copy may
// outlive the host's object.
class HostKey {
 public:
  HostKey() noexcept = default;
  HostKey(const HostKey&) noexcept {}
  HostKey& operator=(const HostKey&) noexcept {
    p_ = nullptr;
    return *this;
  }
  HostKey(HostKey&& o) noexcept : p_(o.p_) {}
  HostKey& operator=(HostKey&& o) noexcept {
    p_ = o.p_;
    return *this;
  }

  const void* get() const noexcept { return p_; }
  void attach(const void* p) noexcept { p_ = p; }

 private:
  const void* p_ = nullptr;
};

// One segment of a path: an object key (never empty) and an optional
// array position applied after the key lookup.
struct VarName {
  std::string name;
  std::optional<uint64_t> index;
  HostKey host_key;  // not part of the name: equality ignores it

  // The name unchanged, then "[n]" when indexed.
  void display_fmt(std::string& out) const;

  friend bool operator==(const VarName& a, const VarName& b) noexcept {
    return a.name == b.name && a.index == b.index;
  }
};

struct VarAccess {
  std::vector<VarName> names;  // never empty

  // Stops with "Variable access must have at least one name" on an empty list.
  static VarAccess new_(std::vector<VarName> names);

  // Path text for messages: the first `until` names joined by ".", after
  // the root's text when a root is given; "<root>" (or the root) for 0.
  static std::string resolve_name_until(const std::vector<VarName>& names, const VarName* root, size_t until);

  // The walks over bound data; defined in vintrel/path.h.
  // Reads: a reference into `value`; nothing is copied on success.
  template <class V>
  static Expected<const V*, VarAccessError> access_names(const std::vector<VarName>& names, const V& value,
                                                         bool first_resolved);
  // The first name names a binding of `env`; the result borrows from it.
  template <class V, class Bindings>
  Expected<const V*, VarAccessError> access_from_bindings(const Env<V, Bindings>& env) const;
  // Puts `replacement` at the path inside `value` and returns the old value;
  // on failure `value` is unchanged and the replacement is dropped.
  template <class V>
  Expected<V, VarAccessError> replace(V& value, V replacement) const;

  friend bool operator==(const VarAccess& a, const VarAccess& b) noexcept { return a.names == b.names; }
};

}  // namespace vintrel
