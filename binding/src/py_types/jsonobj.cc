#include "py_handle.h"

#include "py_types/jsonobj.h"

namespace vintrel::py {

std::optional<std::string_view> PyJsonValue::as_str() const noexcept {
  if (const auto* s = std::get_if<std::string>(&v_)) return std::string_view(*s);
  return std::nullopt;
}

std::optional<std::string> PyJsonValue::into_string() && {
  if (auto* s = std::get_if<std::string>(&v_)) return std::move(*s);
  return std::nullopt;
}

std::optional<PyJsonValue::array_type> PyJsonValue::into_array() && {
  if (auto* a = std::get_if<array_type>(&v_)) return std::move(*a);
  return std::nullopt;
}

std::optional<PyJsonValue::object_type> PyJsonValue::into_object() && {
  if (auto* o = std::get_if<object_type>(&v_)) return std::move(*o);
  return std::nullopt;
}

std::string PyJsonValue::debug_string() const {
  std::string s;
  debug_fmt(s);
  return s;
}

// Containers are rebuilt with an explicit stack of open ones: a native
// caller may hand over a value of any depth.
PyJsonValue PyJsonValue::from(Value root) {
  struct Open {
    Value* src;
    size_t next;
    PyJsonValue* out;
  };
  PyJsonValue result;
  detail::SmallStack<Open, 8> open;
  Value* cur = &root;
  PyJsonValue* slot = &result;
  for (;;) {
    switch (cur->kind()) {
      case Value::Kind::Int: *slot = Int(cur->as_int()); break;
      case Value::Kind::Float: *slot = Float(cur->as_float()); break;
      case Value::Kind::Bool: *slot = Bool(cur->as_bool()); break;
      case Value::Kind::String: *slot = String(std::move(cur->as_cow_str()).into_owned()); break;
      case Value::Kind::Array:
        *slot = Array({});
        slot->as_array_mut()->reserve(cur->as_array().size());
        open.push_back({cur, 0, slot});
        break;
      case Value::Kind::Object:
        *slot = Object({});
        slot->as_object_mut()->reserve(cur->as_object().size());
        open.push_back({cur, 0, slot});
        break;
      case Value::Kind::Null: *slot = Null(); break;
    }
    // The next child of the innermost open container; `out` containers were
    // reserved, so the addresses of their entries stay put.
    cur = nullptr;
    while (!open.empty() && !cur) {
      Open& top = open.back();
      if (top.src->is_array()) {
        ValueArray& items = top.src->as_array();
        if (top.next < items.size()) {
          cur = &items[top.next++];
          slot = &top.out->as_array_mut()->emplace_back();
          break;
        }
      } else {
        ValueObject& entries = top.src->as_object();
        if (top.next < entries.size()) {
          auto& e = entries.begin()[static_cast<std::ptrdiff_t>(top.next++)];
          object_type& map = *top.out->as_object_mut();
          // The keys of a Value are unique and sorted: each one is new here.
          map.push_back_unique(std::move(e.first), PyJsonValue());
          cur = &e.second;
          slot = &(map.end() - 1)->second;
          break;
        }
      }
      open.drop(1);
    }
    if (!cur) return result;
  }
}

}  // namespace vintrel::py
