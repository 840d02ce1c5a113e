#include "script/params/statement_params.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "common/text.h"
#include "script/statement_error.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

std::atomic<const SetupData*> g_scriptData{nullptr};
std::atomic<TranslateHook> g_translateHook{nullptr};

[[noreturn]] void ListIndexError(std::size_t position) {
  throw StatementError("List index out of bounds (" + std::to_string(position) + ")");
}

const SetupData& RequireScriptData() {
  const SetupData* data = g_scriptData.load();
  if (!data) throw std::logic_error("No setup data is set for the script");
  return *data;
}

}  // namespace

void SetScriptData(const SetupData* data) { g_scriptData.store(data); }

const SetupData* ScriptData() { return g_scriptData.load(); }

ScriptDataScope::ScriptDataScope(const SetupData& data) : previous_(g_scriptData.exchange(&data)) {}

ScriptDataScope::~ScriptDataScope() { g_scriptData.store(previous_); }

std::string GetParam(const SetupData& data, std::size_t statementIndex, int n) {
  if (statementIndex >= data.StatementIds.Count()) ListIndexError(statementIndex);
  const std::string& id = data.StatementIds[statementIndex];
  std::ptrdiff_t p = data.ParameterLines.IndexOf(id);
  if (p == HashedStringList::npos) return {};
  if (n < 0) ListIndexError(static_cast<std::size_t>(p));
  std::size_t at = static_cast<std::size_t>(p) + static_cast<std::size_t>(n);
  if (at >= data.ParameterLines.Count()) ListIndexError(at);
  return data.ParameterLines[at];
}

std::string GetParam(std::size_t statementIndex, int n) {
  return GetParam(RequireScriptData(), statementIndex, n);
}

std::string ExpandVars(std::string_view text) { return Variables().Expand(text); }

std::string ExpandVarsQuoted(std::string_view text) { return Variables().ExpandQuoted(text); }

std::string ExpandPath(std::string_view text) {
  std::string s = ExpandVars(text);
  const bool unc = StartsWith(s, "\\\\");
  std::string out;
  out.reserve(s.size() + 1);
  for (std::size_t i = 0; i < s.size(); ++i) {
    out.push_back(s[i]);
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') ++i;
  }
  // A UNC path keeps its two leading backslashes (also when it was written with every
  // backslash doubled).
  if (unc && !StartsWith(out, "\\\\")) out.insert(out.begin(), '\\');
  return out;
}

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

void EnsureResultVariable(std::string_view name, std::string_view statementName) {
  if (name.empty() || VarExists(name)) return;
  SetVar(UpperCase(name), "", ActionLabel(statementName));
}

std::string ActionLabel(std::string_view statementName) {
  std::string label(statementName);
  label += " Action";
  return label;
}

std::string TranslateParam(std::string_view text, std::string_view key, int k) {
  TranslateHook hook = g_translateHook.load();
  if (!hook) return std::string(text);
  return hook(text, key, k);
}

void SetTranslateHook(TranslateHook hook) { g_translateHook.store(hook); }

namespace {

// Replaces every occurrence of pattern (ignoring case) in s by value, left to right,
// without rescanning the inserted text. Returns false when the result would grow past
// limit; s is then left unchanged.
bool ReplaceAllIgnoreCase(std::string& s, std::string_view pattern, std::string_view value, std::size_t limit) {
  if (pattern.empty() || s.size() < pattern.size()) return true;
  std::string out;
  std::size_t i = 0;
  bool any = false;
  while (i + pattern.size() <= s.size()) {
    if (SameText(std::string_view(s).substr(i, pattern.size()), pattern)) {
      if (!any) {
        out.reserve(s.size());
        out.assign(s, 0, i);
        any = true;
      }
      out.append(value);
      i += pattern.size();
      if (out.size() + (s.size() - i) > limit) return false;
    } else {
      if (any) out.push_back(s[i]);
      ++i;
    }
  }
  if (!any) return true;
  out.append(s, i, std::string::npos);
  s = std::move(out);
  return true;
}

}  // namespace

std::string ExpandCompilerVars(const HashedStringList& vars, std::string_view text) {
  std::string current(text);
  const std::size_t limit = std::max(text.size(), kMaxExpandedLength);
  for (int pass = 0; pass < kMaxCompilerVarPasses; ++pass) {
    if (current.find('#') == std::string::npos) return current;
    std::string result = current;
    std::string pattern;
    for (std::size_t i = 0; i + 1 < vars.Count(); i += 2) {
      pattern = "#" + vars[i] + "#";
      if (!ReplaceAllIgnoreCase(result, pattern, vars[i + 1], limit)) return result;
    }
    if (result.find('#') == std::string::npos || result == current) return result;
    current = std::move(result);
  }
  return current;
}

std::string ExpandCompilerVars(std::string_view text) {
  return ExpandCompilerVars(RequireScriptData().CompilerVariables, text);
}

std::pair<std::string, std::string> SplitAt(std::string_view text, std::string_view separator) {
  std::size_t p = separator.empty() ? std::string_view::npos : text.find(separator);
  if (p == std::string_view::npos) return {std::string(text), std::string()};
  return {std::string(text.substr(0, p)), std::string(text.substr(p + separator.size()))};
}

std::string CommandHeader(const SetupData& data, std::size_t statementIndex, bool allowEmpty) {
  std::string header = LookUpCommandHeader(data.CommandHeaders, statementIndex);
  if (header.empty() && !allowEmpty) throw StatementError(std::string(kNoCommandHeaderMessage));
  return header;
}

std::string CommandHeader(std::size_t statementIndex, bool allowEmpty) {
  return CommandHeader(RequireScriptData(), statementIndex, allowEmpty);
}

}  // namespace kem
