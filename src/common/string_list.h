// Ordered string lists as the setup data uses them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <cstdint>
#include <vector>

namespace kem {

// Ordered list with a case-insensitive hashed index: IndexOf returns the first entry
// equal to the text (ignoring letter case) in constant time on average.
class HashedStringList {
 public:
  static constexpr std::ptrdiff_t npos = -1;

  HashedStringList() = default;
  explicit HashedStringList(std::vector<std::string> items);

  void Add(std::string s);
  void Clear();
  // Replaces entry i; keeps the index consistent.
  void Set(std::size_t i, std::string s);

  std::size_t Count() const noexcept { return items_.size(); }
  bool Empty() const noexcept { return items_.empty(); }
  const std::string& operator[](std::size_t i) const { return items_[i]; }
  const std::vector<std::string>& Items() const noexcept { return items_; }

  std::ptrdiff_t IndexOf(std::string_view s) const;

 private:
  void Reindex();
  void Grow();
  // Inserts position i unless an equal entry is indexed already (the first one wins).
  void IndexEntry(std::size_t i, std::size_t hash);

  std::vector<std::string> items_;
  // Open-addressing index: each slot holds a position + 1 (0 = empty) and the entry's
  // hash, so a probe touches the text only when the hashes agree.
  struct Slot {
    std::uint32_t position = 0;
    std::uint32_t hash = 0;
  };
  std::vector<Slot> slots_;
  std::size_t indexed_ = 0;
};

// Plain ordered list.
using StringList = std::vector<std::string>;

}  // namespace kem
