#include "installer/pinning.h"

#include "engine/services/shell.h"

namespace kem {
namespace {

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('\\');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string WithoutAmpersands(std::string text) {
  std::erase(text, '&');
  return text;
}

bool AtLeast(const PinContext& ctx, unsigned major, unsigned minor) {
  return ctx.WindowsMajor > major || (ctx.WindowsMajor == major && ctx.WindowsMinor >= minor);
}

}  // namespace

std::optional<PinEntry> ParsePinEntry(std::string_view entry) {
  const auto first = entry.find('|');
  if (first == std::string_view::npos) return std::nullopt;
  const auto second = entry.find('|', first + 1);
  const std::string_view flags =
      entry.substr(first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1);
  if (flags.empty()) return std::nullopt;
  PinEntry e;
  e.Shortcut = std::string(entry.substr(0, first));
  if (second != std::string_view::npos) e.Target = std::string(entry.substr(second + 1));
  e.Taskbar = flags.find('7') != std::string_view::npos;
  e.StartMenu = flags.find('X') != std::string_view::npos;
  return e;
}

const std::vector<std::string>& PinVerbNames::Names(ShortcutPinService& shell, unsigned resourceId) {
  auto it = names_.find(resourceId);
  if (it != names_.end()) return it->second;
  std::vector<std::string> unique;
  for (auto& name : shell.ShellTexts(resourceId)) {
    if (name.empty()) continue;
    bool held = false;
    for (const auto& u : unique) held = held || u == name;
    if (!held) unique.push_back(std::move(name));
  }
  return names_.emplace(resourceId, std::move(unique)).first->second;
}

bool VerbMatches(ShortcutPinService& shell, const std::string& verb, const std::vector<std::string>& names) {
  const std::string upper = shell.UpperCase(verb);
  for (const auto& n : names)
    if (shell.UpperCase(n) == upper) return true;
  const std::string bare = WithoutAmpersands(upper);
  for (const auto& n : names)
    if (WithoutAmpersands(shell.UpperCase(n)) == bare) return true;
  return false;
}

void PinOrUnpin(const PinContext& ctx, const std::string& shortcut, const std::string& target, PinOperation operation,
                bool taskbar, bool startMenu) {
  ShortcutPinService& shell = ctx.Shell;
  const bool targetExists = !target.empty() && shell.FileExists(target);
  if (!shell.FileExists(shortcut) && !targetExists) return;
  bool startDone = !startMenu || !AtLeast(ctx, 5, 1);
  bool taskDone = !taskbar || !AtLeast(ctx, 6, 1);
  if (startDone && taskDone) return;

  const bool pin = operation == PinOperation::Pin;
  const auto& startNames = ctx.Names.Names(shell, pin ? kPinToStartMenuText : kUnpinFromStartMenuText);
  const auto& taskNames = ctx.Names.Names(shell, pin ? kPinToTaskbarText : kUnpinFromTaskbarText);
  const std::vector<std::string> verbs = shell.Verbs(shortcut);
  const int n = static_cast<int>(verbs.size());
  bool fallback = n == 0 && targetExists;
  for (int i = 1; i <= n && (!startDone || !taskDone); ++i) {
    const std::string& name = verbs[static_cast<std::size_t>(i - 1)];
    if (ctx.Progress) ctx.Progress(name, i, n);
    if (!startDone && VerbMatches(shell, name, startNames)) {
      shell.RunVerb(shortcut, name);
      startDone = true;
    }
    if (!taskDone && VerbMatches(shell, name, taskNames)) {
      shell.RunVerb(shortcut, name);
      taskDone = true;
    }
  }
  if ((!startDone || !taskDone) && targetExists) fallback = true;
  if (!fallback) return;

  // Through the target: the pinned entry the shell makes carries the target's name, and
  // is renamed after the shortcut (and back before an unpin). An entry named after the
  // target that was there before is the user's own: it is never renamed, and never
  // unpinned on the setup's behalf.
  const std::string quick = shell.QuickLaunchFolder();
  struct Part {
    bool wanted;
    std::string folder;
    bool userOwned = false;
  };
  Part parts[2] = {{!taskDone, quick.empty() ? "" : quick + "User Pinned\\TaskBar\\"},
                   {!startDone, quick.empty() ? "" : quick + "User Pinned\\StartMenu\\"}};
  const std::string shortcutName = BaseName(shortcut) + ".lnk";
  const std::string targetName = BaseName(target) + ".lnk";
  for (Part& p : parts) {
    if (!p.wanted || p.folder.empty()) continue;
    p.userOwned = shell.FileExists(p.folder + targetName);
    if (operation == PinOperation::Unpin) {
      if (p.userOwned) {
        p.wanted = false;
        continue;
      }
      if (shell.FileExists(p.folder + shortcutName)) shell.MoveEntry(p.folder + shortcutName, p.folder + targetName);
    }
  }
  if (!parts[0].wanted && !parts[1].wanted) return;
  PinOrUnpin(ctx, target, "", operation, parts[0].wanted, parts[1].wanted);
  if (operation != PinOperation::Pin) return;
  for (const Part& p : parts) {
    if (!p.wanted || p.folder.empty() || p.userOwned) continue;
    if (shell.FileExists(p.folder + targetName) && !shell.FileExists(p.folder + shortcutName))
      shell.MoveEntry(p.folder + targetName, p.folder + shortcutName);
  }
}

void RunPinStep(const PinContext& ctx, bool before, const StringList& list, const StringList& appIds) {
  for (std::size_t i = 0; i + 1 < appIds.size(); i += 2)
    if (ctx.Shell.FileExists(appIds[i])) ctx.Shell.SetAppUserModelId(appIds[i], appIds[i + 1]);
  for (const auto& item : list) {
    const auto entry = ParsePinEntry(item);
    if (!entry) continue;
    PinOrUnpin(ctx, entry->Shortcut, entry->Target, before ? PinOperation::Unpin : PinOperation::Pin, entry->Taskbar,
               entry->StartMenu);
  }
}

}  // namespace kem
