#include "script/store/variable_manager.h"

#include <algorithm>

#include "common/text.h"
#include "script/params/statement_params.h"

namespace kem {

std::size_t TVariableManager::Hash::operator()(std::string_view s) const noexcept {
  return HashTextIgnoreCase(s);
}

bool TVariableManager::Equal::operator()(std::string_view a, std::string_view b) const noexcept {
  return SameText(a, b);
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

// The rescanning expansion. The text still to scan is kept reversed in `rest`, so that
// inserting a value in front of it (where the scan continues) is an append.
std::string ExpandWith(const TVariableManager& store, std::string_view text, bool quoted) {
  if (text.find('$') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::string rest(text.rbegin(), text.rend());
  std::string name;
  std::string value;
  std::size_t replacements = 0;
  const std::size_t maxLength = std::max(text.size(), kMaxExpandedLength);

  auto flushRest = [&] {
    out.append(rest.rbegin(), rest.rend());
    rest.clear();
  };

  for (;;) {
    std::size_t open = rest.rfind('$');
    if (open == std::string::npos) break;
    // Characters before the opening sign are final.
    out.append(rest.rbegin(), rest.rbegin() + static_cast<std::ptrdiff_t>(rest.size() - open - 1));
    rest.resize(open + 1);
    if (open == 0) break;  // a lone "$" at the end
    std::size_t close = rest.rfind('$', open - 1);
    if (close == std::string::npos) break;  // no closing sign: the rest stays as it is
    name.assign(rest.rbegin() + 1, rest.rbegin() + static_cast<std::ptrdiff_t>(open - close));
    if (replacements < kMaxExpansionReplacements && store.TryGet(name, value)) {
      if (quoted) {
        // The operand is the value's own expansion, quoted so that the expression reads
        // it back as exactly that text (embedded quotes doubled). The scan goes on after
        // the closing quote.
        std::string operand = QuoteOperand(ExpandWith(store, value, false));
        if (out.size() + close + operand.size() > maxLength) break;
        ++replacements;
        rest.resize(close);
        out += operand;
        continue;
      }
      if (out.size() + close + value.size() > maxLength) break;  // leave the rest unexpanded
      ++replacements;
      rest.resize(close);
      rest.append(value.rbegin(), value.rend());
      continue;
    }
    if (replacements >= kMaxExpansionReplacements) break;
    // Not a variable: keep "$NAME" and try the closing sign as the next opening sign.
    out.push_back('$');
    out.append(name);
    rest.resize(close + 1);
  }
  flushRest();
  return out;
}

}  // namespace

std::string TVariableManager::Expand(std::string_view text) const { return ExpandWith(*this, text, false); }

std::string TVariableManager::ExpandQuoted(std::string_view text) const { return ExpandWith(*this, text, true); }

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
