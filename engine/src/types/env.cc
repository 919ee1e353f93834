#include "vintrel/env.h"

#include <algorithm>
#include <iterator>

namespace vintrel::detail {

void sort_object_entries(ValueObject& m) {
  using Entry = ValueObject::Entry;
  auto by_key = [](const Entry& a, const Entry& b) { return a.first < b.first; };
  // Objects are small and often already in order: an insertion sort is
  // stable, allocates nothing and is linear on sorted input.
  if (m.size() <= 32) {
    for (auto it = m.begin(); it != m.end(); ++it) {
      if (it == m.begin() || !by_key(*it, *std::prev(it))) continue;
      Entry moving = std::move(*it);
      auto hole = it;
      do {
        *hole = std::move(*std::prev(hole));
        --hole;
      } while (hole != m.begin() && by_key(moving, *std::prev(hole)));
      *hole = std::move(moving);
    }
  } else {
    std::stable_sort(m.begin(), m.end(), by_key);
  }
  // A source with repeated keys keeps the last of each; rare enough to rebuild.
  auto dup = std::adjacent_find(m.begin(), m.end(), [](const Entry& a, const Entry& b) { return a.first == b.first; });
  if (dup != m.end()) m = ValueObject::from_entries(std::move(m).take_entries());
}

}  // namespace vintrel::detail
