#include "script/store/variable_manager.h"

#include <algorithm>

#include "common/text.h"
#include "script/params/statement_params.h"

namespace kem {

namespace {

// The shared letter-case folding as a table, so that hashing and comparing a name costs
// one load per character.
struct FoldTable {
  unsigned char upper[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c) upper[c] = static_cast<unsigned char>(FoldUpper(static_cast<char>(c)));
  }
};

const FoldTable& Fold() {
  static const FoldTable table;
  return table;
}

}  // namespace

// Not noexcept on purpose: the map then keeps each node's hash code, and a look-up
// compares codes before it compares names instead of re-hashing every node it passes.
std::size_t TVariableManager::Hash::operator()(std::string_view s) const {
  const unsigned char* up = Fold().upper;
  std::uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= up[static_cast<unsigned char>(c)];
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 29));
}

bool TVariableManager::Equal::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  const unsigned char* up = Fold().upper;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (up[static_cast<unsigned char>(a[i])] != up[static_cast<unsigned char>(b[i])]) return false;
  return true;
}

TVariableManager::TVariableManager(bool lockReads) : lockReads_(lockReads) {}

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

void TVariableManager::SetLocked(std::string_view name, std::string_view value) {
  Set(name, value);
}

void TVariableManager::Clear() {
  std::lock_guard guard(lock_);
  entries_.clear();
  index_.clear();
}

bool TVariableManager::Exists(std::string_view name) const {
  if (name.empty()) return false;
  Enter(false);
  bool found = index_.find(name) != index_.end();
  Leave(false);
  return found;
}

bool TVariableManager::TryGet(std::string_view name, std::string& value) const {
  if (name.empty()) return false;
  Enter(false);
  auto it = index_.find(name);
  bool found = it != index_.end();
  if (found) value = entries_[it->second].value;
  Leave(false);
  return found;
}

std::string TVariableManager::Get(std::string_view name) const {
  std::string value;
  TryGet(name, value);
  return value;
}

std::size_t TVariableManager::Count() const {
  Enter(false);
  std::size_t n = entries_.size();
  Leave(false);
  return n;
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

TVariableManager& Variables() {
  static TVariableManager store(true);
  return store;
}

// --- Command-line override rule ---

namespace {

struct Overrides {
  std::mutex lock;
  bool silent = false;
  std::vector<std::string> assignments;
};

Overrides& CommandLine() {
  static Overrides o;
  return o;
}

}  // namespace

void SetCommandLineOverrides(bool silentMode, std::vector<std::string> assignments) {
  Overrides& o = CommandLine();
  std::lock_guard guard(o.lock);
  o.silent = silentMode;
  o.assignments = std::move(assignments);
}

bool IsProtectedByCommandLine(std::string_view name) {
  Overrides& o = CommandLine();
  std::lock_guard guard(o.lock);
  if (!o.silent || name.empty()) return false;
  // Any NAME entry (even position) protects the variable, also when the same text occurs
  // earlier as a VALUE.
  for (std::size_t i = 0; i < o.assignments.size(); i += 2)
    if (SameText(o.assignments[i], name)) return true;
  return false;
}

void InjectCommandLineAssignments() {
  std::vector<std::string> pairs;
  {
    Overrides& o = CommandLine();
    std::lock_guard guard(o.lock);
    pairs = o.assignments;
  }
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
    SetVar(UpperCase(pairs[i]), pairs[i + 1], kOriginCommandLine);
}

// --- Module-level helpers ---

std::string GetVar(std::string_view name) { return Variables().Get(name); }

bool VarExists(std::string_view name) { return Variables().Exists(name); }

void SetVar(std::string_view name, std::string_view value, std::string_view origin) {
  if (name.empty()) return;
  if (Variables().Exists(name))
    SetVarChecked(name, value, origin);
  else
    Variables().Set(name, value);
}

void SetVarChecked(std::string_view name, std::string_view value, std::string_view origin) {
  if (name.empty()) return;
  if (origin != kOriginCommandLine && IsProtectedByCommandLine(name)) return;
  Variables().SetLocked(name, value);
}

void RawSet(std::string_view name, std::string_view value) { Variables().Set(name, value); }

void ClearVars() { Variables().Clear(); }

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

std::string CommaText(const std::vector<std::string>& list) {
  std::string out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out.push_back(',');
    const std::string& s = list[i];
    if (!NeedsQuotes(s)) {
      out += s;
      continue;
    }
    out.push_back('"');
    for (char c : s) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  return out;
}

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> list;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  while (i < n) {
    std::string entry;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            entry.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        entry.push_back(text[i++]);
      }
    } else {
      while (i < n && text[i] != ',' && !IsBlank(text[i])) entry.push_back(text[i++]);
    }
    list.push_back(std::move(entry));
    while (i < n && IsBlank(text[i])) ++i;
    if (i < n && text[i] == ',') {
      ++i;
      while (i < n && IsBlank(text[i])) ++i;
      // A comma at the very end stands before one more (empty) entry.
      if (i >= n) list.emplace_back();
    }
  }
  return list;
}

std::string ExportVars() {
  std::vector<std::string> list;
  Variables().Dump(list);
  return CommaText(list);
}

void ImportVars(std::string_view text) {
  std::vector<std::string> list = SplitCommaText(text);
  TVariableManager& store = Variables();
  store.Clear();
  for (std::size_t i = 0; i + 1 < list.size(); i += 2) store.Set(list[i], list[i + 1]);
}

// --- Reference helpers ---

std::string VarValueExpanded(std::string_view ref) {
  std::string name = VarNameOrText(ref);
  std::string value;
  if (!Variables().TryGet(name, value)) return {};
  return ExpandVars(value);
}

std::string VarValueOrMarker(std::string_view ref) {
  std::string name = VarNameOrText(ref);
  std::string value;
  if (!Variables().TryGet(name, value)) return std::string(kUndefinedMarker);
  return ExpandVars(value);
}

bool VarRefDefined(std::string_view text, bool plainIsEnough) {
  std::string name = VarNameOf(text);
  if (!name.empty()) return VarExists(name);
  if (plainIsEnough) return true;
  return VarExists(text);
}

}  // namespace kem
