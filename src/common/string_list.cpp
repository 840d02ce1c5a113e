#include "common/string_list.h"

#include "common/text.h"

namespace kem {

std::size_t HashedStringList::Hash::operator()(std::string_view s) const noexcept {
  return HashTextIgnoreCase(s);
}

bool HashedStringList::Equal::operator()(std::string_view a, std::string_view b) const noexcept {
  return SameText(a, b);
}

HashedStringList::HashedStringList(std::vector<std::string> items) : items_(std::move(items)) {
  Reindex();
}

void HashedStringList::Add(std::string s) {
  first_.try_emplace(s, items_.size());
  items_.push_back(std::move(s));
}

void HashedStringList::Clear() {
  items_.clear();
  first_.clear();
}

void HashedStringList::Set(std::size_t i, std::string s) {
  items_.at(i) = std::move(s);
  Reindex();
}

void HashedStringList::Reindex() {
  first_.clear();
  first_.reserve(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) first_.try_emplace(items_[i], i);
}

std::ptrdiff_t HashedStringList::IndexOf(std::string_view s) const {
  auto it = first_.find(s);
  return it == first_.end() ? npos : static_cast<std::ptrdiff_t>(it->second);
}

}  // namespace kem
