#include "components/instance_data.h"

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

StringList SplitLines(std::string_view text) {
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

}  // namespace

std::string WriteInstanceData(const EngineContext& ctx, std::string_view dataFolderLine) {
  StringList lines;
  WriteComponentLists(ctx.State.Components, lines);
  lines.push_back(Marked(ctx.Vars.Get("TARGETDIR")));
  lines.push_back(Marked(ctx.Vars.Get("ALLUSERS")));
  lines.push_back(Marked(ctx.Vars.Get("STARTMENU")));
  lines.emplace_back(dataFolderLine);
  for (const auto& name : ctx.State.SavedVariables) {
    lines.push_back(name);
    lines.push_back(Marked(ctx.Vars.Get(name)));
  }
  lines.emplace_back(kPlatformPair);
  lines.push_back(ctx.State.PlatformMode);
  lines.emplace_back("OVERRIDECACHE");
  lines.push_back(Marked(ctx.Vars.Get("OVERRIDECACHE")));
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

std::optional<std::string> ReadInstanceData(EngineContext& ctx, std::string_view text, ComponentListsRead mode) {
  StringList lines = SplitLines(text);
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
