#include "common/string_list.h"

#include "common/text.h"

namespace kem {

HashedStringList::HashedStringList(std::vector<std::string> items) : items_(std::move(items)) { Reindex(); }

void HashedStringList::Add(std::string s) {
  items_.push_back(std::move(s));
  if ((indexed_ + 1) * 2 > slots_.size()) Grow();
  IndexEntry(items_.size() - 1, HashTextIgnoreCase(items_.back()));
}

void HashedStringList::Clear() {
  items_.clear();
  slots_.clear();
  indexed_ = 0;
}

void HashedStringList::Set(std::size_t i, std::string s) {
  items_.at(i) = std::move(s);
  Reindex();
}

void HashedStringList::Reindex() {
  std::size_t capacity = 16;
  while (capacity < items_.size() * 2) capacity *= 2;
  slots_.assign(capacity, Slot{});
  indexed_ = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) IndexEntry(i, HashTextIgnoreCase(items_[i]));
}

void HashedStringList::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.position) continue;
    std::size_t at = s.hash & mask;
    while (slots_[at].position) at = (at + 1) & mask;
    slots_[at] = s;
  }
}

void HashedStringList::IndexEntry(std::size_t i, std::size_t hash) {
  if (slots_.empty()) Grow();
  const std::size_t mask = slots_.size() - 1;
  const auto h = static_cast<std::uint32_t>(hash);
  std::size_t at = h & mask;
  while (slots_[at].position) {
    const Slot& s = slots_[at];
    if (s.hash == h && SameText(items_[s.position - 1], items_[i])) return;
    at = (at + 1) & mask;
  }
  slots_[at] = Slot{static_cast<std::uint32_t>(i + 1), h};
  ++indexed_;
}

std::ptrdiff_t HashedStringList::IndexOf(std::string_view s) const {
  if (slots_.empty()) return npos;
  const std::size_t mask = slots_.size() - 1;
  const auto h = static_cast<std::uint32_t>(HashTextIgnoreCase(s));
  for (std::size_t at = h & mask; slots_[at].position; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.hash == h && SameText(items_[slot.position - 1], s)) return static_cast<std::ptrdiff_t>(slot.position - 1);
  }
  return npos;
}

}  // namespace kem
