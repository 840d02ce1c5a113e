// The parts of the wizard pages' window half that its files share: the native twin of
// each control, the page window, the per-kind control adapters and the host's state.
// Only the files of src/platform/dialogs include it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "dialogs/forms/form_model.h"
#include "dialogs/html/html_document.h"
#include "dialogs/runtime/dialog_runtime.h"
#include "platform/dialogs/dialog_host.h"
#include "platform/dialogs/wide_text.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"

namespace kem::platform {

class HtmlView;

namespace pages {

using dialogs::Dialog;
using forms::Control;
using forms::ControlKind;
using forms::FormObject;

inline constexpr wchar_t kHostClass[] = L"TPoolTemplate";
inline constexpr UINT_PTR kProgressTimer = 1;
// The timed refresh of an HTML view's page (one per page, as the last refresh set it).
inline constexpr UINT_PTR kMetaTimer = 2;
inline constexpr UINT kAboutCommand = 1025;
// Adds the taskbar's thumbnail button once the page's taskbar button exists.
inline constexpr UINT_PTR kThumbTimer = 3;
// The notification of a thumbnail button's click in WM_COMMAND's high word.
inline constexpr UINT kThumbButtonClicked = 0x1800;
inline constexpr int kFirstControlId = 1000;

// Libraries the windows need, loaded once from the system (comctl32 through the
// manifest's side-by-side redirection first, so the themed version 6 is used).
struct WindowLibraries {
  HMODULE commonControls = nullptr;
  SystemLibrary richEdit{L"riched20.dll"};
  SystemLibrary shell{L"shell32.dll"};
  SystemLibrary ole{L"ole32.dll"};
  bool oleReady = false;
  HIMAGELIST(WINAPI* imageListCreate)(int, int, UINT, int, int) = nullptr;
  int(WINAPI* imageListAddMasked)(HIMAGELIST, HBITMAP, COLORREF) = nullptr;
  BOOL(WINAPI* imageListDestroy)(HIMAGELIST) = nullptr;

  WindowLibraries();
};
WindowLibraries& Libraries();

// A colour of the form file (clBtnFace, $00FF0000, 255) as the screen's colour.
COLORREF ColorOf(std::string_view text, COLORREF fallback);

struct Page;

// An enhanced metafile, deleted with its owner.
class EnhMetafile {
 public:
  EnhMetafile() = default;
  explicit EnhMetafile(HENHMETAFILE h) : h_(h) {}
  ~EnhMetafile() { Reset(); }
  EnhMetafile(const EnhMetafile&) = delete;
  EnhMetafile& operator=(const EnhMetafile&) = delete;
  EnhMetafile& operator=(EnhMetafile&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  HENHMETAFILE Get() const { return h_; }

 private:
  void Reset() {
    if (h_) DeleteEnhMetaFile(h_);
    h_ = nullptr;
  }
  HENHMETAFILE h_ = nullptr;
};

// One native control of a page.
struct Native {
  std::string name;
  ControlKind kind = ControlKind::Unknown;
  std::string className;
  FormObject* object = nullptr;
  HWND hwnd = nullptr;
  int id = 0;
  int sheet = -1;   // index of the tab sheet it lies on (-1: none)
  int pageControl = -1;  // for a tab sheet: its page control
  RECT rect{};      // in the page's client area
  COLORREF back = 0, fore = 0;
  HBRUSH brush = nullptr;
  HFONT font = nullptr;
  GdiObject picture;  // composited bitmap of an image or glyph
  EnhMetafile metafile;  // an image's metafile (drawn by the system at every paint)
  int pictureWidth = 0, pictureHeight = 0;
  std::string pictureError;
  WNDPROC savedProc = nullptr;  // scroll tracking of a memo or rich edit
  WNDPROC maskProc = nullptr;   // a masked edit's key-up
  Page* page = nullptr;

  // What was pushed last.
  std::optional<std::string> text;
  int enabled = -1, visible = -1, checked = -1, readOnly = -1;
  std::int64_t maxLength = -1, position = LLONG_MIN, rangeMin = LLONG_MIN, rangeMax = LLONG_MIN;
  int marquee = -1;
  std::optional<std::vector<std::string>> items;
  std::vector<int> selected;
  std::vector<bool> checks;
  std::string document;
  // A tree view: the filling shown, its items by node and (component trees) their images.
  std::uint64_t treeFill = 0;
  std::vector<HTREEITEM> treeItems;
  std::vector<int> treeImages;

  Control Model() const { return Control(*object, kind); }
};

struct Page {
  DialogHost::Impl* host = nullptr;
  Dialog* dialog = nullptr;
  WindowHandle window;
  std::vector<std::unique_ptr<Native>> controls;
  std::vector<GdiObject> fonts;
  std::map<COLORREF, GdiObject> brushes;
  COLORREF back = 0;
  HBRUSH backBrush = nullptr;
  int dpi = 96, designDpi = 96;
  std::optional<std::string> caption;
  // The pending refresh of an HTML view: the view, the page it showed when the refresh
  // was set, and the page to load.
  HWND metaView = nullptr;
  std::string metaDocument, metaTarget;
  int activeSheet = -1;  // per page control: we support the first page control's sheets
  std::map<int, int> activeSheets;  // page control index -> tab sheet index

  HWND Hwnd() const { return window.Get(); }
  int Scale(std::int64_t v) const { return MulDiv(static_cast<int>(v), dpi, designDpi); }
  Native* ById(int id) {
    int i = id - kFirstControlId;
    return i >= 0 && i < static_cast<int>(controls.size()) ? controls[i].get() : nullptr;
  }
  Native* ByHwnd(HWND h) {
    for (auto& n : controls)
      if (n->hwnd == h) return n.get();
    return nullptr;
  }
  Native* ByName(std::string_view name) {
    for (auto& n : controls)
      if (SameText(n->name, name)) return n.get();
    return nullptr;
  }
  HBRUSH Brush(COLORREF c) {
    auto it = brushes.find(c);
    if (it == brushes.end()) it = brushes.emplace(c, GdiObject(CreateSolidBrush(c))).first;
    return static_cast<HBRUSH>(it->second.Get());
  }
};

// The window class and styles of a control's native window; an empty class makes no
// window (the control is drawn by its parent or by the page).
struct NativeSpec {
  std::wstring cls;
  DWORD style = WS_CHILD;
  DWORD ex = 0;
  int extraHeight = 0;  // below the designed height (a drop-down list)
};

// What a kind of control does on the page. A step left empty is not taken; a kind the
// table does not name is an owner-drawn static the page paints with its frame and text.
struct ControlAdapter {
  // The native window to make for the control (class, styles).
  void (*create)(DialogHost::Impl&, Page&, Native&, NativeSpec&) = nullptr;
  // Set-up once the window exists (columns, image lists, glyphs).
  void (*created)(DialogHost::Impl&, Page&, Native&) = nullptr;
  // Copies the model onto the window (what changed since the last sync).
  void (*sync)(DialogHost::Impl&, Page&, Native&) = nullptr;
  // Paints an owner-drawn control; the background and font are set.
  void (*draw)(DialogHost::Impl&, Page&, Native&, HDC, RECT) = nullptr;
  // WM_COMMAND from the control: copies the input into the model and reports it to the
  // runtime; false when the notification means nothing to the kind.
  bool (*command)(DialogHost::Impl&, Page&, Native&, int code) = nullptr;
  // WM_NOTIFY from the control, as command.
  bool (*notify)(DialogHost::Impl&, Page&, Native&, NMHDR&) = nullptr;
};
const ControlAdapter& AdapterOf(ControlKind kind);

// The tree view's steps (component_tree.cpp): a component tree (Tag 1) or the nodes of
// the form file.
void CreatedComponentTree(DialogHost::Impl& host, Page& p, Native& n);
void SyncComponentTree(DialogHost::Impl& host, Page& p, Native& n);
bool NotifyComponentTree(DialogHost::Impl& host, Page& p, Native& n, NMHDR& h);
void SyncTreeView(DialogHost::Impl& host, Page& p, Native& n);
bool NotifyTreeView(DialogHost::Impl& host, Page& p, Native& n, NMHDR& h);

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK TrackedEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace pages

using pages::Native;
using pages::Page;

struct DialogHost::Impl final : dialogs::DialogPort {
  using Dialog = dialogs::Dialog;
  using FormObject = forms::FormObject;

  EngineContext& ctx;
  FileService& files;
  dialogs::DialogRuntime runtime;
  std::map<std::string, std::unique_ptr<Page>> pages;  // by upper-cased key
  std::map<std::string, std::string> registered;       // silent runs: key -> path
  Page* current = nullptr;      // the page on screen
  Page* pending = nullptr;      // displayed while minimised to the tray: shown by a tray click
  Page* lastUnbound = nullptr;  // the page that stays behind the next one
  std::string currentKey;
  bool syncing = false;
  bool classRegistered = false;
  std::function<void()> closeWhenCovered;  // the start-up windows, once a page covers them
  UiService* ui = nullptr;  // the taskbar's progress and thumbnail button (known once a page shows)
  std::map<int, HIMAGELIST> componentImages;  // by image height
  std::map<std::pair<int, int>, GdiObject> menuImages;  // (index, height)

  Impl(EngineContext& c, FileService& f);
  ~Impl() override;

  void RunCloseWhenCovered() {
    if (!closeWhenCovered) return;
    std::function<void()> close = std::move(closeWhenCovered);
    closeWhenCovered = nullptr;
    close();
  }

  std::uint32_t CodePage() const { return ctx.Data.CodePage; }
  std::wstring W(std::string_view s) const { return Wide(s, CodePage()); }
  std::string A(std::wstring_view s) const { return Narrow(s, CodePage()); }

  // component_tree.cpp: the component tree and its menu
  HIMAGELIST ComponentImages(int h);
  HBITMAP MenuImage(int index, int h);
  static std::optional<std::size_t> NodeOf(Native& n, HTREEITEM item);
  void OpenComponentMenu(Page& p, Native& n, std::size_t node, POINT at);
  void ComponentContextMenu(Page& p, Native& n, LPARAM lp);

  // page_window.cpp: the page's window and its controls, fonts and resolution
  void RegisterClass();
  static HFONT MakeFont(Page& p, const forms::FontSpec& spec);
  static bool OwnFont(const FormObject& o);
  static bool Stored(const FormObject& o, std::string_view name);
  void BuildWindow(Page& p);
  void CreateTree(Page& p, FormObject& object, RECT& area, HFONT parentFont, COLORREF parentBack, int sheet,
                  int pageControl);
  void CreateNative(Page& p, Native& n);
  void LoadPicture(Page& p, Native& n);

  // control_adapters.cpp: model to screen and the user's input back, by control kind
  void Draw(Page& p, Native& n, const DRAWITEMSTRUCT& di);
  bool OnActiveSheet(Page& p, const Native& n);
  void SetItems(Native& n, const std::vector<std::string>& items);
  std::vector<std::string> FolderEntries(const std::string& folder, bool wantFolders, bool wantFiles);
  void Sync(Page& p);
  struct RichSource {
    const std::string* text;
    std::size_t at;
  };
  static DWORD CALLBACK ReadRichText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done);
  static void StreamRichText(HWND h, const std::string& rtf);
  void OnCommand(Page& p, Native& n, int code);
  static const FormObject* ParentOf(const FormObject& root, const FormObject* child);
  void OnScroll(Page& p, Native& n);
  void OnNotify(Page& p, NMHDR& h);

  // page_display.cpp: showing and hiding pages, the modal loop, the tray and the progress
  void Pump();
  void FormShow(Page& p);
  void Reveal(Page& p);
  void BringToScreen(Page& p);
  void RestoreFromTray();
  std::uintptr_t Show(Interpreter& in, const std::string& key, bool modal, std::string& custom);
  void Hide();
  void HideAll();
  void RefreshFromChannel(Page& p);
  void RefreshNow(const std::string& text, std::int64_t position);
  void WriteProgress(const std::string& text, std::int64_t position);
  void RefuseClose(Page&);

  // dialog_host.cpp: loading, binding, messages, scroll tracking and the runtime's prompts
  Page& LoadPage(const std::string& key, const std::string& path);
  Page* PageOf(const std::string& key);
  std::string WindowText(HWND h) const;
  void AfterEvent(Page& p);
  void Hook(Page& p);
  void Unhook(Page& p);
  static bool AtEnd(HWND h);
  void CheckScrollEnd(Page& p);
  bool Confirm(Dialog& d, const std::string& text, const std::string& caption) override;
  std::optional<std::string> BrowseFolder(Dialog& d) override;
  void FocusTabOrder(Dialog& d, std::int64_t tabOrder) override;
  void About(Dialog& d) override;
  void Bind(const std::string& key);
  void Unbind(const std::string& key);
  LRESULT PageMessage(Page& p, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void ArmMetaRefresh(Page& p, HtmlView& view, const html::MetaRefresh& refresh);
  void MetaRefreshDue(Page& p);
  LRESULT TrackedEdit(Native& n, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

};

}  // namespace kem::platform
