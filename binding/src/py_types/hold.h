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
namespace detail {

// The strong references taken by this thread's reads in progress, and
// whether one of them met data the check would have refused.
struct ReadState {
  std::vector<PyObject*> kept;
  bool changed = false;
};
ReadState& read_state();

}  // namespace detail

// Takes over the new reference `obj` (or null) for the rest of the read.
inline PyObject* keep_new(PyObject* obj) {
  if (obj) detail::read_state().kept.push_back(obj);
  return obj;
}
// A borrowed `obj`, found inside a held container, kept for the rest of
// the read.
inline PyObject* keep(PyObject* obj) { return keep_new(Py_NewRef(obj)); }
// The kept object at `i`, counted from the first one this thread keeps.
inline PyObject* kept_at(size_t i) { return detail::read_state().kept[i]; }
inline size_t kept_count() { return detail::read_state().kept.size(); }
// The read met data that the check would have refused: written meanwhile.
inline void mark_changed() { detail::read_state().changed = true; }
#else
inline PyObject* keep(PyObject* obj) noexcept { return obj; }
inline void mark_changed() noexcept {}
#endif

// One call's read in place: what it kept is released when it ends, the
// last kept first. Reads nest (a key's __eq__ may call back into the
// module), each releasing only its own.
class ReadScope {
 public:
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;
#ifdef Py_GIL_DISABLED
  ReadScope() : mark_(detail::read_state().kept.size()), outer_changed_(detail::read_state().changed) {
    detail::read_state().changed = false;
  }
  ~ReadScope() {
    release();
    detail::read_state().changed = outer_changed_;
  }
  bool changed() const { return detail::read_state().changed; }
  // Gives back what was kept so far; a release may run Python code (a
  // finaliser), which may read in turn above the mark.
  void release() {
    std::vector<PyObject*>& kept = detail::read_state().kept;
    while (kept.size() > mark_) {
      PyObject* obj = kept.back();
      kept.pop_back();
      Py_DECREF(obj);
    }
  }

 private:
  size_t mark_;
  bool outer_changed_;
#else
  ReadScope() noexcept = default;
  static constexpr bool changed() noexcept { return false; }
  static void release() noexcept {}
#endif
};

}  // namespace vintrel::py
