// A stack whose first N entries live inside the object itself.
//
// The evaluator and the bound-value conversion keep their work lists in
// these: the common tree or value is small, so the stacks never touch the
// heap, and a deep one spills to a growing heap buffer instead of recursing.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace vintrel {

template <class T, size_t N>
class SmallStack {
  static_assert(N > 0);
  static_assert(std::is_nothrow_move_constructible_v<T>);
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

 public:
  // User-provided, so that value-initialising an owner never zeroes the buffer.
  SmallStack() noexcept {}
  SmallStack(const SmallStack&) = delete;
  SmallStack& operator=(const SmallStack&) = delete;
  ~SmallStack() {
    clear();
    if (data_ != inline_data()) ::operator delete(data_);
  }

  bool empty() const noexcept { return size_ == 0; }
  size_t size() const noexcept { return size_; }
  T* data() noexcept { return data_; }
  T& operator[](size_t i) noexcept { return data_[i]; }
  T& back() noexcept { return data_[size_ - 1]; }

  template <class... A>
  T& emplace_back(A&&... a) {
    if (size_ == cap_) grow();
    T* p = ::new (static_cast<void*>(data_ + size_)) T(std::forward<A>(a)...);
    ++size_;
    return *p;
  }
  void push_back(T v) { emplace_back(std::move(v)); }

  // Removes and returns the top entry; the caller checks emptiness.
  T pop() noexcept {
    T v = std::move(data_[size_ - 1]);
    data_[--size_].~T();
    return v;
  }
  // Destroys the top n entries.
  void drop(size_t n) noexcept {
    while (n-- > 0) data_[--size_].~T();
  }
  void clear() noexcept { drop(size_); }

 private:
  T* inline_data() noexcept { return reinterpret_cast<T*>(inline_); }

  void grow() {
    size_t cap = cap_ * 2;
    T* fresh = static_cast<T*>(::operator new(cap * sizeof(T)));
    for (size_t i = 0; i < size_; ++i) {
      ::new (static_cast<void*>(fresh + i)) T(std::move(data_[i]));
      data_[i].~T();
    }
    if (data_ != inline_data()) ::operator delete(data_);
    data_ = fresh;
    cap_ = cap;
  }

  alignas(T) unsigned char inline_[N * sizeof(T)];
  T* data_ = inline_data();
  size_t size_ = 0;
  size_t cap_ = N;
};

}  // namespace vintrel
