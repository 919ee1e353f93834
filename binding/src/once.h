// Process-wide objects built once, on first need, by whichever thread gets
// there first.
#pragma once

#include "py_handle.h"

#include <atomic>
#include <mutex>

namespace vintrel::py {

// A one-time initialiser that is safe to enter while attached to the
// interpreter. The builder calls back into Python, which may let other
// threads run; a waiting thread therefore waits detached, so it never holds
// the interpreter while the builder needs it (the deadlock of a plain
// std::call_once under the GIL). A builder that fails (returns false with a
// Python error set) leaves the initialiser unset, and the next caller
// tries again.
class GilSafeOnce {
 public:
  template <class F>
  bool run(F&& build) {
    if (done_.load(std::memory_order_acquire)) return true;
    PyThreadState* ts = PyEval_SaveThread();
    mu_.lock();
    PyEval_RestoreThread(ts);
    std::lock_guard<std::mutex> unlock(mu_, std::adopt_lock);
    if (done_.load(std::memory_order_relaxed)) return true;
    if (!build()) return false;
    done_.store(true, std::memory_order_release);
    return true;
  }
  bool done() const noexcept { return done_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> done_{false};
  std::mutex mu_;
};

}  // namespace vintrel::py
