#include "script/store/variable_manager.h"

#include <algorithm>

#include "common/text.h"

namespace kem {

// Not noexcept on purpose: the map then keeps each node's hash code, and a look-up
// compares codes before it compares names instead of re-hashing every node it passes.
std::size_t TVariableManager::Hash::operator()(std::string_view s) const { return rules->Hash(s); }

bool TVariableManager::Equal::operator()(std::string_view a, std::string_view b) const noexcept {
  return rules->SameText(a, b);
}

TVariableManager::TVariableManager(bool lockReads)
    : lockReads_(lockReads), index_(0, Hash{&rules_}, Equal{&rules_}) {}

void TVariableManager::SetTextRules(const TextRules& rules) {
  std::lock_guard guard(lock_);
  rules_ = rules;
  // The hash and the comparison changed: index every name again (the first spelling of
  // names that now compare equal keeps the entry).
  index_.clear();
  std::vector<Entry> entries = std::move(entries_);
  entries_.clear();
  for (Entry& e : entries) {
    auto it = index_.find(e.name);
    if (it != index_.end()) {
      entries_[it->second].value = std::move(e.value);
      continue;
    }
    index_.emplace(e.name, entries_.size());
    entries_.push_back(std::move(e));
  }
}

void TVariableManager::Set(std::string_view name, std::string_view value) {
  if (name.empty()) return;
  std::lock_guard guard(lock_);
  auto it = index_.find(name);
  if (it != index_.end()) {
    entries_[it->second].value.assign(value);
    return;
  }
  entries_.push_back(Entry{std::string(name), std::string(value)});
  index_.emplace(std::string(name), entries_.size() - 1);
}

void TVariableManager::Clear() {
  std::lock_guard guard(lock_);
  entries_.clear();
  index_.clear();
}

bool TVariableManager::Exists(std::string_view name) const {
  if (name.empty()) return false;
  ReadLock lock(*this);
  return index_.find(name) != index_.end();
}

bool TVariableManager::TryGet(std::string_view name, std::string& value) const {
  if (name.empty()) return false;
  ReadLock lock(*this);  // the copy may throw: the lock is released all the same
  auto it = index_.find(name);
  if (it == index_.end()) return false;
  value = entries_[it->second].value;
  return true;
}

std::string TVariableManager::Get(std::string_view name) const {
  std::string value;
  TryGet(name, value);
  return value;
}

std::size_t TVariableManager::Count() const {
  ReadLock lock(*this);
  return entries_.size();
}

std::size_t TVariableManager::Dump(std::vector<std::string>& list) const {
  std::lock_guard guard(lock_);
  list.clear();
  list.reserve(entries_.size() * 2);
  for (const Entry& e : entries_) {
    list.push_back(e.name);
    list.push_back(e.value);
  }
  return list.size();
}

void TVariableManager::Enter(bool write) const {
  if (write || lockReads_) lock_.lock();
}

void TVariableManager::Leave(bool write) const {
  if (write || lockReads_) lock_.unlock();
}

namespace {

std::string QuoteOperand(std::string_view text) {
  std::string q;
  q.reserve(text.size() + 2);
  q.push_back('"');
  for (char c : text) {
    if (c == '"') q.push_back('"');
    q.push_back(c);
  }
  q.push_back('"');
  return q;
}

// The rescanning expansion. The text is the unscanned rest of the input (src from sp)
// preceded by inserted values that are still to be scanned; those are kept reversed in
// `stack` (its last character comes next), so that inserting a value where the scan
// continues is an append. Plain runs of the input are copied in bulk.
// replacements counts against kMaxExpansionReplacements for the whole call, nested
// expansions of quoted operands included.
std::string ExpandWith(const TVariableManager& store, std::string_view src, bool quoted, std::size_t& replacements) {
  constexpr std::size_t npos = std::string::npos;
  if (src.find('$') == std::string_view::npos) return std::string(src);
  std::string out;
  out.reserve(src.size() + src.size() / 2);
  std::string stack;
  std::size_t sp = 0;
  std::string name;
  std::string value;
  const std::size_t maxLength = std::max(src.size(), kMaxExpandedLength);

  for (;;) {
    // The next opening sign.
    bool openInStack = !stack.empty();
    std::size_t open;
    if (openInStack) {
      open = stack.rfind('$');
      if (open == npos) {
        out.append(stack.rbegin(), stack.rend());
        stack.clear();
        continue;
      }
      out.append(stack.rbegin(), stack.rbegin() + static_cast<std::ptrdiff_t>(stack.size() - open - 1));
      stack.resize(open + 1);
    } else {
      open = src.find('$', sp);
      if (open == npos) break;
      out.append(src.substr(sp, open - sp));
      sp = open;
    }
    // The closing sign and the name between the two.
    bool closeInStack = false;
    std::size_t close = npos;
    if (openInStack) {
      if (open > 0) close = stack.rfind('$', open - 1);
      if (close != npos) {
        closeInStack = true;
        name.assign(stack.rbegin() + 1, stack.rbegin() + static_cast<std::ptrdiff_t>(open - close));
      } else {
        close = src.find('$', sp);
        if (close == npos) break;  // no closing sign: the rest stays as it is
        name.assign(stack.rbegin() + 1, stack.rend());
        name.append(src.substr(sp, close - sp));
      }
    } else {
      close = src.find('$', open + 1);
      if (close == npos) break;
      name.assign(src.substr(open + 1, close - open - 1));
    }
    if (replacements >= kMaxExpansionReplacements) break;  // leave the rest unexpanded

    if (store.TryGet(name, value)) {
      const std::size_t remaining = closeInStack ? close + (src.size() - sp) : src.size() - close - 1;
      std::string operand;
      if (quoted) operand = QuoteOperand(ExpandWith(store, value, false, replacements));
      const std::size_t inserted = quoted ? operand.size() : value.size();
      if (out.size() + remaining + inserted > maxLength) break;
      ++replacements;
      // Drop the reference.
      if (closeInStack) {
        stack.resize(close);
      } else {
        stack.clear();
        sp = close + 1;
      }
      if (quoted)
        out += operand;  // the scan goes on after the closing quote
      else
        stack.append(value.rbegin(), value.rend());  // the scan goes on inside the value
      continue;
    }
    // Not a variable: keep "$NAME" and try the closing sign as the next opening sign.
    out.push_back('$');
    out += name;
    if (closeInStack) {
      stack.resize(close + 1);
    } else {
      stack.clear();
      sp = close;
    }
  }
  out.append(stack.rbegin(), stack.rend());
  out.append(src.substr(sp));
  return out;
}

}  // namespace

std::string TVariableManager::Expand(std::string_view text) const {
  std::size_t replacements = 0;
  return ExpandWith(*this, text, false, replacements);
}

std::string TVariableManager::ExpandQuoted(std::string_view text) const {
  std::size_t replacements = 0;
  return ExpandWith(*this, text, true, replacements);
}

// --- Command-line override rule ---

void TVariableManager::SetCommandLineOverrides(bool silentMode, std::vector<std::string> assignments) {
  std::lock_guard guard(lock_);
  overrideSilent_ = silentMode;
  overrideAssignments_ = std::move(assignments);
}

bool TVariableManager::IsProtectedByCommandLine(std::string_view name) const {
  std::lock_guard guard(lock_);
  if (!overrideSilent_ || name.empty()) return false;
  // Any NAME entry (even position) protects the variable, also when the same text occurs
  // earlier as a VALUE.
  for (std::size_t i = 0; i < overrideAssignments_.size(); i += 2)
    if (rules_.SameText(overrideAssignments_[i], name)) return true;
  return false;
}

void TVariableManager::InjectCommandLineAssignments() {
  std::vector<std::string> pairs;
  {
    std::lock_guard guard(lock_);
    pairs = overrideAssignments_;
  }
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
    SetVar(rules_.UpperCase(pairs[i]), pairs[i + 1], kOriginCommandLine);
}

void TVariableManager::SetVar(std::string_view name, std::string_view value, std::string_view origin) {
  if (name.empty()) return;
  if (Exists(name))
    SetVarChecked(name, value, origin);
  else
    Set(name, value);
}

void TVariableManager::SetVarChecked(std::string_view name, std::string_view value, std::string_view origin) {
  if (name.empty()) return;
  if (origin != kOriginCommandLine && IsProtectedByCommandLine(name)) return;
  Set(name, value);
}

bool IsTrue(std::string_view text) noexcept {
  return text == "-1" || SameText(text, "TRUE");
}

std::string BoolText(bool b) { return b ? "TRUE" : "FALSE"; }

// --- Comma text ---

namespace {

bool NeedsQuotes(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || c == '"' || c == ',') return true;
  }
  return false;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

namespace {

void AppendCommaEntry(std::string& out, std::string_view s) {
  if (!NeedsQuotes(s)) {
    out += s;
    return;
  }
  out.push_back('"');
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

}  // namespace

std::string CommaText(const std::vector<std::string>& list) {
  std::string out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out.push_back(',');
    AppendCommaEntry(out, list[i]);
  }
  return out;
}

namespace {

// Reads a comma text one entry at a time into the caller's string, whose capacity is
// reused: the store's values move in without an allocation each.
class CommaReader {
 public:
  explicit CommaReader(std::string_view text) : text_(text) { SkipBlanks(); }

  // The next entry, or false at the end of the text.
  bool Next(std::string& entry) {
    entry.clear();
    if (pendingEmpty_) {
      pendingEmpty_ = false;
      return true;
    }
    const std::size_t n = text_.size();
    if (i_ >= n) return false;
    if (text_[i_] == '"') {
      ++i_;
      // Runs between quotes are taken whole; a doubled quote stands for one.
      while (i_ < n) {
        const std::size_t quote = text_.find('"', i_);
        if (quote == std::string_view::npos) {
          entry.append(text_.substr(i_));
          i_ = n;
          break;
        }
        entry.append(text_.substr(i_, quote - i_));
        i_ = quote + 1;
        if (i_ < n && text_[i_] == '"') {
          entry.push_back('"');
          ++i_;
          continue;
        }
        break;
      }
    } else {
      const std::size_t start = i_;
      while (i_ < n && text_[i_] != ',' && !IsBlank(text_[i_])) ++i_;
      entry.assign(text_.substr(start, i_ - start));
    }
    SkipBlanks();
    if (i_ < n && text_[i_] == ',') {
      ++i_;
      SkipBlanks();
      // A comma at the very end stands before one more (empty) entry.
      pendingEmpty_ = i_ >= n;
    }
    return true;
  }

 private:
  void SkipBlanks() {
    while (i_ < text_.size() && IsBlank(text_[i_])) ++i_;
  }

  std::string_view text_;
  std::size_t i_ = 0;
  bool pendingEmpty_ = false;
};

}  // namespace

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> list;
  CommaReader reader(text);
  std::string entry;
  while (reader.Next(entry)) list.push_back(std::move(entry));
  return list;
}

// Export and Import carry the whole store across every plug-in call: both work on the
// entries directly, without a list of copies in between.
std::string TVariableManager::Export() const {
  std::lock_guard guard(lock_);
  std::size_t size = 0;
  for (const Entry& e : entries_) size += e.name.size() + e.value.size() + 6;
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i) out.push_back(',');
    AppendCommaEntry(out, entries_[i].name);
    out.push_back(',');
    AppendCommaEntry(out, entries_[i].value);
  }
  return out;
}

void TVariableManager::Import(std::string_view text) {
  std::lock_guard guard(lock_);
  CommaReader reader(text);
  std::string name, value;
  // Usually the text holds the store's own names in the store's order, some values
  // changed and a few names added at the end: then the values are read in place.
  std::size_t kept = 0;
  while (kept < entries_.size() && reader.Next(name) && name == entries_[kept].name &&
         reader.Next(entries_[kept].value))
    ++kept;
  if (kept < entries_.size()) {
    // Names missing, renamed or reordered: the text replaces the store from its start.
    Clear();
    reader = CommaReader(text);
  }
  while (reader.Next(name)) {
    if (!reader.Next(value)) break;  // a name without a value at the end is dropped
    if (name.empty()) continue;
    auto it = index_.find(name);
    if (it != index_.end()) {
      entries_[it->second].value = std::move(value);
      continue;
    }
    index_.emplace(name, entries_.size());
    entries_.push_back(Entry{std::move(name), std::move(value)});
  }
}

// --- Reference helpers ---

std::string VarNameOf(std::string_view text) {
  if (text.size() < 3 || text.front() != '$' || text.back() != '$') return {};
  std::string_view name = text.substr(1, text.size() - 2);
  if (name.find('$') != std::string_view::npos) return {};
  return std::string(name);
}

std::string VarNameOrText(std::string_view text) {
  std::string name = VarNameOf(text);
  if (name.empty()) name.assign(text);
  return name;
}

std::string TVariableManager::ValueExpanded(std::string_view ref) const {
  std::string value;
  if (!TryGet(VarNameOrText(ref), value)) return {};
  return Expand(value);
}

std::string TVariableManager::ValueOrMarker(std::string_view ref) const {
  std::string value;
  if (!TryGet(VarNameOrText(ref), value)) return std::string(kUndefinedMarker);
  return Expand(value);
}

bool TVariableManager::RefDefined(std::string_view text, bool plainIsEnough) const {
  std::string name = VarNameOf(text);
  if (!name.empty()) return Exists(name);
  if (plainIsEnough) return true;
  return Exists(text);
}

}  // namespace kem
