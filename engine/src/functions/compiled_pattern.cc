#include "functions/compiled_pattern.h"

#include <re2/re2.h>

#include <optional>

#include "functions/pattern_cache.h"
#include "functions/regex_classes.h"
#include "functions/support.h"
#include "vintrel/exp.h"

namespace vintrel::detail {

namespace {

// Spelling out the Unicode classes multiplies a pattern's size. Past this
// many added bytes the classes alone would need far more program than RE2's
// default memory budget allows, so the pattern is refused the way RE2 refuses
// it, before the text is built.
constexpr size_t kMaxClassExpansion = size_t{32} << 20;
constexpr std::string_view kPatternTooLarge = "pattern too large - compile failed";

// What a compiled RE2 holds, as measured on typical patterns: a fixed part
// (the object, its byte map, the DFAs' first states), the pattern text twice
// (RE2's copy and its parsed form) and about this much per instruction of
// the program (the instructions and the DFAs' work queues).
constexpr size_t kProgramFixedBytes = 2048;
constexpr size_t kBytesPerInstruction = 24;

RE2::Options quiet_options() {
  RE2::Options o;
  o.set_log_errors(false);  // the engine writes nothing to standard error
  return o;
}

// The reason `pattern` does not compile, quoting what the caller wrote
// rather than the spelled-out classes; empty when it is not a syntax error.
std::optional<std::string> syntax_error(std::string_view pattern, const RE2::Options& options) {
  RE2 original(re2::StringPiece(pattern.data(), pattern.size()), options);
  if (original.ok()) return std::nullopt;
  return original.error();
}

}  // namespace

CompiledPattern::~CompiledPattern() = default;

std::shared_ptr<const CompiledPattern> CompiledPattern::compile(std::string_view pattern) {
  std::shared_ptr<CompiledPattern> out(new CompiledPattern);
  const RE2::Options options = quiet_options();
  auto fail = [&out](std::string_view reason) {
    out->error_ = quoted_reason("Invalid regex pattern", reason);
    out->footprint_ = out->error_.capacity();
    return out;
  };
  std::optional<std::string> rewritten = rewrite_regex_classes_bounded(pattern, kMaxClassExpansion);
  if (!rewritten) return fail(syntax_error(pattern, options).value_or(std::string(kPatternTooLarge)));
  auto re = std::make_unique<const RE2>(*rewritten, options);
  if (!re->ok()) {
    if (*rewritten != pattern) {
      if (auto e = syntax_error(pattern, options)) return fail(*e);
    }
    return fail(re->error());
  }
  out->footprint_ = kProgramFixedBytes + 2 * rewritten->size() +
                    kBytesPerInstruction * static_cast<size_t>(re->ProgramSize());
  out->re_ = std::move(re);
  return out;
}

FnResult CompiledPattern::search(std::string_view text) const {
  if (!re_) return unexpected(EvalError::regex_error(error_));
  // No submatches wanted: RE2 answers from its DFA alone.
  return Value::Bool(
      re_->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED, nullptr, 0));
}

std::shared_ptr<const LiteralPattern> LiteralPattern::of_call(std::string_view name, const std::vector<Exp>& args) {
  if (name != "matches" || args.size() != 2) return nullptr;
  const Exp& pattern = args[1];
  if (pattern.kind() != Exp::Kind::Value || !pattern.as_value().is_string()) return nullptr;
  return std::make_shared<const LiteralPattern>(pattern.as_value().as_str());
}

const CompiledPattern& LiteralPattern::compile_once() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!compiled_) {
    compiled_ = pattern_cache().get(text_);
    ready_.store(compiled_.get(), std::memory_order_release);
  }
  return *compiled_;
}

}  // namespace vintrel::detail
