#include "kembuild/translations.h"

#include <map>
#include <sstream>

#include "common/text.h"
#include "dialogs/forms/form_value.h"
#include "engine/setup_data.h"
#include "engine/statement_kinds.h"
#include "engine/statement_parameters.h"
#include "kembuild/code_page.h"
#include "kembuild/statement_reference.h"
#include "script/params/statement_params.h"

namespace kem::builder {
namespace {

constexpr const char* kLineEnd = "\r\n";

std::vector<std::string> SourceLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

struct SourceEntry {
  std::string original, translation;  // UTF-8
  std::size_t line = 0;
  bool used = false;
};

// Key -> entry of a translation source; malformed lines and duplicate keys are errors.
std::map<std::string, SourceEntry> ReadSource(const std::string& text, const std::string& file,
                                              std::vector<Diagnostic>& errors) {
  std::map<std::string, SourceEntry> entries;
  std::size_t lineNo = 0;
  for (const std::string& line : SourceLines(text)) {
    ++lineNo;
    if (line.empty() || line.front() == '#') continue;
    const std::size_t a = line.find('\t');
    const std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos || line.find('\t', b + 1) != std::string::npos) {
      errors.push_back({file, lineNo, "expected key, original and translation separated by tabs"});
      continue;
    }
    std::string key = line.substr(0, a);
    auto [it, fresh] = entries.try_emplace(UpperCase(key), SourceEntry{line.substr(a + 1, b - a - 1), line.substr(b + 1), lineNo});
    if (!fresh) errors.push_back({file, lineNo, "duplicate key " + key + " (first on line " + std::to_string(it->second.line) + ")"});
  }
  return entries;
}

// A language name that can end a support file's name.
bool UsableName(const std::string& name) {
  if (name.empty() || name.find("..") != std::string::npos) return false;
  for (char c : name)
    if (c == '\\' || c == '/' || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' ||
        static_cast<unsigned char>(c) < 32)
      return false;
  return name.back() != '.' && name.back() != ' ';
}

std::string ToUtf8OrRaw(const CodePage& cp, const std::string& text) { return cp.ToUtf8(text); }

}  // namespace

std::vector<DialogText> DialogTexts(const std::string& dialogName, const forms::FormObject& root) {
  std::vector<DialogText> texts;
  auto visit = [&](auto& self, const forms::FormObject& o, bool isRoot) -> void {
    for (const auto& p : o.properties) {
      if (!p.value.IsString() || (p.name != "Caption" && p.name != "Text")) continue;
      std::string text = p.value.NarrowText();
      if (text.empty() || text.find_first_of("\r\n") != std::string::npos) continue;
      if (isRoot && p.name != "Caption") continue;
      texts.push_back({dialogName, isRoot ? std::string() : o.name, std::move(text)});
    }
    for (const auto& c : o.children) self(self, c, false);
  };
  visit(visit, root, true);
  return texts;
}

std::vector<TranslatableText> TranslatableTexts(const SetupData& data, const std::vector<DialogText>& dialogs) {
  std::vector<TranslatableText> texts;
  for (std::size_t i = 0; i < data.StatementCount(); ++i) {
    if (i < data.CommentFlags.Count() && data.CommentFlags[i] == "C") continue;
    const StatementKind kind = ResolveStatementKind(data.StatementNames[i]);
    if (!StatementReferenceOf(kind).described) continue;
    const std::string id = GetParam(data, i, param::Id);
    if (kind == StatementKind::LocalizationVariable) {
      // Translated by the variable's name rather than by the statement.
      std::string name = GetParam(data, i, param::LocalizationVariable::Variable);
      if (name.size() > 2 && name.front() == '$' && name.back() == '$') name = name.substr(1, name.size() - 2);
      name = UpperCase(name);
      texts.push_back(
          {"var:" + name, "ZOZADORU$" + name + "$ZOZADORU", "", GetParam(data, i, param::LocalizationVariable::Value)});
      continue;
    }
    const auto parameters = StatementParameters(kind);
    int k = 0;
    for (std::size_t n = 0; n < parameters.size(); ++n) {
      if (!(parameters[n].traits & kTranslated)) continue;
      ++k;
      texts.push_back({id + "/" + std::to_string(k), id, "", GetParam(data, i, static_cast<int>(n + 1))});
    }
  }
  // A dialog's caption is keyed by the dialog's name, a control's text by its name.
  for (const DialogText& d : dialogs) {
    if (d.control.empty())
      texts.push_back({"dialog:" + d.dialog, d.dialog, d.dialog, d.text});
    else
      texts.push_back({"dialog:" + d.dialog + "/" + d.control, d.control, d.dialog, d.text});
  }
  return texts;
}

std::vector<GeneratedFile> TranslationFiles(const Project& project, const SetupData& data,
                                            const std::vector<DialogText>& dialogs, std::vector<Diagnostic>& errors, std::vector<Diagnostic>& warnings) {
  std::vector<GeneratedFile> files;
  if (project.translations.empty()) return files;
  const CodePage cp(project.codePage);
  if (!UsableName(project.title)) {
    errors.push_back({kManifestName, 0, "the title \"" + project.title + "\" cannot name the file of translation keys"});
    return files;
  }
  const std::vector<TranslatableText> texts = TranslatableTexts(data, dialogs);
  std::string keys, map, original;
  for (const auto& t : texts) {
    keys += t.key + kLineEnd;
    map += t.map + kLineEnd;
    original += t.original + kLineEnd;
  }
  files.push_back({data.CompiledTitle + ".mtx", keys});
  files.push_back({"translations.Map", map});
  files.push_back({"translations.Original", original});
  std::map<std::string, std::string> seen;  // upper-cased language -> its manifest line
  for (const NamedValue& source : project.translations) {
    if (!UsableName(source.name) || source.name.find("shared") != std::string::npos ||
        SameText(source.name, "Map") || SameText(source.name, "Original")) {
      errors.push_back({kManifestName, source.line, "\"" + source.name + "\" cannot name a translation file"});
      continue;
    }
    if (!seen.emplace(UpperCase(source.name), source.value).second) {
      errors.push_back({kManifestName, source.line, "a second translation for " + source.name});
      continue;
    }
    if (std::string problem = SourceFileProblem(project, source.value, true); !problem.empty()) {
      errors.push_back({kManifestName, source.line, "translation file " + source.value + problem});
      continue;
    }
    std::string text;
    try {
      text = ReadProjectFile(project.dir, source.value, kManifestName, source.line);
    } catch (const BuildError& e) {
      errors.insert(errors.end(), e.Diagnostics().begin(), e.Diagnostics().end());
      continue;
    }
    std::map<std::string, SourceEntry> entries = ReadSource(text, source.value, errors);
    std::string out;
    std::size_t untranslated = 0;
    for (const auto& t : texts) {
      auto it = entries.find(UpperCase(t.sourceKey));
      std::string translated = t.original;
      if (it == entries.end() || it->second.translation.empty()) {
        ++untranslated;
      } else {
        it->second.used = true;
        if (ToUtf8OrRaw(cp, t.original) != it->second.original) {
          warnings.push_back({source.value, it->second.line,
                              "stale: " + t.sourceKey + " was translated from another text; the setup shows the new one",
                              true});
        }
        std::string error;
        if (auto converted = cp.FromUtf8(it->second.translation, error))
          translated = std::move(*converted);
        else
          errors.push_back({source.value, it->second.line, error});
      }
      out += translated + kLineEnd;
    }
    if (untranslated)
      warnings.push_back({source.value, 0,
                          std::to_string(untranslated) + " text(s) untranslated in " + source.name +
                              "; they keep the original text",
                          true});
    for (const auto& [key, e] : entries)
      if (!e.used && !e.translation.empty())
        warnings.push_back({source.value, e.line, "orphaned: no text of the script has this key", true});
    files.push_back({"translations." + source.name, std::move(out)});
  }
  return files;
}

std::string UpdatedTranslationSource(const Project& project, const SetupData& data,
                                     const std::vector<DialogText>& dialogs, const std::string& language,
                                     const std::string& oldSource) {
  const CodePage cp(project.codePage);
  std::vector<Diagnostic> ignored;
  std::map<std::string, SourceEntry> entries = ReadSource(oldSource, language, ignored);
  std::string out = "# Translation of " + project.title + " into " + language +
                    ": key, original and translation, separated by tabs\n";
  for (const auto& t : TranslatableTexts(data, dialogs)) {
    const std::string original = ToUtf8OrRaw(cp, t.original);
    std::string translation;
    if (auto it = entries.find(UpperCase(t.sourceKey)); it != entries.end()) {
      translation = it->second.translation;
      if (it->second.original != original && !translation.empty())
        out += "# stale: translated from \"" + it->second.original + "\"\n";
    }
    out += t.sourceKey + "\t" + original + "\t" + translation + "\n";
  }
  return out;
}

}  // namespace kem::builder
