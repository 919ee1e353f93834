// How the in-place reader holds a container while it reads the container's
// entries, and how long it keeps what it finds: the one thing that differs
// between the builds.
//
// With the GIL, no Python code runs while checked data is read, so nothing
// can change it: holding and keeping cost nothing, and what is found is
// borrowed from its container. On a free-threaded build another thread may
// change any container at any moment: its entries are read inside its
// critical section, and every object found is kept alive by a strong
// reference of this thread's read until the call ends. Where the data no
// longer is what the check accepted, the read says so (changed()), and the
// caller takes the copy instead.
#pragma once

#include "py_handle.h"

#include <cstddef>
#include <vector>

#include "vintrel/panic.h"

namespace vintrel::py {

// Holds `obj`'s critical section for its lifetime (nothing with the GIL).
// Another section begun meanwhile may suspend it: what a read must still
// use after a nested section is kept, not borrowed.
class Hold {
 public:
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
#ifdef Py_GIL_DISABLED
  explicit Hold(PyObject* obj) { PyCriticalSection_Begin(&cs_, obj); }
  ~Hold() { PyCriticalSection_End(&cs_); }

 private:
  PyCriticalSection cs_;
#else
  explicit Hold(PyObject*) noexcept {}
#endif
};

#ifdef Py_GIL_DISABLED
// One call's read in place: the strong references it takes, released
// when it ends, the last taken first, and whether it met data that the
// check would have refused. Reads nest (a finaliser run by a release may
// call back into the module), each in a scope of its own.
class ReadScope {
 public:
  ReadScope() noexcept : outer_(current_) { current_ = this; }
  ~ReadScope() {
    release();
    current_ = outer_;
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

  // The scope of the read in progress on this thread.
  static ReadScope& current() noexcept { return *current_; }

  bool changed() const noexcept { return changed_; }
  void mark_changed() noexcept { changed_ = true; }

  // Takes over the new reference `obj`.
  void keep(PyObject* obj) {
    if (size_ < kInline)
      inline_[size_] = obj;
    else
      more_.push_back(obj);
    ++size_;
  }
  size_t size() const noexcept { return size_; }
  PyObject* at(size_t i) const noexcept { return i < kInline ? inline_[i] : more_[i - kInline]; }

  // Gives back what was kept so far. A release may run Python code (a
  // finaliser), whose reads keep their own.
  void release() {
    while (size_ > 0) {
      PyObject* obj = at(--size_);
      if (size_ >= kInline) more_.pop_back();
      Py_DECREF(obj);
    }
  }

 private:
  static constexpr size_t kInline = 24;
  // The initial-exec model reads it with one instruction; a pointer takes
  // little of the static TLS that a module loaded later may use.
  [[gnu::tls_model("initial-exec")]] static inline constinit thread_local ReadScope* current_ = nullptr;

  ReadScope* outer_;
  size_t size_ = 0;
  bool changed_ = false;
  PyObject* inline_[kInline];
  std::vector<PyObject*> more_;
};

// Takes over the new reference `obj` (or null) for the rest of the read.
inline PyObject* keep_new(PyObject* obj) {
  if (obj) ReadScope::current().keep(obj);
  return obj;
}
// A borrowed `obj`, found inside a held container, kept for the rest of
// the read.
inline PyObject* keep(PyObject* obj) { return keep_new(Py_NewRef(obj)); }
// The read met data that the check would have refused: written meanwhile.
inline void mark_changed() noexcept { ReadScope::current().mark_changed(); }
// The same where, with the GIL, it would be a broken invariant.
inline void not_as_checked(const char*) noexcept { mark_changed(); }
#else
// With the GIL a read keeps nothing and meets only checked data.
class ReadScope {
 public:
  ReadScope() noexcept = default;
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;
  static constexpr bool changed() noexcept { return false; }
};
inline PyObject* keep(PyObject* obj) noexcept { return obj; }
inline void mark_changed() noexcept {}
[[noreturn]] inline void not_as_checked(const char* what) { panic(what); }
#endif

}  // namespace vintrel::py
