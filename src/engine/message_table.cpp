#include "engine/message_table.h"


#include "common/text.h"

namespace kem {
namespace {

const std::array<const char*, kMessageCount> kDefaults = {
#include "engine/message_defaults.inc"
};

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

MessageTable::MessageTable() { Reset(); }

std::string MessageTable::Get(int n) const {
  if (n < 1 || n > kMessageCount) return {};
  std::lock_guard lock(lock_);
  return texts_[n - 1];
}

void MessageTable::Reset() {
  std::lock_guard lock(lock_);
  for (int i = 0; i < kMessageCount; ++i) texts_[i] = kDefaults[i];
}

void MessageTable::Load(std::string_view fileText, std::string_view userLanguageName) {
  std::lock_guard lock(lock_);
  Lines in(fileText);
  auto readBlock = [&] {
    for (int i = 0; i < kMessageCount; ++i) texts_[i] = in.Next();
  };
  readBlock();
  while (!in.AtEnd()) {
    std::string name = in.Next();
    readBlock();
    if (SameText(name, userLanguageName)) break;
  }
}

}  // namespace kem
