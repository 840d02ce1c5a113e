#include "script/statements/variable_statements.h"

#include <functional>
#include <optional>

#include "common/text.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/eval/expression.h"
#include "script/eval/mathematics.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

constexpr std::string_view kPersistMarker = "$VRAX$VRAX$";
constexpr std::string_view kNewLineMarker = "$NEWLINE$";

// The result variable a parameter names ($NAME$ or NAME), upper-cased and created empty
// when missing.
std::string ResultVariable(Interpreter& in, std::string_view param, std::string_view statement) {
  std::string name = in.Context().Text().UpperCase(VarNameOrText(param));
  EnsureResultVariable(in.Vars(), name, statement);
  return name;
}

std::string CrLfToMarker(std::string_view text) {
  return ReplaceText(Latin1Rules(), text, "\r\n", kNewLineMarker, false, true);
}

// 1-based character access as the runtime's Copy: positions before 1 count from 1,
// counts below 0 give the empty text.
std::string Copy(std::string_view s, long long index, long long count) {
  if (count <= 0) return {};
  if (index < 1) index = 1;
  if (index > static_cast<long long>(s.size())) return {};
  auto start = static_cast<std::size_t>(index - 1);
  auto n = static_cast<std::size_t>(std::min<long long>(count, static_cast<long long>(s.size() - start)));
  return std::string(s.substr(start, n));
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string FileNamePart(std::string_view path) {
  auto cut = path.find_last_of("\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string FolderPart(std::string_view path) {
  auto cut = path.find_last_of("\\:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string ExtensionPart(std::string_view path) {  // with the leading "."
  std::string name = FileNamePart(path);
  auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// "C:" or "\\server\share"; empty when the path has neither.
std::string DrivePart(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    auto server = path.find('\\', 2);
    if (server == std::string_view::npos) return std::string(path);
    auto share = path.find('\\', server + 1);
    return std::string(share == std::string_view::npos ? path : path.substr(0, share));
  }
  return {};
}

std::string WithBackslashUnlessEmpty(std::string s) { return s.empty() ? s : WithTrailingBackslash(s); }

// --- "Set Variable" --------------------------------------------------------------------

void SetVariable(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Set Variable";
  TVariableManager& vars = in.Vars();
  std::string value = in.Param(i, param::SetVariable::Value);
  if (in.LanguageSelected()) value = in.Translated(value, in.Param(i, param::Id), 1);
  value = vars.Expand(value);

  std::string name = in.Param(i, param::SetVariable::Variable);
  bool persistent = false;
  if (auto pos = name.find(kPersistMarker); pos != std::string::npos) {
    persistent = std::string_view(name).substr(pos + kPersistMarker.size()) == "TRUE";
    name.resize(pos);
  }
  name = VarNameOrText(name);
  EnsureResultVariable(vars, name, kName);
  vars.SetVarChecked(name, value, "Set Variable Action");
  EngineState& state = in.Context().State;
  if (persistent && !name.empty()) state.AddSavedVariable(name);
  if (SameText(name, "ABORT")) vars.SetVar("VRAX_IsCancelled", value, "Set Variable Tricke");

  if (SameText(name, "PROGRESS") || SameText(name, "PROGRESSTEXT")) {
    struct ActiveScope {
      explicit ActiveScope(EngineState& s) : state(s) { state.WorkerActive = true; }
      ~ActiveScope() { state.WorkerActive = false; }
      EngineState& state;
    } active(state);
    std::int32_t position = TextToInt32(vars.Get("PROGRESS"));
    if (auto& refresh = in.Hooks().Progress.Refresh) refresh(vars.Get("PROGRESSTEXT"), position);
  }
}

// --- "Localization Variable" -------------------------------------------------------------

void LocalizationVariable(Interpreter& in, std::size_t i) {
  TVariableManager& vars = in.Vars();
  std::string name = VarNameOrText(in.Param(i, param::LocalizationVariable::Variable));
  EnsureResultVariable(vars, name, "Localization Variable");
  std::string value = in.Param(i, param::LocalizationVariable::Value);
  if (in.LanguageSelected()) value = in.Translated(value, "ZOZADORU$" + name + "$ZOZADORU", 1);
  vars.SetVarChecked(name, vars.Expand(value), "Localization Variable Action");
}

// --- "Get Environment", "Get Temporary File" ---------------------------------------------

void GetEnvironment(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Get Environment";
  std::string name = in.Vars().Expand(in.Param(i, param::GetEnvironment::Name));
  std::string result;
  {
    RedirectionGuard guard(in.Context().State, in.Machine().Files);
    if (!name.empty()) {
      result = in.Machine().Shell.ExpandEnvironmentName(name);
    } else {
      for (const std::string& entry : in.Machine().Shell.EnvironmentStrings()) {
        if (!result.empty()) result += kNewLineMarker;
        result += entry;
      }
    }
  }
  std::string var = ResultVariable(in, in.Param(i, param::GetEnvironment::Result), kName);
  in.Vars().SetVar(var, result, ActionLabel(kName));
}

void GetTemporaryFile(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Get Temporary File";
  std::string var = ResultVariable(in, in.Param(i, param::GetTemporaryFile::Result), kName);
  std::string path;
  {
    RedirectionGuard guard(in.Context().State, in.Machine().Files);
    path = in.Machine().Files.CreateTempFileName(in.Vars().Get("TEMPDIR"), "kem");
  }
  in.Vars().SetVar(var, path, ActionLabel(kName));
}

// --- "Convert Path", "Convert Case" -------------------------------------------------------

std::string LongPathOf(FileService& files, std::string path, int depth = 0) {
  std::erase(path, '"');
  if (!path.empty() && path.back() == '\\') path.pop_back();
  auto cut = path.find_last_of("\\:");
  if (cut == std::string::npos || depth > 260) return path;
  std::string parent = path[cut] == ':' ? path.substr(0, cut + 1) : path.substr(0, cut);
  if (parent == path || cut + 1 >= path.size()) return path;
  std::string longParent = LongPathOf(files, parent, depth + 1);
  std::optional<std::string> stored = files.StoredName(path);
  if (!stored) return path;
  return longParent + "\\" + *stored;
}

void ConvertPath(Interpreter& in, std::size_t i) {
  std::string var = in.Param(i, param::ConvertPath::Variable);
  bool toShort = IsTrue(in.Param(i, param::ConvertPath::Short));
  TVariableManager& vars = in.Vars();
  FileService& files = in.Machine().Files;
  std::string value = ExpandPath(vars, vars.Get(var));
  std::string result;
  {
    RedirectionGuard guard(in.Context().State, files);
    if (toShort) {
      // A path the system cannot shorten (it does not exist) stays as it is.
      result = files.ShortPathName(value).value_or(value);
    } else {
      result = LongPathOf(files, value);
    }
  }
  vars.SetVarChecked(var, result, "Convert Path Action");
}

void ConvertCase(Interpreter& in, std::size_t i) {
  std::string var = in.Param(i, param::ConvertCase::Variable);
  bool upper = IsTrue(in.Param(i, param::ConvertCase::Upper));
  TVariableManager& vars = in.Vars();
  std::string value = ExpandPath(vars, vars.Get(var));
  value = upper ? in.Machine().Shell.AnsiUpperCase(value) : in.Machine().Shell.AnsiLowerCase(value);
  vars.SetVarChecked(var, value, "Convert Case Action");
}

// --- "Replace String" ----------------------------------------------------------------------

void ReplaceString(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Replace String";
  TVariableManager& vars = in.Vars();
  const TextRules& text = in.Context().Text();
  std::string var = text.UpperCase(VarNameOrText(in.Param(i, param::ReplaceString::Variable)));
  std::string value = CrLfToMarker(vars.Get(var));
  std::string find = CrLfToMarker(vars.Expand(in.Param(i, param::ReplaceString::Find)));
  std::string replacement = CrLfToMarker(vars.Expand(in.Param(i, param::ReplaceString::Replacement)));
  bool ignoreCase = IsTrue(in.Param(i, param::ReplaceString::IgnoreCase));
  bool all = IsTrue(in.Param(i, param::ReplaceString::All));
  vars.SetVar(var, ReplaceText(text, value, find, replacement, ignoreCase, all), ActionLabel(kName));
}

// --- "Extract Path" --------------------------------------------------------------------------

void ExtractPath(Interpreter& in, std::size_t i) {
  std::string var = in.Param(i, param::ExtractPath::Variable);
  TVariableManager& vars = in.Vars();
  std::string value = ExpandPath(vars, vars.Get(var));
  std::int32_t code = TextToInt32(in.Param(i, param::ExtractPath::Part));
  vars.SetVarChecked(var, ExtractPathPart(value, code), "Extract Path Action");
}

// --- "Parse String" --------------------------------------------------------------------------

void ParseString(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Parse String";
  TVariableManager& vars = in.Vars();
  const TextRules& text = in.Context().Text();
  std::string source = ExpandPath(vars, in.Param(i, param::ParseString::Source));
  std::string separator = ExpandPath(vars, in.Param(i, param::ParseString::Separator));
  std::string first = in.Param(i, param::ParseString::First);
  std::string second = in.Param(i, param::ParseString::Second);
  std::int32_t mode = TextToInt32(in.Param(i, param::ParseString::Mode));
  bool trim = IsTrue(in.Param(i, param::ParseString::Trim));
  bool ignoreCase = IsTrue(in.Param(i, param::ParseString::IgnoreCase));
  auto [a, b] = ParseText(text, source, separator, mode, trim, ignoreCase);
  if (!first.empty()) {
    std::string var = text.UpperCase(first);
    EnsureResultVariable(vars, var, kName);
    vars.SetVar(var, a, ActionLabel(kName));
  }
  if (!second.empty()) {
    std::string var = text.UpperCase(second);
    EnsureResultVariable(vars, var, kName);
    vars.SetVar(var, b, ActionLabel(kName));
  }
}

// --- "Mathematics", "Evaluate Expression" ------------------------------------------------------

void Mathematics(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Mathematics";
  TVariableManager& vars = in.Vars();
  std::string var = in.Param(i, param::Mathematics::Result);
  if (!var.empty()) EnsureResultVariable(vars, var, kName);
  std::string p1 = vars.Expand(in.Param(i, param::Mathematics::A));
  std::int64_t code = TextToInt64(in.Param(i, param::Mathematics::Operation));
  std::int64_t a = MathReadsA(code) ? TextToInt64(p1) : 0;
  std::int64_t b = MathReadsB(code) ? TextToInt64(vars.Expand(in.Param(i, param::Mathematics::B))) : 0;
  std::string result = MathOperation(in.Context().State.Random, code, a, b, p1);
  if (!var.empty()) vars.SetVarChecked(var, result, ActionLabel(kName));
}

void EvaluateExpressionStatement(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "Evaluate Expression";
  TVariableManager& vars = in.Vars();
  std::string var = in.Param(i, param::EvaluateExpression::Result);
  EnsureResultVariable(vars, var, kName);
  std::string result = EvaluateExpression(vars.ExpandQuoted(in.Param(i, param::EvaluateExpression::Expression)));
  vars.SetVarChecked(var, result, ActionLabel(kName));
}

}  // namespace

std::string ReplaceText(const TextRules& text, std::string_view value, std::string_view find,
                        std::string_view replacement, bool ignoreCase, bool all) {
  if (find.empty()) return std::string(value);
  std::string haystack = ignoreCase ? text.UpperCase(value) : std::string(value);
  std::string needle = ignoreCase ? text.UpperCase(find) : std::string(find);
  std::string result;
  std::size_t from = 0;
  for (;;) {
    auto pos = haystack.find(needle, from);
    if (pos == std::string::npos) break;
    result.append(value.substr(from, pos - from));
    result.append(replacement);
    from = pos + needle.size();
    if (!all) break;
  }
  result.append(value.substr(from));
  return result;
}

std::string ExtractPathPart(std::string_view path, std::int32_t code) {
  switch (code) {
    case 0:
      return FileNamePart(path);
    case 1: {
      std::string name = FileNamePart(path);
      return name.substr(0, name.size() - ExtensionPart(name).size());
    }
    case 2: {
      std::string ext = ExtensionPart(path);
      return ext.empty() ? ext : ext.substr(1);
    }
    case 3:
      return WithBackslashUnlessEmpty(FolderPart(path));
    case 4: {
      std::string folder = FolderPart(path);
      if (!folder.empty() && folder.back() == '\\') folder.pop_back();
      return WithBackslashUnlessEmpty(FolderPart(folder));
    }
    case 5:
      return WithBackslashUnlessEmpty(DrivePart(path));
    case 6:
      return ReplaceText(Latin1Rules(), path, "\\\\", "\\", false, true);
    default:
      return std::string(path);
  }
}

std::pair<std::string, std::string> ParseText(const TextRules& text, std::string_view source,
                                              std::string_view separatorOrCount, std::int32_t mode, bool trim,
                                              bool ignoreCase) {
  std::string s = ignoreCase ? text.LowerCase(source) : std::string(source);
  std::string t = ignoreCase ? text.LowerCase(separatorOrCount) : std::string(separatorOrCount);
  const auto len = static_cast<long long>(source.size());
  long long p = 0, k = 0, c = 0;
  switch (mode) {
    case 0: {
      auto pos = t.empty() ? std::string::npos : s.find(t);
      p = pos == std::string::npos ? len + 1 : static_cast<long long>(pos) + 1;
      k = static_cast<long long>(t.size());
      c = 1;
      break;
    }
    case 1: {
      auto pos = t.empty() ? std::string::npos : s.rfind(t);
      if (pos == std::string::npos) {
        p = 1;
        k = 0;
      } else {
        p = static_cast<long long>(pos) + 1;
        k = static_cast<long long>(t.size());
      }
      c = 1;
      break;
    }
    case 2:
      if (auto n = TryTextToInt32(separatorOrCount)) {
        p = *n;
        k = 1;
        c = 0;
        if (*n == 0) {
          p = 1;
          c = 1;
          k = -1;
        }
      }
      break;
    case 3:
      if (auto n = TryTextToInt32(separatorOrCount)) {
        p = len - *n;
        k = 1;
        c = 0;
      }
      break;
    default:
      break;
  }
  if (p == 0) return {};
  std::string first = Copy(source, 1, p - c);
  std::string second = Copy(source, p + k, len + 1);
  if (trim) {
    first = Trim(first);
    second = Trim(second);
  }
  return {first, second};
}

void RegisterVariableStatements(StatementTable& table) {
  table.Add(StatementKind::SetVariable, SetVariable);
  table.Add(StatementKind::LocalizationVariable, LocalizationVariable);
  table.Add(StatementKind::GetEnvironment, GetEnvironment);
  table.Add(StatementKind::GetTemporaryFile, GetTemporaryFile);
  table.Add(StatementKind::ConvertPath, ConvertPath);
  table.Add(StatementKind::ConvertCase, ConvertCase);
  table.Add(StatementKind::ReplaceString, ReplaceString);
  table.Add(StatementKind::ExtractPath, ExtractPath);
  table.Add(StatementKind::ParseString, ParseString);
  table.Add(StatementKind::Mathematics, Mathematics);
  table.Add(StatementKind::EvaluateExpression, EvaluateExpressionStatement);
}

}  // namespace kem
