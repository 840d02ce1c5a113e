#include "dialogs/runtime/control_behaviours.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "common/text.h"
#include "dialogs/forms/property_text.h"

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

}  // namespace

// Friend of the runtime: each step reaches its texts, variables and helpers.
struct KindSteps {
  // --- Binding ---------------------------------------------------------------------

  static void BindForm(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    rt.CaptionText(d, c, d.fileName);
    std::string caption = c.Caption();
    if (rt.ctx_.Caption.BrandingOff()) {
      auto at = caption.find(kWizardSuffix);
      if (at != std::string::npos) caption.erase(at, kWizardSuffix.size());
    } else if (caption.find(kWizardSuffix) == std::string::npos) {
      caption += kWizardSuffix;
    }
    c.Set("Caption", Value::Str(caption));
  }

  static void BindCaption(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    rt.CaptionText(d, c, c.Name());
  }

  static void BindStaticText(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    rt.CaptionText(d, c, c.Name());
    if (c.Tag() == 1) c.Set("Caption", Value::Str(rt.ctx_.Vars.ValueExpanded("$PROGRESSTEXT$")));
  }

  static void BindCheck(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue& v) {
    if (v.defined) c.Set("Checked", Value::Boolean(IsTrue(v.value)));
    rt.CaptionText(d, c, c.Name());
  }

  static void BindEdit(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) { rt.BindEdit(d, c, false); }
  static void BindMaskEdit(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) { rt.BindEdit(d, c, true); }
  static void BindMemo(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) { rt.BindMemo(d, c, false); }
  static void BindRichEdit(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) { rt.BindMemo(d, c, true); }

  static void BindListBox(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue& v) {
    rt.ItemText(d, c);
    if (!v.defined) return;
    int at = rt.FindItem(c.Strings("Items"), v.value);
    if (at >= 0) d.List(c.Name()).selected = {at};
  }

  static void BindCheckList(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue& v) {
    if (c.Tag() == 1) {
      rt.FillComponentControls(d, c);
      return;
    }
    rt.ItemText(d, c);
    std::vector<std::string> items = c.Strings("Items");
    ListState& state = d.List(c.Name());
    state.checked.resize(items.size(), false);
    if (!v.defined) return;
    for (const std::string& line : SplitLines(ReplaceAll(v.value, kNewline, "\r\n"))) {
      int at = rt.FindItem(items, line);
      if (at >= 0) state.checked[at] = true;
    }
  }

  static void BindCombo(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue& v) {
    rt.ItemText(d, c);
    if (!v.defined) return;
    if (c.Identifier("Style") == "csDropDownList") {
      int at = rt.FindItem(c.Strings("Items"), v.value);
      if (at >= 0) c.Set("ItemIndex", Value::Integer(at));
    } else {
      c.Set("Text", Value::Str(v.value));
    }
  }

  static void BindTrackBar(DialogRuntime&, Dialog&, Control& c, const BoundValue& v) {
    if (!v.defined) return;
    std::optional<std::int64_t> n = forms::ParseIntegerText(v.value);
    if (!n) throw std::runtime_error("'" + v.value + "' is not a valid integer value");
    c.Set("Position", Value::Integer(*n));
  }

  static void BindProgress(DialogRuntime& rt, Dialog&, Control& c, const BoundValue&) {
    if (c.Tag() != 1) return;
    const bool gauge = c.Kind() == ControlKind::Gauge;
    // The gauge leaves an undefined PROGRESS alone; the bar takes it as empty.
    std::string progress = gauge ? rt.ctx_.Vars.ValueOrMarker("$PROGRESS$") : rt.ctx_.Vars.ValueExpanded("$PROGRESS$");
    if (progress.empty() || progress == kUndefinedMarker) return;
    std::int64_t p = forms::ParseIntegerText(progress).value_or(100);
    p = std::clamp<std::int64_t>(p, 0, 100);
    c.Set(gauge ? "Progress" : "Position", Value::Integer(p));
  }

  // Tree views are read-only and keep their selection visible. A plain one shows the
  // nodes of its form file with their texts expanded; a component tree the components.
  // An animation plays whenever its page is shown.
  static void BindAnimate(DialogRuntime&, Dialog&, Control& c, const BoundValue&) {
    c.Set("Active", Value::Boolean(true));
  }

  static void BindTreeView(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    c.Set("ReadOnly", Value::Boolean(true));
    c.Set("HideSelection", Value::Boolean(false));
    if (c.Tag() != 1) {
      NodeTreeState& state = d.nodeTrees[UpperCase(c.Name())];
      state.nodes = forms::ReadTreeNodes(c.Graphic("Items").value_or(std::string()));
      for (forms::TreeNodeItem& node : state.nodes) node.text = rt.ctx_.Vars.Expand(node.text);
      state.selected.reset();
      ++state.fill;
      return;
    }
    rt.FillComponentControls(d, c);
    // The first node is selected, so its texts show before the user clicks.
    TreeState* tree = d.Tree(c.Name());
    if (tree && !tree->tree.DisplayOrder().empty()) tree->selected = tree->tree.DisplayOrder().front();
  }

  static void BindSpecialFile(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    if (c.Tag() == 1) rt.LoadSpecialFile(d, c, false);
  }

  // The folder a file, folder, drive or shell control shows, kept as its document.
  static void BindFolderView(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue& v) {
    const ControlKind kind = c.Kind();
    FileService& files = rt.files_;
    const std::string& seed = v.seed;
    std::string shown;
    if (v.defined) {
      if (kind == ControlKind::DirectoryListBox || kind == ControlKind::PTShellTree || kind == ControlKind::PTShellCombo) {
        if (files.FolderExists(v.value)) shown = WithBackslash(v.value);
      } else if (kind == ControlKind::DriveComboBox) {
        if (!v.value.empty() && files.FolderExists(v.value.substr(0, 1) + ":\\")) shown = v.value.substr(0, 1) + ":\\";
      } else if (files.FolderExists(FolderPartOf(v.value))) {
        shown = FolderPartOf(v.value);
      }
    }
    if (c.Tag() == 1) {
      if (files.FolderExists(seed)) shown = kind == ControlKind::DriveComboBox ? seed.substr(0, 1) + ":\\" : seed;
      else if ((kind == ControlKind::DirectoryListBox || kind == ControlKind::PTShellTree) &&
               files.FolderExists(FolderPartOf(seed)))
        shown = FolderPartOf(seed);
    }
    if (!shown.empty()) d.documents[c.Name()] = shown;
  }

  // --- Writers ---------------------------------------------------------------------

  static bool ClickCheckBox(DialogRuntime& rt, Dialog&, Control& c) {
    rt.Write(c, BoolText(c.Boolean("Checked")), "CheckBox1Click");
    return true;
  }

  static bool ClickRadioButton(DialogRuntime& rt, Dialog& d, Control&) {
    // Every radio button of the page writes its own variable: a group updates at once.
    for (Control& r : d.model.Components())
      if (r.Kind() == ControlKind::RzRadioButton && !r.Hint().empty())
        rt.Write(r, BoolText(r.Boolean("Checked")), "RadioButton1Click");
    return true;
  }

  static bool ClickListBox(DialogRuntime& rt, Dialog& d, Control& c) {
    std::vector<std::string> items = c.Strings("Items");
    std::string value;
    for (int i : d.List(c.Name()).selected)
      if (i >= 0 && static_cast<std::size_t>(i) < items.size()) value += items[i] + std::string(kNewline);
    rt.Write(c, value, "ListBox1Click");
    return true;
  }

  static bool ClickCombo(DialogRuntime& rt, Dialog&, Control& c) {
    rt.Write(c, c.String("Text"), "ComboBox1Click");
    return true;
  }

  static bool ClickCheckList(DialogRuntime& rt, Dialog& d, Control& c) {
    if (c.Tag() != 1) return false;
    const std::vector<std::string> items = c.Strings("Items");
    const std::vector<int>& selected = d.List(c.Name()).selected;
    if (selected.empty() || selected.front() < 0 || static_cast<std::size_t>(selected.front()) >= items.size())
      return false;
    rt.SelectedComponentText = items[selected.front()];
    rt.RefreshComponentTexts(d);
    return true;
  }

  static bool ChangeEdit(DialogRuntime& rt, Dialog& d, Control& c, DialogPort& port) {
    const std::string text = c.String("Text");
    rt.Write(c, text, "Edit1Change");
    rt.RefreshComponentTexts(d);
    rt.RefreshPathControls(d);
    rt.ApplyRules(d);
    // Auto-advance: the last allowed character moves the focus on.
    const std::int64_t max = c.Integer("MaxLength");
    if (max != 0 && static_cast<std::int64_t>(text.size()) == max) port.FocusTabOrder(d, c.Integer("TabOrder") + 1);
    return false;  // the rules are applied
  }

  // The value without the mask's blanks (and without its literals unless it keeps them).
  static bool ChangeMaskEdit(DialogRuntime& rt, Dialog& d, Control& c, DialogPort&) {
    rt.Write(c, MaskedValue(DialogRuntime::MaskOf(c), c.String("Text")), "MaskEdit1Change");
    rt.RefreshComponentTexts(d);
    rt.RefreshPathControls(d);
    return true;
  }

  static bool ChangeMemo(DialogRuntime& rt, Dialog& d, Control& c, DialogPort&) {
    if (c.Hint().empty()) return false;
    rt.Write(c, ReplaceAll(JoinLines(c.Strings("Lines")), "\r\n", kNewline),
             c.Kind() == ControlKind::Memo ? "Memo1Change" : "RichEdit1Change");
    rt.RefreshComponentTexts(d);
    return true;
  }

  static bool ChangeCombo(DialogRuntime& rt, Dialog&, Control& c, DialogPort&) {
    rt.Write(c, c.String("Text"), "ComboBox1Change");
    return true;
  }

  static bool ChangeTrackBar(DialogRuntime& rt, Dialog&, Control& c, DialogPort&) {
    rt.Write(c, std::to_string(c.Integer("Position")), "TrackBar1Change");
    return true;
  }

  // The file, folder, drive and shell controls write what the user picked, the live
  // controls follow, and with Tag 1 the pick becomes the browse target.
  static bool PickWritten(DialogRuntime& rt, Dialog& d, Control& c, const std::string& value,
                          const std::string& target, std::string_view origin, DialogPort& port) {
    rt.Write(c, value, origin);
    rt.RefreshPathControls(d);
    if (c.Tag() == 1) rt.BrowseTarget(d, target, port);
    return true;
  }

  static std::string PickOf(Dialog& d, const Control& c) {
    auto it = d.picks.find(c.Name());
    return it == d.picks.end() ? std::string() : it->second;
  }

  static bool ChangeFileList(DialogRuntime& rt, Dialog& d, Control& c, DialogPort& port) {
    const std::string file = PickOf(d, c);
    return PickWritten(rt, d, c, file, FolderPartOf(file), "FileListBox1Change", port);
  }

  static bool ChangeFolderPick(DialogRuntime& rt, Dialog& d, Control& c, DialogPort& port) {
    const std::string folder = PickOf(d, c);
    const ControlKind kind = c.Kind();
    const char* origin = kind == ControlKind::DirectoryListBox ? "DirectoryListBox1Change"
                         : kind == ControlKind::DriveComboBox  ? "DriveComboBox1Change"
                         : kind == ControlKind::PTShellTree    ? "PTShellTree1Change"
                                                               : "PTShellCombo1Change";
    // The folder list, the drive and the shell combo show what was picked; the shell
    // tree keeps its root and marks the pick.
    if (kind != ControlKind::PTShellTree && !folder.empty()) d.documents[c.Name()] = WithBackslash(folder);
    return PickWritten(rt, d, c, folder, folder, origin, port);
  }

  // Only a file chosen in the shell list counts: a folder is navigated into, and the
  // list's folder change reports that. The target moves to the file's folder (a file is
  // no folder to install into).
  static bool ChangeShellList(DialogRuntime& rt, Dialog& d, Control& c, DialogPort& port) {
    const std::string item = PickOf(d, c);
    if (item.empty() || rt.files_.FolderExists(item)) return false;
    return PickWritten(rt, d, c, item, FolderPartOf(item), "PTShellList1Change", port);
  }

  // --- Live controls ---------------------------------------------------------------

  static void FollowEdit(DialogRuntime&, Dialog&, Control& c, const std::string& p) {
    c.Set("Text", Value::Str(c.Kind() == ControlKind::MaskEdit ? FormatMasked(DialogRuntime::MaskOf(c), p) : p));
  }

  static void FollowFileList(DialogRuntime& rt, Dialog& d, Control& c, const std::string& p) {
    if (rt.files_.FileExists(p)) d.documents[c.Name()] = FolderPartOf(p);
    else if (rt.files_.FolderExists(p)) d.documents[c.Name()] = WithBackslash(p);
  }

  static void FollowFolder(DialogRuntime& rt, Dialog& d, Control& c, const std::string& p) {
    if (rt.files_.FolderExists(p)) d.documents[c.Name()] = WithBackslash(p);
  }

  static void FollowDrive(DialogRuntime& rt, Dialog& d, Control& c, const std::string& p) {
    if (!p.empty() && rt.files_.FolderExists(p.substr(0, 1) + ":\\")) d.documents[c.Name()] = p.substr(0, 1) + ":\\";
  }

  // --- Deferred handlers -----------------------------------------------------------

  static void DeferredCheckList(DialogRuntime& rt, Dialog& d, Control& c) {
    if (c.Tag() == 1 || !c.Hint().empty()) rt.ClickCheck(d, c.Name());
  }

  // --- Progress refreshes ----------------------------------------------------------

  // The caption from its template again, so "Installing $STEP$" follows STEP while the
  // page is up. A control never bound keeps its text.
  static void RefreshCaption(DialogRuntime& rt, Dialog& d, Control& c, const ProgressShown&) {
    if (!rt.HasTemplate(d, c.Name())) return;
    std::string text = rt.DialogText(d, c.Name());
    if (c.Caption() != text) c.Set("Caption", Value::Str(std::move(text)));
  }

  // Tag 1 shows the progress text; Tag 2 to 6 are the component texts, which follow the
  // component choice rather than their template.
  static void RefreshStaticText(DialogRuntime& rt, Dialog& d, Control& c, const ProgressShown& shown) {
    const std::int64_t tag = c.Tag();
    if (tag == 1) c.Set("Caption", Value::Str(shown.text));
    else if (tag < 2 || tag > 6) RefreshCaption(rt, d, c, shown);
  }

  static void RefreshProgressBar(DialogRuntime& rt, Dialog&, Control& c, const ProgressShown& progress) {
    const std::int64_t tag = c.Tag();
    if (tag != 1 && tag != 100) return;
    const bool gauge = c.Kind() == ControlKind::Gauge;
    ProgressRange shown = progress.range;
    // A Tag 100 bar without a variable to show has nothing but the progress to show.
    if (tag == 100 && !c.Hint().empty()) {
      // The variable named by Hint as a percentage; a value that is no number shows full.
      const std::string value = rt.ctx_.Vars.ValueExpanded("$" + c.Hint() + "$");
      shown = {0, 100, std::clamp<std::int64_t>(forms::ParseIntegerText(value).value_or(100), 0, 100)};
    } else if (!gauge) {
      c.Set("Style", Value::Identifier(progress.marquee ? "pbstMarquee" : "pbstNormal"));
      if (progress.marquee) return;
    }
    c.Set(gauge ? "MinValue" : "Min", Value::Integer(shown.min));
    c.Set(gauge ? "MaxValue" : "Max", Value::Integer(shown.max));
    c.Set(gauge ? "Progress" : "Position", Value::Integer(shown.position));
  }

  static void DeferredTreeView(DialogRuntime& rt, Dialog& d, Control& c) {
    if (TreeState* tree = d.Tree(c.Name())) rt.TreeChange(d, c.Name(), tree->selected);
    else if (NodeTreeState* plain = d.NodeTree(c.Name())) rt.TreeChange(d, c.Name(), plain->selected);
  }

  static std::array<KindBehaviour, static_cast<std::size_t>(ControlKind::VistaGlass) + 1> Table() {
    std::array<KindBehaviour, static_cast<std::size_t>(ControlKind::VistaGlass) + 1> t{};
    auto set = [&](ControlKind k) -> KindBehaviour& { return t[static_cast<std::size_t>(k)]; };
    using K = ControlKind;
    set(K::Form).bind = BindForm;
    for (K k : {K::Label, K::Panel, K::GroupBox, K::TabSheet, K::Button, K::BitBtn, K::RzBmpButton, K::SpeedButton})
      set(k).bind = BindCaption;
    for (K k : {K::Button, K::BitBtn, K::RzBmpButton, K::SpeedButton, K::Image, K::Label, K::Shape})
      set(k).navigates = true;
    set(K::StaticText).bind = BindStaticText;
    set(K::StaticText).refresh = RefreshStaticText;
    for (K k : {K::Label, K::Panel, K::TabSheet, K::Button, K::BitBtn, K::RzBmpButton}) set(k).refresh = RefreshCaption;
    set(K::ProgressBar).refresh = set(K::Gauge).refresh = RefreshProgressBar;
    set(K::RzCheckBox) = {BindCheck, false, ClickCheckBox};
    set(K::RzRadioButton) = {BindCheck, false, ClickRadioButton};
    set(K::Edit) = {BindEdit, false, nullptr, ChangeEdit, FollowEdit};
    set(K::MaskEdit) = {BindMaskEdit, false, nullptr, ChangeMaskEdit, FollowEdit};
    set(K::Memo) = {BindMemo, false, nullptr, ChangeMemo};
    set(K::RichEdit) = {BindRichEdit, false, nullptr, ChangeMemo};
    set(K::ListBox) = {BindListBox, false, ClickListBox};
    set(K::CheckListBox) = {BindCheckList, false, ClickCheckList, nullptr, nullptr, DeferredCheckList};
    set(K::ComboBox) = {BindCombo, false, ClickCombo, ChangeCombo};
    set(K::TrackBar) = {BindTrackBar, false, nullptr, ChangeTrackBar};
    set(K::ProgressBar).bind = set(K::Gauge).bind = BindProgress;
    set(K::Animate).bind = BindAnimate;
    set(K::TreeView).bind = BindTreeView;
    set(K::TreeView).deferred = DeferredTreeView;
    set(K::HTMLViewer).bind = set(K::FlashFrame).bind = BindSpecialFile;
    set(K::FileListBox) = {BindFolderView, false, nullptr, ChangeFileList, FollowFileList};
    for (K k : {K::DirectoryListBox, K::PTShellTree, K::PTShellCombo})
      set(k) = {BindFolderView, false, nullptr, ChangeFolderPick, FollowFolder};
    set(K::PTShellList) = {BindFolderView, false, nullptr, ChangeShellList, FollowFolder};
    set(K::DriveComboBox) = {BindFolderView, false, nullptr, ChangeFolderPick, FollowDrive};
    return t;
  }
};

const KindBehaviour& BehaviourOf(ControlKind kind) {
  static const auto table = KindSteps::Table();
  const auto i = static_cast<std::size_t>(kind);
  return table[i < table.size() ? i : 0];
}

}  // namespace kem::dialogs
