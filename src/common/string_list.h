// Ordered string lists as the setup data uses them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
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
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
  };
  struct Equal {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  void Reindex();

  std::vector<std::string> items_;
  // Folded text -> first position. Keys view into items_ are not stable across growth,
  // so the map owns copies of the keys.
  std::unordered_map<std::string, std::size_t, Hash, Equal> first_;
};

// Plain ordered list.
using StringList = std::vector<std::string>;

}  // namespace kem
