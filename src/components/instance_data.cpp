#include "components/instance_data.h"

#include <vector>

#include "engine/engine_context.h"

namespace kem {
namespace {

constexpr std::string_view kOriginLoad = "LoadComponents";
constexpr std::string_view kPlatformPair = "VRAX64WOW";

std::string Marked(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
      out += "$NEWLINE$";
      ++i;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

}  // namespace

StringList SplitFileLines(std::string_view text) {
  StringList lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

namespace {

// The pairs after the single lines: the saved variables, the 64-bit mode, OVERRIDECACHE.
void AppendPairs(const EngineContext& ctx, StringList& lines) {
  for (const auto& name : ctx.State.SavedVariables) {
    lines.push_back(name);
    lines.push_back(Marked(ctx.Vars.Get(name)));
  }
  lines.emplace_back(kPlatformPair);
  lines.push_back(ctx.State.PlatformMode);
  lines.emplace_back("OVERRIDECACHE");
  lines.push_back(Marked(ctx.Vars.Get("OVERRIDECACHE")));
}

}  // namespace

std::string JoinFileLines(const StringList& lines) {
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

namespace {

constexpr std::size_t kListCount = 6;
constexpr std::size_t kSingleLines = 4;

// The index after the sixth "$" line, or nullopt when the lines end before it.
std::optional<std::size_t> AfterLists(const StringList& lines) {
  std::size_t lists = 0, p = 0;
  for (; p < lines.size() && lists < kListCount; ++p)
    if (lines[p] == "$") ++lists;
  if (lists < kListCount) return std::nullopt;
  return p;
}

bool IsDecimal(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  if (s.empty() || s.size() > 19) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::string WriteInstanceData(const EngineContext& ctx, std::string_view dataFolderLine) {
  StringList lines;
  WriteComponentLists(ctx.State.Components, lines);
  lines.push_back(Marked(ctx.Vars.Get("TARGETDIR")));
  lines.push_back(Marked(ctx.Vars.Get("ALLUSERS")));
  lines.push_back(Marked(ctx.Vars.Get("STARTMENU")));
  lines.emplace_back(dataFolderLine);
  AppendPairs(ctx, lines);
  return JoinFileLines(lines);
}

std::optional<std::string> UpdateInstanceData(const EngineContext& ctx, std::string_view oldText) {
  StringList lines = SplitFileLines(oldText);
  auto end = AfterLists(lines);
  if (!end || *end + kSingleLines > lines.size()) return std::nullopt;
  lines.resize(*end + kSingleLines);
  AppendPairs(ctx, lines);
  return JoinFileLines(lines);
}

std::optional<std::string> InstanceDataDamage(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "it holds a NUL byte";
  if (text.empty() || text.back() != '\n') return "its last line has no line break";
  StringList lines = SplitFileLines(text);
  auto end = AfterLists(lines);
  if (!end) return "it ends before its sixth list does";
  if (*end + kSingleLines > lines.size()) return "it ends before its single lines do";
  // The lists, in order: names, states, deleted, hidden, choices, sizes.
  std::vector<std::vector<std::string>> lists(1);
  for (std::size_t p = 0; p + 1 < *end; ++p) {
    if (lines[p] == "$")
      lists.emplace_back();
    else
      lists.back().push_back(lines[p]);
  }
  if (lists[0].size() != lists[1].size()) return "its component names and states differ in number";
  for (const auto& state : lists[1])
    if (state != "TRUE" && state != "FALSE") return "a component state reads '" + state + "'";
  if (lists[5].size() % 2) return "its size list has a name without a size";
  for (std::size_t k = 1; k < lists[5].size(); k += 2)
    if (!IsDecimal(lists[5][k])) return "a component size reads '" + lists[5][k] + "'";
  if ((lines.size() - *end - kSingleLines) % 2) return "its last variable has no value";
  return std::nullopt;
}

std::optional<std::string> ReadInstanceData(EngineContext& ctx, std::string_view text, ComponentListsRead mode) {
  StringList lines = SplitFileLines(text);
  std::size_t pos = 0;
  ComponentTables scratch = ctx.State.Components;
  if (!ReadComponentLists(scratch, ctx.Text(), lines, pos, mode) || pos + 4 > lines.size()) return std::nullopt;
  ctx.State.Components = std::move(scratch);
  TVariableManager& vars = ctx.Vars;
  vars.SetVar("TARGETDIR", lines[pos], kOriginLoad);
  vars.SetVar("ALLUSERS", lines[pos + 1], kOriginLoad);
  vars.SetVar("STARTMENU", lines[pos + 2], kOriginLoad);
  std::string dataFolder = mode == ComponentListsRead::Merge ? std::string() : lines[pos + 3];
  bool listNext = true;
  for (std::size_t p = pos + 4; p + 1 < lines.size(); p += 2) {
    const std::string& name = lines[p];
    const std::string& value = lines[p + 1];
    if (name == kPlatformPair) {
      ctx.State.PlatformMode = value;
      listNext = false;
      continue;
    }
    if (listNext) ctx.State.AddSavedVariable(name);
    listNext = true;
    vars.SetVar(name, value, kOriginLoad);
  }
  return dataFolder;
}

}  // namespace kem
