#include "kembuild/statement_checks.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

#include "common/text.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "kembuild/statement_reference.h"
#include "script/validation/script_validation.h"

namespace kem::builder {
namespace {

constexpr std::string_view kPersistMarker = "$VRAX$VRAX$";

bool IsNoOpName(std::string_view name) { return name == "Code Folding Region" || name == "Compiler Variable End"; }

// Whether the text holds a reference that only the run (or the compiler variables) decides.
bool HasReference(std::string_view text) { return text.find_first_of("$#") != std::string_view::npos; }

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

// The names of the references open + NAME + close in text that look like names (a letter
// or underscore first, then letters, digits, "_", "." or "-"): "$5 or $6" names nothing.
std::vector<std::string> ReferencesIn(std::string_view text, char mark) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while ((at = text.find(mark, at)) != std::string_view::npos) {
    std::size_t close = text.find(mark, at + 1);
    if (close == std::string_view::npos) break;
    std::string_view name = text.substr(at + 1, close - at - 1);
    bool looksLikeName = !name.empty() && IsNameStart(name[0]) && std::all_of(name.begin(), name.end(), IsNameChar);
    if (looksLikeName) {
      names.emplace_back(name);
      at = close + 1;
    } else {
      at = close;  // the closing mark may open the next reference
    }
  }
  return names;
}

// The variable a parameter names: NAME or $NAME$.
std::string VariableOf(std::string_view text) {
  if (text.size() >= 2 && text.front() == '$' && text.back() == '$' &&
      text.substr(1, text.size() - 2).find('$') == std::string_view::npos)
    return std::string(text.substr(1, text.size() - 2));
  return std::string(text);
}

bool IsInteger(std::string_view text, long long& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string_view digits = text.substr(i);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size();
}

bool IsFlag(std::string_view text) {
  return text.empty() || SameText(text, "TRUE") || SameText(text, "FALSE") || text == "-1";
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string Suggestion(const std::string& close) { return close.empty() ? "" : "; did you mean " + close + "?"; }

class Checker {
 public:
  Checker(const Project& p, std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings)
      : errors_(errors), warnings_(warnings) {
    for (const auto& ps : p.pluginStatements) plugins_.insert(ps.name);
    // A plug-in's library comes from the support archive, except in a web build, whose
    // media blocks bring it.
    checkPluginLibraries_ = p.mediaMode != 2;
    for (const auto& f : p.supportFiles) supportNames_.insert(UpperCase(f.path.substr(f.path.find_last_of('/') + 1)));
    for (const auto& info : StatementKinds()) statementNames_.push_back(info.name);
    for (const auto& name : plugins_) statementNames_.push_back(name);
    statementNames_.push_back("Code Folding Region");
    statementNames_.push_back("Compiler Variable End");
    for (const auto& v : p.compilerVariables) {
      compilerVariables_.insert(UpperCase(v.name));
      compilerVariableNames_.push_back(v.name);
    }
    for (std::string_view name : PredeclaredVariables()) Define(std::string(name));
  }

  void Run(std::vector<ScriptStatement>& statements) {
    // Variables any statement of the script defines count as defined everywhere: the order
    // at run time is the engine validation's concern.
    for (const auto& s : statements) CollectDefinitions(s);
    for (auto& s : statements) CheckStatement(s);
    CheckBlocks(statements);
  }

 private:
  void Error(const ScriptStatement& s, std::string message) { errors_.push_back({s.file, s.line + 1, std::move(message)}); }
  void Warning(const ScriptStatement& s, std::string message) {
    Diagnostic d{s.file, s.line + 1, std::move(message)};
    d.warning = true;
    warnings_.push_back(std::move(d));
  }

  void Define(std::string name) {
    if (name.empty()) return;
    auto [it, fresh] = defined_.insert(UpperCase(name));
    if (fresh) definedNames_.push_back(name);
  }

  // The engine loads a plug-in statement's library from the support folder by the file name
  // of its library parameter; without it the statement is skipped at run time.
  void CheckPluginLibrary(const ScriptStatement& s) {
    if (s.commentedOut || !checkPluginLibraries_) return;
    const std::string library = s.Param(param::PluginStatement::Library);
    if (library.empty()) {
      Error(s, "plug-in statement " + Quoted(s.name) + " names no library (parameter " +
                   std::to_string(param::PluginStatement::Library) + ")");
      return;
    }
    const std::string file = library.substr(library.find_last_of("\\/") + 1);
    if (!supportNames_.count(UpperCase(file)))
      Error(s, "plug-in library " + Quoted(file) + " of " + Quoted(s.name) +
                   " is not shipped: list it under [support-files]");
  }

  void CollectDefinitions(const ScriptStatement& s) {
    if (s.commentedOut) return;
    auto kind = FindStatementKind(s.name);
    if (!kind) return;
    const auto& ref = StatementReferenceOf(*kind);
    for (std::size_t i = 0; i < ref.parameters.size() && i < s.params.size(); ++i) {
      if (ref.parameters[i].kind != ParameterKind::ResultVariable) continue;
      std::string_view text = s.params[i];
      if (ref.parameters[i].traits & kPersistable) text = text.substr(0, text.find(kPersistMarker));
      Define(VariableOf(text));
    }
  }

  void CheckStatement(ScriptStatement& s) {
    auto kind = FindStatementKind(s.name);
    if (!kind) {
      if (plugins_.count(s.name)) CheckPluginLibrary(s);
      if (IsNoOpName(s.name) || plugins_.count(s.name)) return;
      if (auto other = FindStatementKindIgnoringCase(s.name))
        Error(s, "unknown statement name " + Quoted(s.name) + ": statement names are case-sensitive; did you mean " +
                     Quoted(StatementKindName(*other)) + "?");
      else
        Error(s, "unknown statement name " + Quoted(s.name) +
                     Suggestion(ClosestName(s.name, statementNames_).empty()
                                    ? std::string()
                                    : Quoted(ClosestName(s.name, statementNames_))) +
                     " (kembuild statements lists them)");
      return;
    }
    if (s.commentedOut) return;
    const StatementReference& ref = StatementReferenceOf(*kind);
    if (*kind != StatementKind::Comment) CheckCompilerVariables(s);
    const std::string what = std::string(StatementKindName(*kind));
    if (!ref.carriedOut) Warning(s, what + " is not carried out by this engine: the statement does nothing");
    if (!ref.described) return;
    if (s.params.size() > ref.parameters.size()) {
      Error(s, what + " takes " + std::to_string(ref.parameters.size()) + " parameter" +
                   (ref.parameters.size() == 1 ? "" : "s") + ", not " + std::to_string(s.params.size()) +
                   " (kembuild statements " + Quoted(what) + ")");
      return;
    }
    for (std::size_t i = 0; i < ref.parameters.size(); ++i) {
      const ParameterReference& p = ref.parameters[i];
      const std::string where = "parameter " + std::to_string(i + 1) + " (" + std::string(p.name) + ") of " + what;
      const bool written = i < s.params.size();
      if ((p.traits & kRequired) && (!written || s.params[i].empty())) {
        Error(s, what + " needs " + (written ? "a value in " : "") + "parameter " + std::to_string(i + 1) + " (" +
                     std::string(p.name) + ": " + std::string(p.meaning) + ")");
        continue;
      }
      if (!written) continue;
      std::string& text = s.params[i];
      switch (p.kind) {
        case ParameterKind::Integer: {
          long long v = 0;
          if (HasReference(text) || text.empty()) break;
          // "ord" reads operand a as text: the code of its first character.
          if (*kind == StatementKind::Mathematics && i + 1 == param::Mathematics::A) {
            const std::string operation = s.Param(param::Mathematics::Operation);
            if (operation == "11" || SameText(operation, "ord")) break;
          }
          if (!IsInteger(text, v)) Error(s, where + " must be a whole number, not " + Quoted(text));
          else if ((p.minimum && v < *p.minimum) || (p.maximum && v > *p.maximum))
            Error(s, where + " must lie between " + std::to_string(*p.minimum) + " and " + std::to_string(*p.maximum));
          break;
        }
        case ParameterKind::Flag:
          if (!HasReference(text) && !IsFlag(text)) Error(s, where + " must be TRUE or FALSE, not " + Quoted(text));
          break;
        case ParameterKind::Enumeration:
          CompileEnumeration(s, ref, p, i, where);
          break;
        case ParameterKind::VariableName:
          // "If NAME defined" asks whether the variable exists: no doubt to report.
          if (!(ref.negationParameter &&
                (s.Param(param::If::Operator) == "5" || SameText(s.Param(param::If::Operator), "defined"))))
            CheckVariable(s, VariableOf(text), where);
          break;
        default:
          break;
      }
      if ((p.traits & kExpanded) && p.kind != ParameterKind::VariableName)
        for (const auto& name : ReferencesIn(s.params[i], '$')) CheckVariable(s, name, where);
    }
  }

  void CompileEnumeration(ScriptStatement& s, const StatementReference& ref, const ParameterReference& p, std::size_t i,
                          const std::string& where) {
    std::string& text = s.params[i];
    if (text.empty() || HasReference(text)) return;
    for (const auto& v : p.values)
      if (text == v.code) return;
    for (const auto& v : p.values) {
      if (!SameText(text, v.name)) continue;
      text = std::string(v.code);
      if (v.negated && ref.negationParameter) {
        std::size_t n = ref.negationParameter - 1;
        if (s.params.size() <= n) s.params.resize(n + 1);
        if (!s.params[n].empty()) {
          Error(s, Quoted(v.name) + " already negates; leave parameter " + std::to_string(n + 1) + " empty");
          return;
        }
        s.params[n] = "TRUE";
      }
      return;
    }
    std::vector<std::string_view> names;
    std::string list;
    for (const auto& v : p.values) {
      names.push_back(v.name);
      list += (list.empty() ? "" : ", ") + std::string(v.name) + " (" + std::string(v.code) + ")";
    }
    std::string close = ClosestName(text, names);
    Error(s, where + " is " + Quoted(text) + ", which is none of " + list +
                 Suggestion(close.empty() ? close : Quoted(close)));
  }

  void CheckVariable(const ScriptStatement& s, const std::string& name, const std::string& where) {
    if (name.empty() || defined_.count(UpperCase(name)) || HasReference(name)) return;
    if (!warned_.insert(UpperCase(name) + "|" + s.file + "|" + std::to_string(s.line)).second) return;
    std::string close = ClosestName(name, std::vector<std::string_view>(definedNames_.begin(), definedNames_.end()));
    Warning(s, where + ": nothing in the project defines the variable " + name +
                   Suggestion(close.empty() ? close : "$" + close + "$") + " (the command line may define it)");
  }

  void CheckCompilerVariables(const ScriptStatement& s) {
    for (const auto& text : s.params)
      for (const auto& name : ReferencesIn(text, '#')) {
        if (compilerVariables_.count(UpperCase(name))) continue;
        std::string close = ClosestName(name, compilerVariableNames_);
        Error(s, "unknown compiler variable #" + name + "#" + Suggestion(close.empty() ? close : "#" + close + "#") +
                     "; [compiler-variables] in " + kManifestName + " defines them");
      }
  }

  void CheckBlocks(const std::vector<ScriptStatement>& statements) {
    struct Open {
      StatementKind kind;
      const ScriptStatement* opener;
      const ScriptStatement* otherwise;  // the block's Else, once seen
    };
    std::vector<Open> open;
    for (const auto& s : statements) {
      if (s.commentedOut) continue;
      auto kind = FindStatementKind(s.name);
      if (!kind) continue;
      switch (*kind) {
        case StatementKind::If:
        case StatementKind::WizardLoop:
          open.push_back({*kind, &s, nullptr});
          break;
        case StatementKind::Else:
        case StatementKind::ElseIf:
          if (open.empty() || open.back().kind != StatementKind::If) {
            Error(s, Quoted(s.name) + " outside any If block" +
                         (open.empty() ? std::string()
                                       : " (the Wizard Loop at line " + std::to_string(open.back().opener->line + 1) +
                                             " is still open)"));
            break;
          }
          // After the block's Else the engine skips to the End: a further branch never runs.
          if (open.back().otherwise)
            Error(s, Quoted(s.name) + " after the Else of this If (line " +
                         std::to_string(open.back().otherwise->line + 1) + ") never runs");
          else if (*kind == StatementKind::Else)
            open.back().otherwise = &s;
          break;
        case StatementKind::End:
          if (open.empty()) Error(s, "End without an If or Wizard Loop to close");
          else open.pop_back();
          break;
        default:
          break;
      }
    }
    for (const auto& o : open)
      Error(*o.opener, "this " + std::string(StatementKindName(o.kind)) + " has no End");
  }

  std::vector<Diagnostic>& errors_;
  std::vector<Diagnostic>& warnings_;
  std::set<std::string, std::less<>> plugins_;
  std::set<std::string> supportNames_;  // upper case
  bool checkPluginLibraries_ = true;
  std::vector<std::string_view> statementNames_;
  std::set<std::string> compilerVariables_;
  std::vector<std::string_view> compilerVariableNames_;
  std::set<std::string> defined_;
  std::vector<std::string> definedNames_;
  std::set<std::string> warned_;
};

}  // namespace

void CheckStatements(const Project& project, std::vector<ScriptStatement>& statements,
                     std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings) {
  Checker(project, errors, warnings).Run(statements);
}

}  // namespace kem::builder
