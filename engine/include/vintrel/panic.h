// The one way the engine stops on a broken internal invariant.
//
// No input can reach these stops; if one is reached anyway, the operation
// is abandoned by throwing Panic, which unwinds to the caller's boundary.
// The Python binding catches it at every entry point, writes one diagnostic
// line to standard error and raises PanicException, so the process and
// every object stay usable.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace vintrel {

class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string_view message);

}  // namespace vintrel
