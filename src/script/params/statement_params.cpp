#include "script/params/statement_params.h"

#include <algorithm>

#include "common/text.h"
#include "engine/statement_error.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

[[noreturn]] void ListIndexError(std::size_t position) {
  throw StatementError("List index out of bounds (" + std::to_string(position) + ")");
}

}  // namespace

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

std::string ExpandPath(const TVariableManager& vars, std::string_view text) {
  std::string s = vars.Expand(text);
  const TextRules& rules = vars.Rules();
  const bool unc = StartsWith(s, "\\\\");
  std::string out;
  out.reserve(s.size() + 1);
  for (std::size_t i = 0; i < s.size(); ++i) {
    out.push_back(s[i]);
    if (rules.IsLeadByte(s[i])) {
      // A double-byte character whose second byte is a backslash (code page 932 has
      // several) is no separator: both bytes are copied as they are.
      if (i + 1 < s.size()) out.push_back(s[++i]);
      continue;
    }
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') ++i;
  }
  // A UNC path keeps its two leading backslashes (also when it was written with every
  // backslash doubled).
  if (unc && !StartsWith(out, "\\\\")) out.insert(out.begin(), '\\');
  return out;
}

void EnsureResultVariable(TVariableManager& vars, std::string_view name, std::string_view statementName) {
  if (name.empty() || vars.Exists(name)) return;
  vars.SetVar(UpperCase(name), "", ActionLabel(statementName));
}

std::string ActionLabel(std::string_view statementName) {
  std::string label(statementName);
  label += " Action";
  return label;
}

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

}  // namespace kem
