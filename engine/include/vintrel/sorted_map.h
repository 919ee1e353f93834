// A map from owned text keys, kept in ascending byte order of the keys.
//
// A sorted flat vector: the objects of this language are small, and a
// contiguous array beats a node-based tree for them on every operation we
// use (ordered iteration, binary-search lookup, building from a list).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vintrel {

template <class T>
class SortedMap {
 public:
  using Entry = std::pair<std::string, T>;
  using iterator = typename std::vector<Entry>::iterator;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  SortedMap() = default;

  // Builds from entries in any order; of equal keys the later one wins.
  static SortedMap from_entries(std::vector<Entry> entries);

  size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  void reserve(size_t n) { entries_.reserve(n); }

  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }

  const T* find(std::string_view key) const;
  T* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Inserts, or replaces the value of an equal key (keeping the old key).
  void insert_or_assign(std::string key, T value);

  // Appends an entry whose key is greater than every key present.
  // The caller guarantees the order; used when building from sorted input.
  void push_back_sorted(std::string key, T value) { entries_.emplace_back(std::move(key), std::move(value)); }

  // Gives up the entries, in key order.
  std::vector<Entry> take_entries() && { return std::move(entries_); }
  const std::vector<Entry>& entries() const noexcept { return entries_; }

  friend bool operator==(const SortedMap& a, const SortedMap& b) { return a.entries_ == b.entries_; }

 private:
  const_iterator lower_bound(std::string_view key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const Entry& e, std::string_view k) { return std::string_view(e.first) < k; });
  }
  std::vector<Entry> entries_;
};

template <class T>
SortedMap<T> SortedMap<T>::from_entries(std::vector<Entry> entries) {
  // Stable sort keeps equal keys in source order; the last of each run wins.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.first < b.first; });
  SortedMap m;
  m.entries_.reserve(entries.size());
  for (auto& e : entries) {
    if (!m.entries_.empty() && m.entries_.back().first == e.first)
      m.entries_.back().second = std::move(e.second);
    else
      m.entries_.push_back(std::move(e));
  }
  return m;
}

template <class T>
const T* SortedMap<T>::find(std::string_view key) const {
  auto it = lower_bound(key);
  if (it != entries_.end() && it->first == key) return &it->second;
  return nullptr;
}

template <class T>
T* SortedMap<T>::find(std::string_view key) {
  return const_cast<T*>(static_cast<const SortedMap&>(*this).find(key));
}

template <class T>
void SortedMap<T>::insert_or_assign(std::string key, T value) {
  auto cit = lower_bound(key);
  auto it = entries_.begin() + (cit - entries_.cbegin());
  if (it != entries_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    entries_.emplace(it, std::move(key), std::move(value));
  }
}

}  // namespace vintrel
