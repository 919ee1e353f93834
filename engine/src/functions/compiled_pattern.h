// A matches pattern compiled once and searched many times: by every call of
// one call node whose pattern is a literal, or through the process-wide
// cache for patterns that come from the data.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vintrel/func.h"

namespace re2 {
class RE2;
}

namespace vintrel::detail {

// The outcome of compiling one pattern: the program, or the message of the
// error that every search with it reports. Immutable, so any number of
// threads may search with one instance at once.
class CompiledPattern {
 public:
  // The caller owns the result (shared, so a cache can hand it out).
  static std::shared_ptr<const CompiledPattern> compile(std::string_view pattern);
  ~CompiledPattern();

  // Bool(true) when the pattern matches anywhere in `text`, or the
  // RegexError that the pattern failed to compile with.
  FnResult search(std::string_view text) const;
  bool ok() const noexcept { return re_ != nullptr; }
  // An estimate of the heap this object holds, program included.
  size_t footprint() const noexcept { return footprint_; }

 private:
  CompiledPattern() = default;
  std::unique_ptr<const re2::RE2> re_;  // null when the pattern did not compile
  std::string error_;                   // the full message when it did not
  size_t footprint_ = 0;
};

// The pattern of one matches call node whose pattern is a string literal,
// compiled on the first evaluation (through the process-wide cache) and
// kept for every later one. Copies of the tree share one instance; the
// first caller compiles while concurrent first callers wait.
class LiteralPattern {
 public:
  explicit LiteralPattern(std::string_view text) : text_(text) {}

  // For matches with two arguments of which the second is a string literal;
  // null for every other call.
  static std::shared_ptr<const LiteralPattern> of_call(std::string_view name, const std::vector<Exp>& args);

  std::string_view text() const noexcept { return text_; }
  const CompiledPattern& compiled() const {
    if (const CompiledPattern* p = ready_.load(std::memory_order_acquire)) return *p;
    return compile_once();
  }

 private:
  const CompiledPattern& compile_once() const;

  const std::string text_;
  mutable std::mutex mu_;
  mutable std::shared_ptr<const CompiledPattern> compiled_;  // set once, under mu_
  mutable std::atomic<const CompiledPattern*> ready_{nullptr};
};

}  // namespace vintrel::detail
