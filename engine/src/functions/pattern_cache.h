// The compiled matches patterns of the process, kept by pattern text so that
// a pattern that comes from the data is compiled once, not on every call.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "functions/compiled_pattern.h"

namespace vintrel::detail {

// A bounded cache: at most `entries` patterns and `bytes` of estimated
// footprint (CompiledPattern::footprint plus the key) at once, the least
// recently used going first. It is split into `shards` parts, each with its
// own lock and an equal share of both bounds, so that threads looking up
// different patterns rarely wait for each other; a pattern larger than a
// share is compiled for its caller and not kept. Patterns that do not
// compile are kept too, with their message.
class PatternCache {
 public:
  struct Limits {
    size_t entries;
    size_t bytes;
    size_t shards = 1;
  };
  explicit PatternCache(Limits limits);
  ~PatternCache();
  PatternCache(const PatternCache&) = delete;
  PatternCache& operator=(const PatternCache&) = delete;

  // The compiled form of `pattern`, compiled now when it is not held. The
  // caller shares ownership, so an entry evicted meanwhile stays alive for
  // as long as the caller searches with it. Two threads that miss on the
  // same pattern at once may both compile it; one result is kept.
  std::shared_ptr<const CompiledPattern> get(std::string_view pattern);

  // Totals over all shards.
  size_t entries() const;
  size_t bytes() const;

 private:
  struct Shard;
  Shard& shard_for(size_t hash) const;

  size_t shard_entries_;
  size_t shard_bytes_;
  size_t shard_count_;
  std::unique_ptr<Shard[]> shards_;
};

inline constexpr PatternCache::Limits kPatternCacheLimits{1024, size_t{64} << 20, 8};

// The process-wide instance, with kPatternCacheLimits: built on first use
// (thread-safe) and never freed, so that no exit-time destructor races a
// late caller.
PatternCache& pattern_cache();

}  // namespace vintrel::detail
