#include "functions/pattern_cache.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vintrel::detail {

namespace {

// The list node, the map node and the key's own copy, roughly.
constexpr size_t kEntryOverhead = 256;

struct Entry {
  std::string key;
  size_t hash;
  size_t cost;
  std::shared_ptr<const CompiledPattern> pattern;
};

// A lookup key: a view of the text and its hash, computed once per call and
// shared by the shard choice and the map.
struct Key {
  std::string_view text;
  size_t hash;
  bool operator==(const Key& other) const noexcept { return text == other.text; }
};
struct KeyHash {
  size_t operator()(const Key& k) const noexcept { return k.hash; }
};

using Lru = std::list<Entry>;  // most recently used first

}  // namespace

struct PatternCache::Shard {
  mutable std::mutex mu;
  Lru lru;
  // Keys view the text of their entry, whose list node never moves.
  std::unordered_map<Key, Lru::iterator, KeyHash> index;
  size_t bytes = 0;

  // The entry for `k`, made the most recent; null when absent. Needs `mu`.
  std::shared_ptr<const CompiledPattern> find(const Key& k) {
    auto it = index.find(k);
    if (it == index.end()) return nullptr;
    lru.splice(lru.begin(), lru, it->second);
    return it->second->pattern;
  }
};

PatternCache::PatternCache(Limits limits)
    : shard_entries_(std::max<size_t>(1, limits.entries / std::max<size_t>(1, limits.shards))),
      shard_bytes_(limits.bytes / std::max<size_t>(1, limits.shards)),
      shard_count_(std::max<size_t>(1, limits.shards)),
      shards_(new Shard[shard_count_]) {}

PatternCache::~PatternCache() = default;

PatternCache::Shard& PatternCache::shard_for(size_t hash) const {
  // The map picks buckets from the low bits; the shard comes from the high.
  return shards_[(hash >> 40) % shard_count_];
}

std::shared_ptr<const CompiledPattern> PatternCache::get(std::string_view pattern) {
  const Key key{pattern, std::hash<std::string_view>{}(pattern)};
  Shard& s = shard_for(key.hash);
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (auto hit = s.find(key)) return hit;
  }
  // A compile may take milliseconds: the shard stays open meanwhile.
  std::shared_ptr<const CompiledPattern> made = CompiledPattern::compile(pattern);
  const size_t cost = kEntryOverhead + pattern.size() + made->footprint();
  if (cost > shard_bytes_) return made;

  // The new entry is built off the list, so a failed allocation changes
  // nothing; evicted entries are released after the lock.
  Lru fresh, evicted;
  fresh.push_back(Entry{std::string(pattern), key.hash, cost, made});
  std::lock_guard<std::mutex> lock(s.mu);
  if (auto hit = s.find(key)) return hit;  // another thread got there first
  s.index.emplace(Key{fresh.front().key, key.hash}, fresh.begin());
  s.lru.splice(s.lru.begin(), fresh);
  s.bytes += cost;
  while (s.lru.size() > shard_entries_ || s.bytes > shard_bytes_) {
    auto last = std::prev(s.lru.end());
    s.index.erase(Key{last->key, last->hash});
    s.bytes -= last->cost;
    evicted.splice(evicted.end(), s.lru, last);
  }
  return made;
}

size_t PatternCache::entries() const {
  size_t n = 0;
  for (size_t i = 0; i < shard_count_; ++i) {
    std::lock_guard<std::mutex> lock(shards_[i].mu);
    n += shards_[i].lru.size();
  }
  return n;
}

size_t PatternCache::bytes() const {
  size_t n = 0;
  for (size_t i = 0; i < shard_count_; ++i) {
    std::lock_guard<std::mutex> lock(shards_[i].mu);
    n += shards_[i].bytes;
  }
  return n;
}

PatternCache& pattern_cache() {
  static PatternCache* const cache = new PatternCache(kPatternCacheLimits);
  return *cache;
}

}  // namespace vintrel::detail
