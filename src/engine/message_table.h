// The built-in message table: the engine's own translatable texts, numbered 1 to 115,
// with English defaults compiled in. A language file can replace them.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <string_view>

namespace kem {

constexpr int kMessageCount = 115;

class MessageTable {
 public:
  // Starts with the English defaults.
  MessageTable();
  MessageTable(const MessageTable&) = delete;
  MessageTable& operator=(const MessageTable&) = delete;

  // Text number n (1..115); empty for numbers outside the table.
  std::string Get(int n) const;

  // Restores the English defaults.
  void Reset();

  // Loads a language file: a block of 115 CR LF lines, optionally followed by entries
  // made of a language name line and another block. Reading stops after the block whose
  // name equals the user's language (without regard to case); otherwise the last block
  // read stays in force. A block that ends early leaves the rest of its positions empty.
  void Load(std::string_view fileText, std::string_view userLanguageName);

 private:
  mutable std::mutex lock_;
  std::array<std::string, kMessageCount> texts_;
};

}  // namespace kem
