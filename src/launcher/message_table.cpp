#include "launcher/message_table.h"

#include <array>
#include <mutex>

#include "common/text.h"

namespace kem {
namespace {

const std::array<const char*, kMessageCount> kDefaults = {
#include "launcher/message_defaults.inc"
};

std::mutex g_lock;
std::array<std::string, kMessageCount>& Table() {
  static std::array<std::string, kMessageCount> table = [] {
    std::array<std::string, kMessageCount> t;
    for (int i = 0; i < kMessageCount; ++i) t[i] = kDefaults[i];
    return t;
  }();
  return table;
}

class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  std::string Next() {
    if (AtEnd()) return {};
    std::size_t e = text_.find('\n', pos_);
    std::string_view line = e == std::string_view::npos ? text_.substr(pos_) : text_.substr(pos_, e - pos_);
    pos_ = e == std::string_view::npos ? text_.size() : e + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string Message(int n) {
  if (n < 1 || n > kMessageCount) return {};
  std::lock_guard lock(g_lock);
  return Table()[n - 1];
}

void ResetMessageTable() {
  std::lock_guard lock(g_lock);
  for (int i = 0; i < kMessageCount; ++i) Table()[i] = kDefaults[i];
}

void LoadMessageTable(std::string_view fileText, std::string_view userLanguageName) {
  std::lock_guard lock(g_lock);
  Lines in(fileText);
  auto readBlock = [&] {
    for (int i = 0; i < kMessageCount; ++i) Table()[i] = in.Next();
  };
  readBlock();
  while (!in.AtEnd()) {
    std::string name = in.Next();
    readBlock();
    if (SameText(name, userLanguageName)) break;
  }
}

}  // namespace kem
