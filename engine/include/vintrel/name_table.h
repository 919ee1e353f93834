// A map from names to values for the bindings of one evaluation.
//
// Entries sit in one vector in insertion order. A handful of names, the
// usual case, are found by comparing them in turn: no hashing, and one
// allocation for the whole table. Past kLinearLimit names an open-addressing
// index of entry positions is kept beside the vector, hashed with the keyed
// NameHash so that chosen names cannot all collide.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vintrel/utils.h"

namespace vintrel {

template <class T>
class NameTable {
 public:
  using Entry = std::pair<std::string, T>;
  using iterator = typename std::vector<Entry>::iterator;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  static constexpr size_t kLinearLimit = 8;

  size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  // Room for `n` entries, and for their index when they will need one, so
  // that filling the table rebuilds nothing.
  void reserve(size_t n) {
    entries_.reserve(n);
    if (n > kLinearLimit && n * 2 > slots_.size()) rebuild_index(n);
  }

  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  const_iterator find(std::string_view key) const noexcept {
    size_t i = position(key);
    return i == kNone ? entries_.end() : entries_.begin() + static_cast<std::ptrdiff_t>(i);
  }
  iterator find(std::string_view key) noexcept {
    size_t i = position(key);
    return i == kNone ? entries_.end() : entries_.begin() + static_cast<std::ptrdiff_t>(i);
  }
  bool contains(std::string_view key) const noexcept { return position(key) != kNone; }

  // Inserts when the key is absent; returns the entry and whether it is new.
  template <class... A>
  std::pair<iterator, bool> emplace(std::string_view key, A&&... args) {
    size_t i = position(key);
    if (i != kNone) return {entries_.begin() + static_cast<std::ptrdiff_t>(i), false};
    entries_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple(std::forward<A>(args)...));
    index_last();
    return {entries_.end() - 1, true};
  }

  // Inserts, or replaces the value of an equal key (keeping the old key).
  void insert_or_assign(std::string key, T value) {
    size_t i = position(key);
    if (i != kNone) {
      entries_[i].second = std::move(value);
      return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
    index_last();
  }

  // The value of `key`, default-constructed when absent.
  T& operator[](std::string_view key) { return emplace(key).first->second; }

  // Appends an entry whose key the caller knows to be absent.
  void push_back_unique(std::string key, T value) {
    entries_.emplace_back(std::move(key), std::move(value));
    index_last();
  }

 private:
  static constexpr size_t kNone = ~size_t{0};

  size_t position(std::string_view key) const noexcept {
    if (slots_.empty()) {
      for (size_t i = 0; i < entries_.size(); ++i)
        if (std::string_view(entries_[i].first) == key) return i;
      return kNone;
    }
    size_t mask = slots_.size() - 1;
    for (size_t s = NameHash{}(key) & mask;; s = (s + 1) & mask) {
      uint32_t slot = slots_[s];
      if (slot == 0) return kNone;
      if (std::string_view(entries_[slot - 1].first) == key) return slot - 1;
    }
  }

  // Records the newest entry in the index, growing it to keep at most half
  // of its slots in use.
  void index_last() {
    size_t n = entries_.size();
    if (slots_.empty() ? n > kLinearLimit : n * 2 > slots_.size())
      rebuild_index(n);
    else if (!slots_.empty())
      place(n - 1);
  }

  // An index with room for at least `n` entries at most half full, holding
  // every entry there is.
  void rebuild_index(size_t n) {
    size_t cap = 64;
    while (cap < n * 4) cap *= 2;
    slots_.assign(cap, 0);
    for (size_t i = 0; i < entries_.size(); ++i) place(i);
  }

  void place(size_t i) {
    size_t mask = slots_.size() - 1;
    size_t s = NameHash{}(entries_[i].first) & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = static_cast<uint32_t>(i + 1);
  }

  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry position + 1; 0 is an empty slot
};

}  // namespace vintrel
