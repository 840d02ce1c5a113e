#include "launcher/command_line.h"

#include "common/text.h"

namespace kem {

bool NamesSetupFile(std::string_view fullPath, std::string_view programFolder, std::string_view baseName,
                    const TextRules& rules) {
  std::string folder(programFolder);
  std::string base(baseName);
  for (const std::string& own : {folder + base + ".exe", folder + base + ".msi", folder + base + ".msp",
                                 folder + base + ".res", folder + "kem.lib", folder + "setup.bmp"})
    if (rules.SameText(fullPath, own)) return true;
  return false;
}

bool IsSwitch(std::string_view argument, std::string_view name) {
  if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) return false;
  return SameText(argument.substr(1), name);
}

std::optional<std::string> FindValueArgument(const std::vector<std::string>& arguments, std::string_view marker,
                                             const TextRules& rules) {
  for (const std::string& a : arguments) {
    // Lower-cased by the code page's rules: the second byte of a double-byte character is
    // never taken for a letter.
    std::string lower = rules.LowerCase(a);
    // Only at the start: "X=a/l=evil.log" is an assignment, not a trace log at the root.
    if (lower.starts_with(marker)) return lower.substr(marker.size());
  }
  return std::nullopt;
}

std::string ComputeCommandTail(std::string_view line) {
  if (!line.empty() && line.front() == '"') {
    line.remove_prefix(1);
    std::size_t q = line.find('"');
    if (q == std::string_view::npos) return {};
    // Everything up to and including the closing quote, and the one character after it.
    std::size_t cut = q + 2;
    return cut >= line.size() ? std::string() : std::string(line.substr(cut));
  }
  std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return {};
  return std::string(line.substr(blank + 1));
}

ParsedCommandLine ParseArguments(const std::vector<std::string>& args, const TextRules& rules) {
  ParsedCommandLine r;
  for (const std::string& a : args) {
    if (IsSwitch(a, "s") || IsSwitch(a, "qn")) r.Silent = true;
    if (IsSwitch(a, "update") || IsSwitch(a, "updatesetup")) r.Update = true;
  }
  if (auto v = FindValueArgument(args, "/g=", rules)) r.GroupPolicyPath = *v;
  if (auto v = FindValueArgument(args, "/m=", rules)) r.OuterPackagePath = *v;
  if (auto v = FindValueArgument(args, "/l=", rules)) r.TraceLogPath = *v;
  else if (auto w = FindValueArgument(args, "-l=", rules)) r.TraceLogPath = *w;
  if (auto v = FindValueArgument(args, "/lv=", rules)) r.VerboseTracePath = *v;
  if (auto v = FindValueArgument(args, "/p=", rules)) r.DataPathOverride = *v;
  else if (auto w = FindValueArgument(args, "-p=", rules)) r.DataPathOverride = *w;
  for (const std::string& a : args) {
    if (a.empty() || a[0] == '/' || a[0] == '-') continue;
    std::size_t eq = a.find('=');
    if (eq == std::string::npos) continue;
    r.Assignments.push_back(rules.UpperCase(a.substr(0, eq)));
    r.Assignments.push_back(a.substr(eq + 1));
  }
  return r;
}

std::vector<std::string> SplitArguments(std::string_view tail) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < tail.size()) {
    while (i < tail.size() && (tail[i] == ' ' || tail[i] == '\t')) ++i;
    if (i >= tail.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < tail.size() && (quoted || (tail[i] != ' ' && tail[i] != '\t'))) {
      if (tail[i] == '"') {
        quoted = !quoted;
      } else {
        arg.push_back(tail[i]);
      }
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

}  // namespace kem
