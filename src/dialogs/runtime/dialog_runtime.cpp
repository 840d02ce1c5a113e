#include "dialogs/runtime/dialog_runtime.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "common/file_bytes.h"
#include "common/text.h"
#include "dialogs/forms/property_text.h"
#include "dialogs/runtime/control_behaviours.h"

namespace kem::dialogs {

using forms::Control;
using forms::ControlKind;
using forms::Value;

namespace {

constexpr std::string_view kNewline = "$NEWLINE$";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  std::size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

std::string FileNameOfPath(const std::string& path) {
  auto p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) s += "\r\n";
    s += lines[i];
  }
  return s;
}

std::string CollapseBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
  }
  // A UNC path keeps its two leading backslashes (also when they were doubled).
  if (StartsWith(text, "\\\\") && !StartsWith(out, "\\\\")) out.insert(out.begin(), '\\');
  return out;
}

std::string FolderPartOf(std::string_view path) {
  auto cut = path.find_last_of("\\:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string WithBackslash(std::string_view folder) {
  std::string s(folder);
  if (s.empty() || s.back() != '\\') s.push_back('\\');
  return s;
}

std::optional<Control> Dialog::Find(std::string_view name) {
  if (SameText(name, model.Form().Name())) return model.Form();
  return model.FindComponent(name);
}

ListState& Dialog::List(std::string_view name) { return lists[UpperCase(name)]; }

NodeTreeState* Dialog::NodeTree(std::string_view name) {
  auto it = nodeTrees.find(UpperCase(name));
  return it == nodeTrees.end() ? nullptr : &it->second;
}

TreeState* Dialog::Tree(std::string_view name) {
  auto it = trees.find(UpperCase(name));
  return it == trees.end() ? nullptr : &it->second;
}

struct DialogRuntime::BindingGuard {
  explicit BindingGuard(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~BindingGuard() { flag_ = saved_; }
  bool& flag_;
  bool saved_;
};

DialogRuntime::DialogRuntime(EngineContext& context, FileService& files) : ctx_(context), files_(files) {}

void DialogRuntime::Init(const std::string& supportFolder) {
  supportFolder_ = supportFolder;
  if (!supportFolder_.empty() && supportFolder_.back() != '/') supportFolder_ = WithBackslash(supportFolder_);
  RecentreNext = true;
  dialogs_.clear();
  ctx_.Vars.SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
}

Dialog& DialogRuntime::Load(const std::string& key, const std::string& path) {
  auto d = std::make_unique<Dialog>();
  d->key = ctx_.Text().UpperCase(key);
  d->path = path;
  d->fileName = FileNameOfPath(path);
  d->model = forms::FormModel::LoadFile(path);
  d->model.Form().Set("Hint", Value::Str(d->fileName));
  // A dialog without rules has no rules file; that is an empty one.
  const std::string rulesPath = path + ".kemf";
  if (files_.FileExists(rulesPath)) d->rules = forms::LoadRulesFile(rulesPath);

  // Properties and classes the runtime does not know are ignored; the trace names them
  // once per dialog file.
  std::set<std::string> unknown;
  for (const std::string& cls : d->model.UnregisteredClasses()) unknown.insert(cls);
  auto scan = [&](const Control& c) {
    for (const forms::Property& p : c.Object().properties)
      if (!c.Info(p.name)) unknown.insert(c.ClassName() + "." + p.name);
  };
  scan(d->model.Form());
  for (const Control& c : d->model.Components()) scan(c);
  if (!unknown.empty()) {
    std::string line = "      Ignored in " + d->fileName + ":";
    for (const std::string& u : unknown) line += " " + u;
    ctx_.Trace(line);
  }
  dialogs_.push_back(std::move(d));
  return *dialogs_.back();
}

Dialog* DialogRuntime::Find(std::string_view key) {
  for (auto& d : dialogs_)
    if (ctx_.Text().SameText(d->key, key)) return d.get();
  return nullptr;
}

std::vector<Dialog*> DialogRuntime::All() {
  std::vector<Dialog*> all;
  for (auto& d : dialogs_) all.push_back(d.get());
  return all;
}

bool DialogRuntime::Exists(const std::string& path) { return !path.empty() && files_.FileExists(path); }

std::string DialogRuntime::NearestExistingFolder(std::string path) {
  path = CollapseBackslashes(path);
  if (path.empty()) return path;
  // Each step removes at least one character, so the walk ends.
  while (!files_.FolderExists(path)) {
    std::string shorter = path;
    if (!shorter.empty() && shorter.back() == '\\') shorter.pop_back();
    std::string parent = WithBackslash(FolderPartOf(shorter));
    if (parent == path || parent.size() >= path.size() + 1) break;
    path = parent;
  }
  return path;
}

// --- Texts ------------------------------------------------------------------------

std::string DialogRuntime::TemplateText(const Dialog& d, const std::string& control, const std::string& designText) {
  std::string key = ctx_.Text().UpperCase(d.fileName + "." + control);
  if (auto it = templates_.find(key); it != templates_.end()) return it->second;
  // The first binding registers the text: the translation while a language is selected,
  // else the design text. Later languages do not replace it.
  std::optional<std::string> translated;
  if (!ctx_.Vars.Get("LANGUAGE").empty()) translated = ctx_.TranslateDialog(d.fileName, control);
  return templates_.emplace(std::move(key), translated ? std::move(*translated) : designText).first->second;
}

bool DialogRuntime::HasTemplate(const Dialog& d, const std::string& control) const {
  return templates_.count(ctx_.Text().UpperCase(d.fileName + "." + control)) > 0;
}

std::string DialogRuntime::DialogText(const Dialog& d, const std::string& control) {
  if (!ctx_.Vars.Get("LANGUAGE").empty())
    if (std::optional<std::string> translated = ctx_.TranslateDialog(d.fileName, control))
      return ctx_.Vars.Expand(*translated);
  auto it = templates_.find(ctx_.Text().UpperCase(d.fileName + "." + control));
  return ctx_.Vars.Expand(it == templates_.end() ? std::string() : it->second);
}

void DialogRuntime::CaptionText(Dialog& d, Control& c, const std::string& controlName) {
  TemplateText(d, controlName, c.Caption());
  c.Set("Caption", Value::Str(DialogText(d, controlName)));
}

void DialogRuntime::ItemText(Dialog& d, Control& c) {
  TemplateText(d, c.Name(), JoinLines(c.Strings("Items")));
  std::vector<std::string> items = SplitLines(DialogText(d, c.Name()));
  std::vector<std::string> kept;
  for (std::string& item : items)
    if (!item.empty()) kept.push_back(std::move(item));
  c.Set("Items", Value::StringList(kept));
}

// --- Binding ----------------------------------------------------------------------

void DialogRuntime::Bind(Dialog& d) {
  if (ctx_.Startup.SilentMode) return;
  const std::string seed = NearestExistingFolder(ctx_.Vars.ValueExpanded("$TARGETDIR$"));
  {
    BindingGuard guard(binding_);
    std::vector<Control> work;
    for (Control& c : d.model.Components())
      if (!SameText(c.Name(), "cmpFormDesigner")) work.push_back(c);
    work.push_back(d.model.Form());
    for (Control& c : work) BindControl(d, c, seed);
    d.bound = true;
    RefreshComponentTexts(d);
    ApplyRules(d);
  }
  // Deferred handlers write the initial state back, in the order the controls were met.
  for (Control& c : d.model.Components())
    if (auto deferred = BehaviourOf(c.Kind()).deferred) deferred(*this, d, c);
}

int DialogRuntime::FindItem(const std::vector<std::string>& items, std::string_view text) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (ctx_.Text().SameText(items[i], text)) return static_cast<int>(i);
  return -1;
}

void DialogRuntime::BindControl(Dialog& d, Control& c, const std::string& seed) {
  const ControlKind kind = c.Kind();
  if (kind == ControlKind::Unknown || forms::IsNeverBound(kind)) return;
  const KindBehaviour& behaviour = BehaviourOf(kind);
  if (!behaviour.bind) return;
  const std::string hint = c.Hint();
  BoundValue v{hint.empty() ? std::string() : ctx_.Vars.ValueExpanded(hint),
               !hint.empty() && ctx_.Vars.ValueOrMarker(hint) != kUndefinedMarker, seed};
  behaviour.bind(*this, d, c, v);
}

void DialogRuntime::BindEdit(Dialog& d, Control& c, bool masked) {
  std::string text = TemplateText(d, c.Name(), c.String("Text"));
  const std::string hint = c.Hint();
  if (!hint.empty() && ctx_.Vars.ValueOrMarker(hint) != kUndefinedMarker) {
    text = ctx_.Vars.ValueExpanded(hint);
    if (!masked) text = CollapseBackslashes(text);
  }
  if (text.empty()) {
    switch (c.Tag()) {
      case 1: text = "$STARTMENU$"; break;
      case 2: text = "$TARGETDIR$"; break;
      case 3: text = "$USERNAME$"; break;
      case 4: text = "$USERCOMPANY$"; break;
      default: break;
    }
  }
  text = ctx_.Vars.Expand(text);
  if (!masked) text = CollapseBackslashes(text);
  // A masked edit shows the value in its mask.
  if (masked) text = FormatMasked(MaskOf(c), text);
  c.Set("Text", Value::Str(text));
}

EditMask DialogRuntime::MaskOf(const Control& c) { return ParseEditMask(c.String("EditMask")); }

void DialogRuntime::KeyUp(Dialog& d, std::string_view name, std::size_t caret, DialogPort& port) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound || found->Kind() != ControlKind::MaskEdit) return;
  // Without a mask the caret is never past it: typing does not jump away.
  if (CaretAfterMask(MaskOf(*found), caret)) port.FocusTabOrder(d, found->Integer("TabOrder") + 1);
}

void DialogRuntime::BindMemo(Dialog& d, Control& c, bool rich) {
  const std::string hint = c.Hint();
  std::string text = TemplateText(d, c.Name(), JoinLines(c.Strings("Lines")));
  c.Set("ReadOnly", Value::Boolean(hint.empty()));
  const std::int64_t tag = c.Tag();
  if ((tag == 1 || tag == 2) && c.Integer("MaxLength") < 1048576 && c.Integer("MaxLength") != kScrollEndMarker)
    c.Set("MaxLength", Value::Integer(1048576));
  if (!hint.empty() && ctx_.Vars.ValueOrMarker(hint) != kUndefinedMarker)
    text = CollapseBackslashes(ctx_.Vars.ValueExpanded(hint));
  else
    text = ctx_.Vars.Expand(text);
  text = ReplaceAll(std::move(text), kNewline, "\r\n");
  c.Set("Lines", Value::StringList(SplitLines(text)));
  if (rich) {
    c.Set("ScrollBars", Value::Identifier("ssBoth"));
    d.documents.erase(c.Name());
  }
  if (tag == 1 || tag == 2) LoadSpecialFile(d, c, rich);
  // Scroll tracking: the first read-only memo (and the first read-only rich edit).
  std::string& hooked = rich ? d.hookedRichEdit : d.hookedMemo;
  if (hooked.empty() && c.Boolean("ReadOnly")) hooked = c.Name();
}

void DialogRuntime::LoadSpecialFile(Dialog& d, Control& c, bool rich) {
  const std::string& s = supportFolder_;
  const std::string l = ctx_.Vars.Get("LANGUAGE");
  const ControlKind kind = c.Kind();
  const std::int64_t tag = c.Tag();
  std::vector<std::string> candidates;
  std::string placeholder;
  if (kind == ControlKind::HTMLViewer) {
    candidates = {s + "index." + l + ".htm", s + "index.htm"};
    placeholder =
        "Add an index.htm file to your project to display it here, along with any other additional support/linked "
        "files.";
  } else if (kind == ControlKind::FlashFrame) {
    candidates = {s + "movie." + l + ".swf", s + "movie.swf"};
    placeholder = "Add a movie.swf file to your project to display it here.";
  } else {
    const std::string base = tag == 1 ? "readme" : "license";
    if (rich) {
      candidates = {s + base + "." + l + ".rtf", s + base + ".rtf", s + base + "." + l + ".txt", s + base + ".txt"};
      placeholder = "Add a " + base + "." + l + ".rtf or " + base + ".rtf, or " + base + "." + l + ".txt or " + base +
                    ".txt file to your project as a support file/creative to display it here.";
    } else {
      candidates = {s + base + "." + l + ".txt", s + base + ".txt"};
      placeholder = "Add a " + base + "." + l + ".txt or " + base +
                    ".txt file to your project as a support file/creative to display it here.";
    }
  }
  for (const std::string& path : candidates) {
    if (!Exists(path)) continue;
    std::optional<std::string> content = ReadWholeFile(path);
    if (!content) continue;
    if (kind == ControlKind::FlashFrame) {
      // The engine carries no movie player: the frame says so.
      d.documents[c.Name()] = ctx_.Message(112);
    } else if (kind == ControlKind::HTMLViewer) {
      d.documents[c.Name()] = *content;
      d.documentFiles[c.Name()] = path;
    } else if (rich && EndsWith(LowerCase(path), ".rtf")) {
      d.documents[c.Name()] = *content;
      c.Set("Lines", Value::StringList({}));
    } else {
      c.Set("Lines", Value::StringList(SplitLines(*content)));
    }
    return;
  }
  if (kind == ControlKind::HTMLViewer || kind == ControlKind::FlashFrame) {
    d.documents[c.Name()] = placeholder;
    d.documentFiles.erase(c.Name());
  }
  else
    c.Set("Lines", Value::StringList({placeholder}));
}

void DialogRuntime::Unbind(Dialog& d) {
  if (ctx_.Startup.SilentMode) return;
  BindingGuard guard(binding_);
  d.bound = false;
  d.hookedMemo.clear();
  d.hookedRichEdit.clear();
  RefreshComponentTexts(d);
  ApplyRules(d);
}

void DialogRuntime::ApplyRules(Dialog& d) {
  // A rule that names a control the page does not have is skipped as a whole: a missing
  // control must not read as an empty text and fire the rule.
  std::vector<forms::ControlRule> usable;
  usable.reserve(d.rules.size());
  for (const forms::ControlRule& r : d.rules)
    if (d.Find(r.controlA) && d.Find(r.controlB)) usable.push_back(r);
  forms::ModelPropertyAccess access(d.model);
  forms::ApplyRules(usable, access);
}

void DialogRuntime::FillComponentControls(Dialog& d, Control& c) {
  const ComponentTables& tables = ctx_.State.Components;
  if (c.Kind() == ControlKind::TreeView) {
    TreeState& state = d.trees[UpperCase(c.Name())];
    state.tree = ComponentTree::Fill(tables, ctx_.Text());
    state.selected.reset();
    ++state.fill;
    return;
  }
  std::vector<std::string> items;
  ListState& state = d.List(c.Name());
  state.checked.clear();
  state.selected.clear();
  for (const ComponentListItem& item : FillComponentList(tables, ctx_.Text())) {
    items.push_back(item.Text);
    state.checked.push_back(item.Checked);
  }
  c.Set("Items", Value::StringList(items));
}

void DialogRuntime::RefreshComponentTexts(Dialog& d) {
  // The page's texts are computed together: their figures share one unit.
  std::vector<Control> controls;  // views of the page's controls
  std::vector<int> tags;
  for (Control& c : d.model.Components()) {
    if (c.Kind() != ControlKind::StaticText) continue;
    const std::int64_t tag = c.Tag();
    if (tag < 2 || tag > 6) continue;
    controls.push_back(c);
    tags.push_back(static_cast<int>(tag));
  }
  if (controls.empty()) return;
  std::int64_t freeSpace = -1;
  if (std::any_of(tags.begin(), tags.end(), [](int tag) { return tag == 5 || tag == 6; })) {
    const std::string target = CollapseBackslashes(ctx_.Vars.ValueExpanded("$TARGETDIR$"));
    freeSpace = ComponentFreeSpace(target, [&](const std::string& root) -> std::int64_t {
      return FreeBytes ? FreeBytes(root) : -1;
    });
  }
  std::vector<std::string> texts;
  try {
    texts = ComponentPageTexts(ctx_, tags, SelectedComponentText, freeSpace);
  } catch (const std::exception&) {
    texts.assign(controls.size(), std::string());
  }
  for (std::size_t i = 0; i < controls.size(); ++i) controls[i].Set("Caption", Value::Str(texts[i]));
}

void DialogRuntime::TreeChange(Dialog& d, std::string_view name, std::optional<std::size_t> node) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound || binding_ || found->Kind() != ControlKind::TreeView) return;
  TreeState* tree = found->Tag() == 1 ? d.Tree(name) : nullptr;
  NodeTreeState* plain = tree ? nullptr : d.NodeTree(name);
  if (!node) {
    ApplyRules(d);
    return;
  }
  if (tree && *node < tree->tree.Nodes().size()) {
    tree->selected = node;
    SelectedComponentText = tree->tree.FullName(*node);
    Write(*found, tree->tree.Nodes()[*node].Text, "TreeView1Change");
    RefreshComponentTexts(d);
  } else if (plain && *node < plain->nodes.size()) {
    plain->selected = node;
    Write(*found, plain->nodes[*node].text, "TreeView1Change");
  }
  ApplyRules(d);
}

void DialogRuntime::ToggleComponent(Dialog& d, std::string_view name, std::size_t node) {
  TreeState* tree = d.bound ? d.Tree(name) : nullptr;
  if (!tree || !ComponentMenuOpens(d, name, node)) return;
  const bool on = tree->tree.Nodes()[node].Image != 1;
  ComponentMenu(d, name, node,
                on ? ComponentMenuItem::InstallComponentWithSubComponents : ComponentMenuItem::EntireFeatureUnavailable);
}

bool DialogRuntime::ComponentMenuOpens(Dialog& d, std::string_view name, std::size_t node) {
  TreeState* tree = d.bound ? d.Tree(name) : nullptr;
  return tree && ComponentMenuAvailable(tree->tree, ctx_.State.Components, ctx_.Text(), node);
}

void DialogRuntime::ComponentMenu(Dialog& d, std::string_view name, std::size_t node, ComponentMenuItem item) {
  if (!ComponentMenuOpens(d, name, node)) return;
  TreeState& tree = *d.Tree(name);
  ApplyComponentMenu(tree.tree, ctx_.State.Components, ctx_.Text(), node, item);
  RefreshComponentTexts(d);
  ApplyRules(d);
}

void DialogRuntime::FormShow(Dialog&) {
  targetAsShown_.clear();
  targetTail_.clear();
  if (!ctx_.Vars.Exists("TARGETDIR")) return;
  targetAsShown_ = CollapseBackslashes(ctx_.Vars.Expand(ctx_.Vars.Get("TARGETDIR")));
  std::string existing = NearestExistingFolder(targetAsShown_);
  if (existing.empty()) return;
  std::size_t n = WithBackslash(existing).size();
  targetTail_ = n < targetAsShown_.size() ? targetAsShown_.substr(n) : std::string();
}

// --- Events -----------------------------------------------------------------------

void DialogRuntime::Write(Control& c, std::string_view value, std::string_view origin) {
  std::string name = ctx_.Text().UpperCase(c.Hint());
  if (name.empty()) return;
  ctx_.Vars.SetVar(name, value, origin);
}

void DialogRuntime::Click(Dialog& d, std::string_view name, DialogPort& port) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound) return;
  Control& c = *found;
  const KindBehaviour& behaviour = BehaviourOf(c.Kind());
  if (behaviour.navigates) {
    Navigate(d, c, port);
    return;
  }
  if (binding_ || !behaviour.click) return;
  if (behaviour.click(*this, d, c)) ApplyRules(d);
}

void DialogRuntime::Change(Dialog& d, std::string_view name, DialogPort& port) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound || binding_) return;
  auto change = BehaviourOf(found->Kind()).change;
  if (change && change(*this, d, *found, port)) ApplyRules(d);
}

void DialogRuntime::ClickCheck(Dialog& d, std::string_view name) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound || found->Kind() != ControlKind::CheckListBox) return;
  Control& c = *found;
  if (c.Tag() == 1) {
    // The components follow the checks; a fixed component's item snaps back.
    std::vector<std::string> texts = c.Strings("Items");
    ListState& state = d.List(c.Name());
    state.checked.resize(texts.size(), false);
    std::vector<ComponentListItem> items;
    for (std::size_t i = 0; i < texts.size(); ++i) items.push_back({texts[i], static_cast<bool>(state.checked[i])});
    ApplyListChecks(ctx_.State.Components, ctx_.Text(), items);
    for (std::size_t i = 0; i < items.size(); ++i) state.checked[i] = items[i].Checked;
  } else {
    std::vector<std::string> items = c.Strings("Items");
    const ListState& state = d.List(c.Name());
    std::string value;
    for (std::size_t i = 0; i < items.size() && i < state.checked.size(); ++i)
      if (state.checked[i]) value += items[i] + std::string(kNewline);
    Write(c, value, "CheckListBox1ClickCheck");
  }
  RefreshComponentTexts(d);
  ApplyRules(d);
}

void DialogRuntime::FolderChanged(Dialog& d, std::string_view name, DialogPort& port) {
  std::optional<Control> found = d.Find(name);
  if (!found || !d.bound || binding_ || found->Kind() != ControlKind::PTShellList) return;
  auto it = d.picks.find(found->Name());
  const std::string folder = it == d.picks.end() ? std::string() : it->second;
  if (folder.empty()) return;
  d.documents[found->Name()] = WithBackslash(folder);
  Write(*found, folder, "PTShellList1FolderChanged");
  RefreshPathControls(d);
  if (found->Tag() == 1) BrowseTarget(d, folder, port);
  ApplyRules(d);
}

void DialogRuntime::ScrolledToEnd(Dialog& d, std::string_view name) {
  std::optional<Control> found = d.Find(name);
  if (!found || found->Integer("MaxLength") == kScrollEndMarker) return;
  found->Set("MaxLength", Value::Integer(kScrollEndMarker));
  ApplyRules(d);
}

void DialogRuntime::Navigate(Dialog& d, Control& c, DialogPort& port) {
  d.resultCode = kResultWaiting;
  if (binding_) return;
  switch (c.Tag()) {
    case 1: d.resultCode = kResultNext; break;
    case 2: d.resultCode = kResultBack; break;
    case 3:
      if (port.Confirm(d, ctx_.Message(40), ctx_.WindowCaption())) {
        ctx_.Vars.SetVar("VRAX_IsCancelled", "TRUE", "ShowDesign");
        c.Set("Enabled", Value::Boolean(false));
        d.resultCode = kResultCancel;
      }
      break;
    case 4: {
      std::optional<std::string> folder = BrowseFolder(d, port);
      if (!folder) break;
      const bool button = c.Kind() == ControlKind::Button || c.Kind() == ControlKind::RzBmpButton;
      if (button && folder->empty()) break;
      BrowseTarget(d, *folder, port);
      break;
    }
    case 5:
      d.resultCode = kResultCustom;
      d.customResult = c.Name();
      break;
    case 6: {
      std::optional<std::string> folder = BrowseFolder(d, port);
      if (!folder || folder->empty()) break;
      ctx_.Vars.SetVar(ctx_.Text().UpperCase(c.Name()), WithBackslash(*folder), "SetCustomDirectoryEditText");
      RefreshComponentTexts(d);
      RefreshPathControls(d);
      break;
    }
    default: break;
  }
  ApplyRules(d);
}

// The folder browser and the About box are modal prompts: the taskbar button shows the
// progress paused while they are up.
std::optional<std::string> DialogRuntime::BrowseFolder(Dialog& d, DialogPort& port) {
  PromptProgressState(true, false);
  std::optional<std::string> folder;
  try {
    folder = port.BrowseFolder(d);
  } catch (...) {
    PromptProgressState(false, false);
    throw;
  }
  PromptProgressState(false, false);
  return folder;
}

void DialogRuntime::About(Dialog& d, DialogPort& port) {
  PromptProgressState(true, false);
  try {
    port.About(d);
  } catch (...) {
    PromptProgressState(false, false);
    throw;
  }
  PromptProgressState(false, false);
}

void DialogRuntime::BrowseTarget(Dialog& d, const std::string& folder, DialogPort& port) {
  const std::string base = targetAsShown_.empty() ? folder : targetAsShown_;
  std::string text;
  if (!folder.empty()) {
    // The chosen folder keeps the target only when the target lies inside it: the prefix
    // must end at a folder boundary (C:\Prog is not a part of C:\Program Files\App\).
    const std::string chosen = ctx_.Text().LowerCase(WithBackslash(folder));
    const std::string lowerBase = ctx_.Text().LowerCase(WithBackslash(base));
    text = StartsWith(lowerBase, chosen) ? base : WithBackslash(folder) + targetTail_;
  }
  for (Control& c : d.model.Components()) {
    if (c.Kind() != ControlKind::Edit || c.Tag() != 2) continue;
    c.Set("Text", Value::Str(text));
    Change(d, c.Name(), port);
  }
  RefreshComponentTexts(d);
  ApplyRules(d);
}

void DialogRuntime::RefreshPathControls(Dialog& d) {
  BindingGuard guard(binding_);
  for (Control& c : d.model.Components()) {
    if (c.Tag() != 100) continue;
    const std::string hint = c.Hint();
    if (hint.empty()) continue;
    auto follow = BehaviourOf(c.Kind()).followPath;
    if (!follow) continue;
    follow(*this, d, c, CollapseBackslashes(ctx_.Vars.Expand(ctx_.Vars.Get(hint))));
  }
}

void DialogRuntime::RefreshProgress(Dialog& d, const std::string& text, std::int64_t position) {
  RefreshProgress(d, text, 0, 100, position);
}

void DialogRuntime::RefreshProgress(Dialog& d, const std::string& text, std::int64_t min, std::int64_t max,
                                    std::int64_t position) {
  const std::string mode = ctx_.Vars.ValueExpanded("$PROGRESSMODE$");
  const bool marquee = mode == "MARQUEE";
  const ProgressShown shown{text, ProgressBarRange(min, max, position), marquee};
  for (Control& c : d.model.Components()) {
    if (SameText(c.Name(), "cmpFormDesigner")) continue;
    if (auto refresh = BehaviourOf(c.Kind()).refresh) refresh(*this, d, c, shown);
  }
  if (Taskbar) Taskbar(TaskbarProgressFor(mode, min, max, position));
  RefreshPathControls(d);
  ApplyRules(d);
}

void DialogRuntime::PromptProgressState(bool prompt, bool error) {
  if (prompt) {
    if (!promptedMode_) promptedMode_ = ctx_.Vars.Get("PROGRESSMODE");
    ctx_.Vars.Set("PROGRESSMODE", error ? "ERROR" : "PAUSE");
  } else if (promptedMode_) {
    ctx_.Vars.Set("PROGRESSMODE", *promptedMode_);
    promptedMode_.reset();
  }
  if (Taskbar) {
    TaskbarProgress state;
    state.state = TaskbarStateFor(ctx_.Vars.ValueExpanded("$PROGRESSMODE$"));
    Taskbar(state);
  }
}

ProgressRange ProgressBarRange(std::int64_t min, std::int64_t max, std::int64_t position) {
  if (max <= min) return {0, 100, 100};
  constexpr std::int64_t kLimit = 2147483647;
  // Byte counts of large installations: scaled until the range fits the control.
  while (max > kLimit || min < -kLimit) {
    min /= 1024;
    max /= 1024;
    position /= 1024;
  }
  if (max <= min) return {0, 100, 100};
  return {min, max, std::clamp(position, min, max)};
}

TaskbarState TaskbarStateFor(std::string_view mode) {
  if (mode == "MARQUEE") return TaskbarState::Indeterminate;
  if (mode == "ERROR") return TaskbarState::Error;
  if (mode == "PAUSE") return TaskbarState::Paused;
  return TaskbarState::Normal;
}

TaskbarProgress TaskbarProgressFor(std::string_view mode, std::int64_t min, std::int64_t max, std::int64_t position) {
  TaskbarProgress p;
  p.state = TaskbarStateFor(mode);
  if (p.state == TaskbarState::Indeterminate) return p;
  p.withValue = true;
  if (max <= min) {
    p.completed = p.total = 1;
    return p;
  }
  p.total = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min);
  p.completed = position <= min   ? 0
                : position >= max ? p.total
                                  : static_cast<std::uint64_t>(position) - static_cast<std::uint64_t>(min);
  return p;
}

}  // namespace kem::dialogs
