// Borrowed-or-owned holders.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vintrel {

// Text that either borrows bytes owned elsewhere (expression source, a tree
// literal, a bound value) or owns its own std::string.
// Copying keeps the state: a borrowed copy refers to the same bytes, an
// owned copy owns new bytes.
class CowStr {
 public:
  CowStr() noexcept : v_(std::in_place_index<0>) {}  // borrowed empty text
  static CowStr Borrowed(std::string_view s) noexcept { return CowStr(s); }
  static CowStr Owned(std::string s) noexcept { return CowStr(std::move(s)); }

  bool is_borrowed() const noexcept { return v_.index() == 0; }
  bool is_owned() const noexcept { return v_.index() == 1; }

  std::string_view view() const noexcept {
    if (const auto* b = std::get_if<0>(&v_)) return *b;
    return *std::get_if<1>(&v_);
  }
  const char* data() const noexcept { return view().data(); }
  size_t size() const noexcept { return view().size(); }
  bool empty() const noexcept { return view().empty(); }

  // The owned text: a borrowed holder copies, an owned one gives up its own.
  std::string into_owned() && {
    if (auto* o = std::get_if<1>(&v_)) return std::move(*o);
    return std::string(*std::get_if<0>(&v_));
  }
  // Turns a borrowed holder into an owned one in place.
  void make_owned() {
    if (is_borrowed()) v_.template emplace<1>(std::string(*std::get_if<0>(&v_)));
  }

  friend bool operator==(const CowStr& a, const CowStr& b) noexcept { return a.view() == b.view(); }

 private:
  explicit CowStr(std::string_view s) noexcept : v_(std::in_place_index<0>, s) {}
  explicit CowStr(std::string&& s) noexcept : v_(std::in_place_index<1>, std::move(s)) {}
  std::variant<std::string_view, std::string> v_;
};

// A T that is either borrowed (the holder never frees it) or owned.
template <class T>
class Cow {
 public:
  static Cow Borrowed(const T& r) noexcept { return Cow(&r); }
  static Cow Owned(T v) { return Cow(std::move(v)); }

  bool is_borrowed() const noexcept { return v_.index() == 0; }
  bool is_owned() const noexcept { return v_.index() == 1; }

  const T& get() const noexcept {
    if (const auto* b = std::get_if<0>(&v_)) return **b;
    return *std::get_if<1>(&v_);
  }
  const T& operator*() const noexcept { return get(); }
  const T* operator->() const noexcept { return &get(); }

  // The owned T, or nullptr when borrowed.
  T* owned_mut() noexcept { return std::get_if<1>(&v_); }

  // A borrowed holder copies the referenced T, an owned one gives it up.
  T into_owned() && {
    if (auto* o = std::get_if<1>(&v_)) return std::move(*o);
    return T(**std::get_if<0>(&v_));
  }

 private:
  explicit Cow(const T* p) noexcept : v_(std::in_place_index<0>, p) {}
  explicit Cow(T&& v) : v_(std::in_place_index<1>, std::move(v)) {}
  std::variant<const T*, T> v_;
};

}  // namespace vintrel
