// The dialog runtime: the preloaded wizard pages of a run, their binding to the script
// variables, the control rules and the generic control handlers.
//
// A page's controls live in its form model: binding writes the variables' values into
// the model's properties (Caption, Text, Lines, Checked, Position, ...), the rules read
// and set the same properties, and the window half copies the model onto the screen
// after every step and the user's input back into the model before it reports an event.
// So everything that decides what a page shows or what it writes is here, and the
// windows only draw.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "components/components.h"
#include "dialogs/forms/form_model.h"
#include "dialogs/forms/form_rules.h"
#include "dialogs/forms/tree_nodes.h"
#include "dialogs/runtime/edit_mask.h"
#include "engine/engine_context.h"
#include "engine/services/files.h"
#include "engine/services/ui.h"

namespace kem::dialogs {

// Result codes of a display.
inline constexpr int kResultWaiting = -1;
inline constexpr int kResultCancel = 2;
inline constexpr int kResultNext = 6;
inline constexpr int kResultBack = 7;
inline constexpr int kResultCustom = 8;

// MaxLength of a memo or rich edit whose text was scrolled to its end.
inline constexpr std::int64_t kScrollEndMarker = 2147483647;

// State of a list control that its form model does not carry.
struct ListState {
  std::vector<int> selected;  // list box: selected items (one for a single-select list)
  std::vector<bool> checked;  // check list box: one per item
};

// A component tree (tree view with Tag 1): its nodes as filled from the component tables
// and the node the user selected. fill counts the fillings, so the window half knows
// when to rebuild its items rather than only update their images.
struct TreeState {
  ComponentTree tree;
  std::optional<std::size_t> selected;
  std::uint64_t fill = 0;
};

// A tree view that is no component tree: the nodes of its form file with their texts
// expanded at binding, and the node the user selected.
struct NodeTreeState {
  std::vector<forms::TreeNodeItem> nodes;
  std::optional<std::size_t> selected;
  std::uint64_t fill = 0;
};

// One preloaded page: its form model, rules and the state of its display.
struct Dialog {
  std::string key;       // statement index in decimal
  std::string path;      // the dialog file
  std::string fileName;  // without folder: the key of its text templates
  forms::FormModel model;
  std::vector<forms::ControlRule> rules;

  int resultCode = kResultWaiting;
  std::string customResult;
  bool closingAllowed = true;
  bool bound = false;  // handlers attached (between Bind and Unbind)
  // Controls under scroll tracking (empty: none).
  std::string hookedMemo, hookedRichEdit;
  // What a control shows beyond its properties, by control name: the rich text of a rich
  // edit read from an .rtf file, the document (or placeholder) of an HTML view or movie
  // frame, the folder a file, folder, drive or shell control shows.
  std::map<std::string, std::string> documents;
  // The file an HTML view's document was read from (none for the placeholder text).
  std::map<std::string, std::string> documentFiles;
  // What the user picked in a file, folder, drive or shell control, by control name: the
  // file list's file, the folder list's or shell tree's folder, the drive's root, the
  // shell list's item; the window half sets it before it reports the change.
  std::map<std::string, std::string> picks;
  std::map<std::string, ListState> lists;  // by upper-cased control name
  std::map<std::string, TreeState> trees;  // component trees, by upper-cased control name
  std::map<std::string, NodeTreeState> nodeTrees;  // the other tree views, likewise
  // Properties of the form file the page does not support, listed once in the trace.
  bool unsupportedTraced = false;

  std::optional<forms::Control> Find(std::string_view name);
  ListState& List(std::string_view name);
  // The component tree state of a tree view; nullptr when it is no component tree.
  TreeState* Tree(std::string_view name);
  // The nodes of a plain tree view; nullptr for a component tree or before binding.
  NodeTreeState* NodeTree(std::string_view name);
};

// What the runtime asks of the window system while it handles an event.
class DialogPort {
 public:
  virtual ~DialogPort() = default;
  // A question box with Yes and No (No the default) owned by the page; true for Yes.
  virtual bool Confirm(Dialog& dialog, const std::string& text, const std::string& caption) = 0;
  // The folder browser owned by the page: nullopt when the user closed it without a
  // choice; the empty text for an item without a file-system path.
  virtual std::optional<std::string> BrowseFolder(Dialog& dialog) = 0;
  // Moves the focus to the page's control with this tab order (nothing when none).
  virtual void FocusTabOrder(Dialog& dialog, std::int64_t tabOrder) = 0;
  // Shows product information (the About entry of the system menu).
  virtual void About(Dialog&) {}
};

// "$NAME$" texts: every doubled backslash becomes one; a text that began with two
// backslashes keeps one extra in front.
std::string CollapseBackslashes(std::string_view text);

// The lines of a text separated by CR LF, LF or CR (a final line break adds no empty
// line), and lines joined with CR LF: the multi-line texts of memos and lists.
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinLines(const std::vector<std::string>& lines);
// The folder part of a path with its trailing backslash ("" when there is none).
std::string FolderPartOf(std::string_view path);
// Folder with a trailing backslash.
std::string WithBackslash(std::string_view folder);
// The wizard suffix of page captions.
inline constexpr std::string_view kWizardSuffix = " - Vantrel Wizard";

// What a progress bar shows of a report's range and position: values beyond 31 bits are
// divided by 1024 (as often as it takes) to fit the control, the position is kept inside
// the range, and an empty or inverted range shows full (0 to 100 at 100).
struct ProgressRange {
  std::int64_t min = 0, max = 100, position = 0;
};
ProgressRange ProgressBarRange(std::int64_t min, std::int64_t max, std::int64_t position);

// The taskbar button's progress for PROGRESSMODE and a report: "MARQUEE" indeterminate,
// otherwise the part done, in the error state for "ERROR" and paused for "PAUSE".
struct TaskbarProgress {
  TaskbarState state = TaskbarState::Normal;
  bool withValue = false;
  std::uint64_t completed = 0, total = 0;
};
TaskbarProgress TaskbarProgressFor(std::string_view mode, std::int64_t min, std::int64_t max, std::int64_t position);
// The state alone, for a change of PROGRESSMODE without a report.
TaskbarState TaskbarStateFor(std::string_view mode);

class DialogRuntime {
 public:
  DialogRuntime(EngineContext& context, FileService& files);

  // Remembers the support folder; the next page is centred; VRAX_IsCancelled "FALSE".
  void Init(const std::string& supportFolder);
  const std::string& SupportFolder() const { return supportFolder_; }

  // Loads a page under its key. A missing or damaged dialog file raises FormError naming
  // it; a missing rules file counts as an empty one.
  Dialog& Load(const std::string& key, const std::string& path);
  Dialog* Find(std::string_view key);
  std::vector<Dialog*> All();

  // Fills the page from the variables. Silent runs return at once. A bound value that
  // does not fit its control raises std::runtime_error with the message the
  // "Display Dialog" statement fails with.
  void Bind(Dialog& dialog);
  // Detaches the page's handlers, then refreshes the component texts and applies the
  // rules.
  void Unbind(Dialog& dialog);
  // The page's rules over its current property texts.
  void ApplyRules(Dialog& dialog);
  // When the page is shown: the target path split for BrowseTarget.
  void FormShow(Dialog& dialog);

  // Events reported by the window half after it copied the user's input into the model.
  // Click: buttons, labels, images, shapes (navigation by Tag), check boxes, radio
  // buttons, list boxes and combo box selections. Change: edits, memos, combo box texts,
  // track bars, and the file, folder, drive and shell controls (their pick). ClickCheck:
  // an item of a check list box was (un)checked. Each ends with the rules applied.
  void Click(Dialog& dialog, std::string_view control, DialogPort& port);
  void Change(Dialog& dialog, std::string_view control, DialogPort& port);
  void ClickCheck(Dialog& dialog, std::string_view control);
  // A key was released in a masked edit with the caret at this position: past the last
  // position of its mask the focus moves to the next control in tab order.
  void KeyUp(Dialog& dialog, std::string_view control, std::size_t caret, DialogPort& port);
  // The mask of a masked edit (empty for other controls and for none).
  static EditMask MaskOf(const forms::Control& control);
  // A shell list moved to another folder (its pick is that folder).
  void FolderChanged(Dialog& dialog, std::string_view control, DialogPort& port);
  // A tree view's selection changed (nullopt: no node selected): the node's text is
  // written; in a component tree the selected component follows, then the component
  // texts; then the rules.
  void TreeChange(Dialog& dialog, std::string_view control, std::optional<std::size_t> node);
  // A click on a node's image or Space: the node's component and its sub-tree change to
  // the opposite of the node's state; switching on also switches on the ancestors.
  void ToggleComponent(Dialog& dialog, std::string_view control, std::size_t node);
  // Whether the component menu opens for the node (its component exists, is not fixed).
  bool ComponentMenuOpens(Dialog& dialog, std::string_view control, std::size_t node);
  // The user chose a component menu item for the node.
  void ComponentMenu(Dialog& dialog, std::string_view control, std::size_t node, ComponentMenuItem item);

  // A memo or rich edit under scroll tracking reached the end of its text.
  void ScrolledToEnd(Dialog& dialog, std::string_view control);

  // The user chose a folder for the target: the Tag 2 edits keep the product's own
  // sub-folders of the target path.
  void BrowseTarget(Dialog& dialog, const std::string& folder, DialogPort& port);
  // Re-reads every Tag 100 control from its variable.
  void RefreshPathControls(Dialog& dialog);
  // The progress channel's text and position reach the page's progress controls; the
  // captions of labels, panels, buttons, tab sheets and static texts are expanded again
  // from their templates.
  void RefreshProgress(Dialog& dialog, const std::string& text, std::int64_t position);
  // The same with the report's range: Tag 1 bars show it (a marquee while PROGRESSMODE
  // is "MARQUEE"), Tag 100 bars their variable's percentage; the taskbar follows.
  void RefreshProgress(Dialog& dialog, const std::string& text, std::int64_t min, std::int64_t max,
                       std::int64_t position);
  // Around a modal prompt: prompt true remembers PROGRESSMODE (once) and sets it to
  // "ERROR" or "PAUSE"; prompt false puts the remembered mode back. The taskbar follows.
  void PromptProgressState(bool prompt, bool error);
  // The About box of the system menu and the thumbnail button, with the taskbar's
  // progress paused while it is up.
  void About(Dialog& dialog, DialogPort& port);
  // Where the taskbar progress goes (the window half sends it to the page on screen).
  std::function<void(const TaskbarProgress&)> Taskbar;

  // The deepest existing folder of the target path (TARGETDIR collapsed), or the last
  // candidate when none exists.
  std::string NearestExistingFolder(std::string path);

  bool BindingInProgress() const { return binding_; }
  // The full name of the component selected in a component tree or check list.
  std::string SelectedComponentText;
  // Free bytes for the user on a drive ("C:\\"), -1 when unknown; the window half
  // supplies it. The component texts of Tag 5 and 6 use it.
  std::function<std::int64_t(const std::string& root)> FreeBytes;
  // Centring and the remembered place of the last page (used by the window half).
  bool RecentreNext = true;
  struct Placement {
    int left = 0, top = 0, width = 0, height = 0;
  } LastDialogPosition;

  EngineContext& Context() { return ctx_; }

 private:
  struct BindingGuard;
  // The steps of each control kind (control_behaviours.cpp).
  friend struct KindSteps;

  std::string TemplateText(const Dialog& d, const std::string& control, const std::string& designText);
  std::string DialogText(const Dialog& d, const std::string& control);
  bool HasTemplate(const Dialog& d, const std::string& control) const;
  void CaptionText(Dialog& d, forms::Control& c, const std::string& controlName);
  void ItemText(Dialog& d, forms::Control& c);
  void BindControl(Dialog& d, forms::Control& c, const std::string& seed);
  int FindItem(const std::vector<std::string>& items, std::string_view text);
  void BindEdit(Dialog& d, forms::Control& c, bool masked);
  void BindMemo(Dialog& d, forms::Control& c, bool rich);
  void LoadSpecialFile(Dialog& d, forms::Control& c, bool rich);
  void Navigate(Dialog& d, forms::Control& c, DialogPort& port);
  std::optional<std::string> BrowseFolder(Dialog& d, DialogPort& port);
  void Write(forms::Control& c, std::string_view value, std::string_view origin);
  void RefreshComponentTexts(Dialog& d);
  void FillComponentControls(Dialog& d, forms::Control& c);
  bool Exists(const std::string& path);

  EngineContext& ctx_;
  FileService& files_;
  std::string supportFolder_;
  std::vector<std::unique_ptr<Dialog>> dialogs_;
  // Text templates: dialog file name + "." + control name (upper-cased) -> design text.
  std::unordered_map<std::string, std::string> templates_;
  bool binding_ = false;
  std::optional<std::string> promptedMode_;  // PROGRESSMODE before a prompt changed it
  // The target path as shown when the page opened, and the part below its deepest
  // existing folder (BrowseTarget keeps it).
  std::string targetAsShown_, targetTail_;
};

}  // namespace kem::dialogs
