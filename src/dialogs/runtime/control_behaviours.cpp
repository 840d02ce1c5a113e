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

  static void BindTreeView(DialogRuntime& rt, Dialog& d, Control& c, const BoundValue&) {
    if (c.Tag() == 1) rt.FillComponentControls(d, c);
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

  static bool ChangeMaskEdit(DialogRuntime& rt, Dialog& d, Control& c, DialogPort&) {
    rt.Write(c, c.String("Text"), "MaskEdit1Change");
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

  // --- Live controls ---------------------------------------------------------------

  static void FollowEdit(DialogRuntime&, Dialog&, Control& c, const std::string& p) { c.Set("Text", Value::Str(p)); }

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
    set(K::TreeView).bind = BindTreeView;
    set(K::HTMLViewer).bind = set(K::FlashFrame).bind = BindSpecialFile;
    set(K::FileListBox) = {BindFolderView, false, nullptr, nullptr, FollowFileList};
    for (K k : {K::DirectoryListBox, K::PTShellTree, K::PTShellList, K::PTShellCombo})
      set(k) = {BindFolderView, false, nullptr, nullptr, FollowFolder};
    set(K::DriveComboBox) = {BindFolderView, false, nullptr, nullptr, FollowDrive};
    return t;
  }
};

const KindBehaviour& BehaviourOf(ControlKind kind) {
  static const auto table = KindSteps::Table();
  const auto i = static_cast<std::size_t>(kind);
  return table[i < table.size() ? i : 0];
}

}  // namespace kem::dialogs
