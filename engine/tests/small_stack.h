// Runs a test body on a thread with a small native stack, so that a walk
// which recursed once per nesting level would overflow it and crash.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <stdexcept>

namespace vintrel_test {

// ASan's redzones make every frame several times larger.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr size_t kSmallStack = 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr size_t kSmallStack = 1024 * 1024;
#else
inline constexpr size_t kSmallStack = 256 * 1024;
#endif
#else
inline constexpr size_t kSmallStack = 256 * 1024;
#endif

inline void run_on_small_stack(std::function<void()> body, size_t stack_bytes = kSmallStack) {
  struct Ctx {
    std::function<void()> body;
    std::exception_ptr error;
  } ctx{std::move(body), nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack_bytes);
  pthread_t thread;
  int rc = pthread_create(
      &thread, &attr,
      [](void* p) -> void* {
        auto* c = static_cast<Ctx*>(p);
        try {
          c->body();
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &ctx);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
  if (ctx.error) std::rethrow_exception(ctx.error);
}

}  // namespace vintrel_test
