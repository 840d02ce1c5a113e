#include "platform/dialogs/dialog_host.h"

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "common/text.h"
#include "dialogs/forms/property_text.h"
#include "dialogs/html/html_links.h"
#include "dialogs/pictures/picture.h"
#include "platform/dialogs/html_view.h"
#include "platform/dialogs/picture_bitmap.h"
#include "platform/dialogs/wide_text.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/text/text.h"
#include "script/interpreter/interpreter.h"
#include "script/worker/progress_channel.h"

namespace kem::platform {

using dialogs::Dialog;
using forms::Control;
using forms::ControlKind;
using forms::FormObject;
using kem::ComponentMenuItem;

namespace {

constexpr wchar_t kHostClass[] = L"TPoolTemplate";
constexpr UINT_PTR kProgressTimer = 1;
// The timed refresh of an HTML view's page (one per page, as the last refresh set it).
constexpr UINT_PTR kMetaTimer = 2;
constexpr UINT kAboutCommand = 1025;
constexpr int kFirstControlId = 1000;

// Libraries the windows need, loaded once from the system (comctl32 through the
// manifest's side-by-side redirection first, so the themed version 6 is used).
struct WindowLibraries {
  HMODULE commonControls = nullptr;
  SystemLibrary richEdit{L"riched20.dll"};
  SystemLibrary shell{L"shell32.dll"};
  SystemLibrary ole{L"ole32.dll"};
  bool oleReady = false;

  WindowLibraries() {
    commonControls = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!commonControls) commonControls = GetModuleHandleW(L"comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (commonControls) {
      if (auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(commonControls, "InitCommonControlsEx")))) {
        INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                  ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                  ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        init(&icc);
      }
      imageListCreate = reinterpret_cast<decltype(imageListCreate)>(
          reinterpret_cast<void*>(GetProcAddress(commonControls, "ImageList_Create")));
      imageListAddMasked = reinterpret_cast<decltype(imageListAddMasked)>(
          reinterpret_cast<void*>(GetProcAddress(commonControls, "ImageList_AddMasked")));
      imageListDestroy = reinterpret_cast<decltype(imageListDestroy)>(
          reinterpret_cast<void*>(GetProcAddress(commonControls, "ImageList_Destroy")));
    }
  }
  HIMAGELIST(WINAPI* imageListCreate)(int, int, UINT, int, int) = nullptr;
  int(WINAPI* imageListAddMasked)(HIMAGELIST, HBITMAP, COLORREF) = nullptr;
  BOOL(WINAPI* imageListDestroy)(HIMAGELIST) = nullptr;
};

WindowLibraries& Libraries() {
  static WindowLibraries libraries;
  return libraries;
}

// The component images, one per index, in a cell twice as wide as high: 0 a component
// left out, 1 one that is installed, 2 and 3 the menu's "unavailable" entries (3 with its
// sub-components), 4 and 5 its "installed" entries (5 with its sub-components). The left
// half of 0 and 1 is a check box, so the tree shows the choice at a glance.
void DrawComponentImage(HDC dc, int x, int y, int h, int index) {
  // Designed on a 32 by 16 grid and scaled to the cell's height.
  auto at = [&](int v) { return MulDiv(v, h, 16); };
  const int u = std::max(1, at(1));  // one design pixel, for the pens
  auto box = [&](int l, int t, int r, int b, COLORREF fill, COLORREF line) {
    GdiObject brush(CreateSolidBrush(fill));
    GdiObject pen(CreatePen(PS_SOLID, u, line));
    HGDIOBJ oldBrush = SelectObject(dc, brush.Get());
    HGDIOBJ oldPen = SelectObject(dc, pen.Get());
    Rectangle(dc, x + at(l), y + at(t), x + at(r), y + at(b));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
  };
  auto lines = [&](std::initializer_list<POINT> points, COLORREF color, int width) {
    GdiObject pen(CreatePen(PS_SOLID, width * u, color));
    HGDIOBJ old = SelectObject(dc, pen.Get());
    std::vector<POINT> p;
    for (POINT q : points) p.push_back({x + at(q.x), y + at(q.y)});
    Polyline(dc, p.data(), static_cast<int>(p.size()));
    SelectObject(dc, old);
  };
  auto drive = [&](int left, bool stacked) {
    if (stacked) box(left + 4, 2, left + 16, 10, RGB(200, 200, 200), RGB(96, 96, 96));
    box(left + 1, 5, left + 13, 13, RGB(224, 224, 224), RGB(64, 64, 64));
    box(left + 9, 10, left + 11, 12, RGB(0, 176, 0), RGB(0, 128, 0));
  };
  auto cross = [&](int left) {
    lines({{left + 3, 4}, {left + 12, 13}}, RGB(208, 0, 0), 2);
    lines({{left + 12, 4}, {left + 3, 13}}, RGB(208, 0, 0), 2);
  };
  switch (index) {
    case 0:
    case 1:
      box(2, 3, 13, 14, RGB(255, 255, 255), RGB(64, 64, 64));
      if (index == 1) lines({{4, 8}, {7, 11}, {12, 5}}, RGB(0, 0, 0), 2);
      drive(16, false);
      if (index == 0) cross(16);
      break;
    case 2:
    case 3:
      drive(16, index == 3);
      cross(16);
      break;
    case 4:
    case 5: drive(16, index == 5); break;
    default: break;
  }
}

COLORREF ColorOf(std::string_view text, COLORREF fallback) {
  std::optional<std::int64_t> n = forms::ColorNumber(text);
  if (!n) return fallback;
  if ((*n & 0xFF000000) == 0x80000000 || (*n & 0xFF000000) == 0xFF000000) return GetSysColor(static_cast<int>(*n & 0xFF));
  return static_cast<COLORREF>(*n & 0xFFFFFF);
}

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
  int pictureWidth = 0, pictureHeight = 0;
  std::string pictureError;
  WNDPROC savedProc = nullptr;
  struct Page* page = nullptr;

  // What was pushed last.
  std::optional<std::string> text;
  int enabled = -1, visible = -1, checked = -1, readOnly = -1;
  std::int64_t maxLength = -1, position = LLONG_MIN, rangeMin = LLONG_MIN, rangeMax = LLONG_MIN;
  int marquee = -1;
  std::optional<std::vector<std::string>> items;
  std::vector<int> selected;
  std::vector<bool> checks;
  std::string document;
  // A component tree: the filling shown and its items by node.
  std::uint64_t treeFill = 0;
  std::vector<HTREEITEM> treeItems;
  std::vector<int> treeImages;

  Control Model() const { return Control(*object, kind); }
};

struct Page {
  struct DialogHost::Impl* host = nullptr;
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

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK TrackedEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace

struct DialogHost::Impl final : dialogs::DialogPort {
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

  void RunCloseWhenCovered() {
    if (!closeWhenCovered) return;
    std::function<void()> close = std::move(closeWhenCovered);
    closeWhenCovered = nullptr;
    close();
  }

  Impl(EngineContext& c, FileService& f) : ctx(c), files(f), runtime(c, f) {
    runtime.FreeBytes = [this](const std::string& root) -> std::int64_t {
      ULARGE_INTEGER free{};
      if (!GetDiskFreeSpaceExW(W(root).c_str(), &free, nullptr, nullptr)) return -1;
      return static_cast<std::int64_t>(std::min<unsigned long long>(free.QuadPart, LLONG_MAX));
    };
  }
  ~Impl() {
    pages.clear();  // the windows go before the images they show
    for (auto& [height, list] : componentImages)
      if (Libraries().imageListDestroy) Libraries().imageListDestroy(list);
  }

  // --- Component images and the component menu -------------------------------------

  std::map<int, HIMAGELIST> componentImages;  // by image height
  std::map<std::pair<int, int>, GdiObject> menuImages;  // (index, height)

  HIMAGELIST ComponentImages(int h) {
    auto it = componentImages.find(h);
    if (it != componentImages.end()) return it->second;
    WindowLibraries& lib = Libraries();
    HIMAGELIST list = nullptr;
    if (lib.imageListCreate && lib.imageListAddMasked) {
      const int w = 2 * h;
      list = lib.imageListCreate(w, h, ILC_COLOR24 | ILC_MASK, 6, 0);
      HDC screen = GetDC(nullptr);
      HDC mem = CreateCompatibleDC(screen);
      GdiObject strip(CreateCompatibleBitmap(screen, w * 6, h));
      HGDIOBJ old = SelectObject(mem, strip.Get());
      RECT all{0, 0, w * 6, h};
      GdiObject magenta(CreateSolidBrush(RGB(255, 0, 255)));
      FillRect(mem, &all, static_cast<HBRUSH>(magenta.Get()));
      for (int i = 0; i < 6; ++i) DrawComponentImage(mem, i * w, 0, h, i);
      SelectObject(mem, old);
      if (list) lib.imageListAddMasked(list, static_cast<HBITMAP>(strip.Get()), RGB(255, 0, 255));
      DeleteDC(mem);
      ReleaseDC(nullptr, screen);
    }
    componentImages[h] = list;
    return list;
  }

  // The drive half of a component image on the menu's colour, for a menu item.
  HBITMAP MenuImage(int index, int h) {
    GdiObject& slot = menuImages[{index, h}];
    if (slot.Get()) return static_cast<HBITMAP>(slot.Get());
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    slot = GdiObject(CreateCompatibleBitmap(screen, h, h));
    HGDIOBJ old = SelectObject(mem, slot.Get());
    RECT all{0, 0, h, h};
    FillRect(mem, &all, GetSysColorBrush(COLOR_MENU));
    DrawComponentImage(mem, -h, 0, h, index);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return static_cast<HBITMAP>(slot.Get());
  }

  // The node of a component tree's item (nullopt for none).
  static std::optional<std::size_t> NodeOf(Native& n, HTREEITEM item) {
    if (!item) return std::nullopt;
    TVITEMW it{};
    it.mask = TVIF_PARAM | TVIF_HANDLE;
    it.hItem = item;
    if (!SendMessageW(n.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return std::nullopt;
    return static_cast<std::size_t>(it.lParam);
  }

  // The component menu for a node at a screen position; the user's choice is carried out.
  void OpenComponentMenu(Page& p, Native& n, std::size_t node, POINT at) {
    Dialog& d = *p.dialog;
    if (!runtime.ComponentMenuOpens(d, n.name, node)) return;
    struct Entry {
      ComponentMenuItem item;
      int message;
    };
    // The two "do not install" entries stay hidden: "unavailable" covers them.
    const Entry entries[] = {{ComponentMenuItem::InstallComponentOnly, 113},
                             {ComponentMenuItem::InstallComponentWithSubComponents, 114},
                             {ComponentMenuItem::EntireFeatureUnavailable, 115}};
    struct Menu {
      HMENU h = CreatePopupMenu();
      ~Menu() {
        if (h) DestroyMenu(h);
      }
      HMENU Get() const { return h; }
    } menu;
    if (!menu.Get()) return;
    const int h = p.Scale(16);
    UINT id = 1;
    for (const Entry& e : entries) {
      if (e.item == ComponentMenuItem::EntireFeatureUnavailable) AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
      std::wstring caption = W(ctx.Message(e.message));
      MENUITEMINFOW info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
      info.wID = id++;
      info.dwTypeData = caption.data();
      info.hbmpItem = MenuImage(ComponentMenuImage(e.item), h);
      InsertMenuItemW(menu.Get(), GetMenuItemCount(menu.Get()), TRUE, &info);
    }
    SetForegroundWindow(p.Hwnd());
    const UINT chosen = TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                                       at.x, at.y, 0, p.Hwnd(), nullptr);
    PostMessageW(p.Hwnd(), WM_NULL, 0, 0);
    if (chosen >= 1 && chosen <= std::size(entries)) runtime.ComponentMenu(d, n.name, node, entries[chosen - 1].item);
    InvalidateRect(n.hwnd, nullptr, TRUE);
    AfterEvent(p);
  }

  // The context menu of a component tree: at the mouse for a click (the node under it
  // becomes the selected one), at the selected node's lower-right corner for the keys.
  void ComponentContextMenu(Page& p, Native& n, LPARAM lp) {
    HTREEITEM item = nullptr;
    POINT at{};
    if (lp == -1) {
      item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
      RECT r{};
      std::memcpy(&r, &item, sizeof(item));  // the item goes in where the rectangle comes back
      if (!item || !SendMessageW(n.hwnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) return;
      at = {r.right, r.bottom};
      ClientToScreen(n.hwnd, &at);
    } else {
      at = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      TVHITTESTINFO hit{};
      hit.pt = at;
      ScreenToClient(n.hwnd, &hit.pt);
      item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
      if (!item || !(hit.flags & TVHT_ONITEM)) return;
      SendMessageW(n.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    if (std::optional<std::size_t> node = NodeOf(n, item)) OpenComponentMenu(p, n, *node, at);
  }

  std::uint32_t CodePage() const { return ctx.Data.CodePage; }
  std::wstring W(std::string_view s) const { return Wide(s, CodePage()); }
  std::string A(std::wstring_view s) const { return Narrow(s, CodePage()); }

  std::string WindowText(HWND h) const {
    int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    n = GetWindowTextW(h, w.data(), n + 1);
    w.resize(std::max(n, 0));
    return A(w);
  }

  // --- Creation ---------------------------------------------------------------------

  void RegisterClass() {
    if (classRegistered) return;
    Libraries();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
    HtmlView::Register(GetModuleHandleW(nullptr));
    classRegistered = true;
  }

  Page& LoadPage(const std::string& key, const std::string& path) {
    RegisterClass();
    Dialog& d = runtime.Load(key, path);
    auto page = std::make_unique<Page>();
    page->host = this;
    page->dialog = &d;
    Page& p = *page;
    pages[UpperCase(key)] = std::move(page);
    return p;
  }

  // The page of the key with its window; the window is made when the page is first
  // needed, so that the start-up reads every dialog file but draws only what is shown.
  Page* PageOf(const std::string& key) {
    auto it = pages.find(UpperCase(key));
    if (it != pages.end()) {
      if (!it->second->Hwnd()) BuildWindow(*it->second);
      return it->second.get();
    }
    auto reg = registered.find(UpperCase(key));
    if (reg == registered.end()) return nullptr;
    std::string path = reg->second;
    registered.erase(reg);
    Page& p = LoadPage(key, path);
    BuildWindow(p);
    return &p;
  }

  static HFONT MakeFont(Page& p, const forms::FontSpec& spec) {
    std::string name = spec.name.empty() ? "MS Sans Serif" : spec.name;
    // The bitmap face of the old designs does not scale; its outline twin does.
    if (SameText(name, "MS Sans Serif")) name = "MS Shell Dlg";
    auto has = [&](const char* s) { return std::find(spec.style.begin(), spec.style.end(), s) != spec.style.end(); };
    int charset = DEFAULT_CHARSET;
    if (auto n = forms::ParseIntegerText(spec.charset)) charset = static_cast<int>(*n);
    std::u16string face = AnsiToUtf16(name);
    LOGFONTW lf{};
    lf.lfHeight = p.Scale(spec.height);
    lf.lfWeight = has("fsBold") ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = has("fsItalic");
    lf.lfUnderline = has("fsUnderline");
    lf.lfStrikeOut = has("fsStrikeOut");
    lf.lfCharSet = static_cast<BYTE>(charset);
    lf.lfQuality = CLEARTYPE_QUALITY;
    std::copy_n(face.begin(), std::min<std::size_t>(face.size(), LF_FACESIZE - 1), lf.lfFaceName);
    HFONT f = CreateFontIndirectW(&lf);
    p.fonts.emplace_back(f);
    return f;
  }

  static bool OwnFont(const FormObject& o) {
    for (const forms::Property& prop : o.properties) {
      if (StartsWith(LowerCase(prop.name), "font.")) return true;
      if (SameText(prop.name, "ParentFont") && prop.value.kind == forms::ValueKind::False) return true;
    }
    return false;
  }

  static bool Stored(const FormObject& o, std::string_view name) {
    for (const forms::Property& prop : o.properties)
      if (SameText(prop.name, name)) return true;
    return false;
  }

  void BuildWindow(Page& p) {
    Dialog& d = *p.dialog;
    Control form = d.model.Form();
    HDC screen = GetDC(nullptr);
    p.dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    p.designDpi = form.Boolean("Scaled", true) ? static_cast<int>(form.Integer("PixelsPerInch", 96)) : p.dpi;
    if (p.designDpi <= 0) p.designDpi = 96;
    p.back = ColorOf(form.GetText("Color").value_or("clBtnFace"), GetSysColor(COLOR_BTNFACE));
    p.backBrush = p.Brush(p.back);

    const std::string border = form.Identifier("BorderStyle", "bsSizeable");
    // No WS_CLIPCHILDREN: a group box is transparent, so the page paints its inside.
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    if (border == "bsDialog") exStyle |= WS_EX_DLGMODALFRAME;
    else if (border == "bsSingle" || border == "bsToolWindow") style |= WS_BORDER;
    else if (border == "bsSizeable" || border == "bsSizeToolWin") style |= WS_THICKFRAME;
    const std::vector<std::string> icons = form.SetElements("BorderIcons");
    if (Stored(form.Object(), "BorderIcons")
            ? std::find(icons.begin(), icons.end(), "biMinimize") != icons.end()
            : border != "bsDialog")
      style |= WS_MINIMIZEBOX;

    int cw = static_cast<int>(form.Integer("ClientWidth", 0));
    int ch = static_cast<int>(form.Integer("ClientHeight", 0));
    if (cw <= 0) cw = std::max<int>(static_cast<int>(form.Integer("Width", 0)) - 8, 462);
    if (ch <= 0) ch = std::max<int>(static_cast<int>(form.Integer("Height", 0)) - 27, 181);
    RECT r{0, 0, p.Scale(cw), p.Scale(ch)};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    HWND hwnd = CreateWindowExW(exStyle, kHostClass, W(form.Caption()).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), &p);
    if (!hwnd) throw std::runtime_error("Cannot create the window of " + d.fileName);
    p.window.Reset(hwnd);
    HFONT formFont = MakeFont(p, form.Font());
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(formFont), FALSE);

    RECT client{0, 0, p.Scale(cw), p.Scale(ch)};
    for (FormObject& child : form.Object().children) CreateTree(p, child, client, formFont, p.back, -1, -1);
    // Later components lie above earlier ones, as designed.
    for (auto& n : p.controls)
      if (n->hwnd) SetWindowPos(n->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // Up-downs take their buddies once every control exists.
    for (auto& n : p.controls) {
      if (n->kind != ControlKind::UpDown || !n->hwnd) continue;
      if (Native* buddy = p.ByName(n->Model().GetText("Associate").value_or(""))) {
        if (buddy->hwnd) SendMessageW(n->hwnd, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy->hwnd), 0);
      }
    }
    SetTimer(hwnd, kProgressTimer, 1000, nullptr);
  }

  // Creates the object's control and its children's. area is the parent's client area in
  // page coordinates; align consumes it as designed.
  void CreateTree(Page& p, FormObject& object, RECT& area, HFONT parentFont, COLORREF parentBack, int sheet,
                  int pageControl) {
    auto n = std::make_unique<Native>();
    n->page = &p;
    n->object = &object;
    n->name = object.name;
    n->className = object.className;
    n->kind = forms::KindOfClass(object.className);
    n->sheet = sheet;
    n->id = kFirstControlId + static_cast<int>(p.controls.size());
    Control c = n->Model();

    int left = p.Scale(c.Integer("Left", 0)), top = p.Scale(c.Integer("Top", 0));
    int width = p.Scale(c.Integer("Width", 0)), height = p.Scale(c.Integer("Height", 0));
    RECT rect{area.left + left, area.top + top, area.left + left + width, area.top + top + height};
    const std::string align = c.Identifier("Align", "alNone");
    if (align == "alTop") rect = {area.left, area.top, area.right, area.top + height}, area.top += height;
    else if (align == "alBottom") rect = {area.left, area.bottom - height, area.right, area.bottom}, area.bottom -= height;
    else if (align == "alLeft") rect = {area.left, area.top, area.left + width, area.bottom}, area.left += width;
    else if (align == "alRight") rect = {area.right - width, area.top, area.right, area.bottom}, area.right -= width;
    else if (align == "alClient") rect = area;
    if (n->kind == ControlKind::TabSheet && pageControl >= 0) {
      // A sheet fills its page control's display area.
      Native& pc = *p.controls[pageControl];
      rect = pc.rect;
      if (pc.hwnd) {
        RECT display{0, 0, pc.rect.right - pc.rect.left, pc.rect.bottom - pc.rect.top};
        SendMessageW(pc.hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
        OffsetRect(&display, pc.rect.left, pc.rect.top);
        rect = display;
      }
      n->pageControl = pageControl;
    }
    n->rect = rect;

    n->font = OwnFont(object) ? MakeFont(p, c.Font()) : parentFont;
    n->fore = ColorOf(c.GetText("Font.Color").value_or("clWindowText"), GetSysColor(COLOR_WINDOWTEXT));
    const bool windowColored = n->kind == ControlKind::Edit || n->kind == ControlKind::MaskEdit ||
                               n->kind == ControlKind::Memo || n->kind == ControlKind::RichEdit ||
                               n->kind == ControlKind::ListBox || n->kind == ControlKind::CheckListBox ||
                               n->kind == ControlKind::ComboBox || n->kind == ControlKind::HTMLViewer;
    const bool ownColor = Stored(object, "Color") && !c.Boolean("ParentColor") &&
                          !(Stored(object, "Transparent") && c.Boolean("Transparent"));
    if (windowColored || ownColor)
      n->back = ColorOf(c.GetText("Color").value_or(windowColored ? "clWindow" : "clBtnFace"), GetSysColor(COLOR_WINDOW));
    else
      n->back = parentBack;
    n->brush = p.Brush(n->back);

    CreateNative(p, *n);
    Native& self = *n;
    const int index = static_cast<int>(p.controls.size());
    p.controls.push_back(std::move(n));

    int childSheet = sheet;
    int childPageControl = -1;
    if (self.kind == ControlKind::TabSheet) {
      childSheet = index;
      if (pageControl >= 0 && self.pageControl >= 0) {
        Native& pc = *p.controls[pageControl];
        if (pc.hwnd) {
          std::wstring caption = W(c.Caption());
          TCITEMW item{};
          item.mask = TCIF_TEXT;
          item.pszText = caption.data();
          int tabs = static_cast<int>(SendMessageW(pc.hwnd, TCM_GETITEMCOUNT, 0, 0));
          SendMessageW(pc.hwnd, TCM_INSERTITEMW, tabs, reinterpret_cast<LPARAM>(&item));
          if (!p.activeSheets.count(pageControl)) p.activeSheets[pageControl] = index;
          const std::string active = p.controls[pageControl]->Model().GetText("ActivePage").value_or("");
          if (SameText(active, self.name)) {
            p.activeSheets[pageControl] = index;
            SendMessageW(pc.hwnd, TCM_SETCURSEL, tabs, 0);
          }
        }
      }
    }
    if (self.kind == ControlKind::PageControl) childPageControl = index;
    RECT inner = self.rect;
    if (self.kind == ControlKind::Panel) {
      int bw = static_cast<int>(c.Integer("BorderWidth", 0));
      InflateRect(&inner, -p.Scale(bw), -p.Scale(bw));
    }
    for (FormObject& child : object.children)
      CreateTree(p, child, inner, self.font, self.back, childSheet, childPageControl);
  }

  void CreateNative(Page& p, Native& n) {
    Control c = n.Model();
    const std::string caption = c.Caption();
    std::wstring cls;
    DWORD style = WS_CHILD, ex = 0;
    const std::string alignment = c.Identifier("Alignment", "taLeftJustify");
    auto textAlign = [&](DWORD left, DWORD center, DWORD right) {
      return alignment == "taCenter" ? center : alignment == "taRightJustify" ? right : left;
    };
    switch (n.kind) {
      case ControlKind::Label: {
        cls = L"STATIC";
        style |= SS_NOTIFY | (c.Boolean("WordWrap") ? textAlign(SS_LEFT, SS_CENTER, SS_RIGHT)
                                                    : textAlign(SS_LEFTNOWORDWRAP, SS_CENTER, SS_RIGHT));
        if (!c.Boolean("ShowAccelChar", true)) style |= SS_NOPREFIX;
        if (n.rect.right <= n.rect.left || n.rect.bottom <= n.rect.top || c.Boolean("AutoSize", true)) {
          // Sized to its text, as designed labels are.
          HDC dc = GetDC(p.Hwnd());
          HGDIOBJ old = SelectObject(dc, n.font);
          std::wstring t = W(caption);
          RECT m{0, 0, c.Boolean("WordWrap") ? std::max<LONG>(n.rect.right - n.rect.left, 1) : 0, 0};
          DrawTextW(dc, t.c_str(), -1, &m, DT_CALCRECT | (c.Boolean("WordWrap") ? DT_WORDBREAK : DT_SINGLELINE));
          SelectObject(dc, old);
          ReleaseDC(p.Hwnd(), dc);
          if (!c.Boolean("WordWrap") || n.rect.right <= n.rect.left) n.rect.right = n.rect.left + m.right + 2;
          n.rect.bottom = std::max<LONG>(n.rect.bottom, n.rect.top + m.bottom);
        }
        break;
      }
      case ControlKind::StaticText: {
        cls = L"STATIC";
        style |= textAlign(SS_LEFT, SS_CENTER, SS_RIGHT);
        const std::string b = c.Identifier("BorderStyle", "sbsNone");
        if (b == "sbsSingle") style |= WS_BORDER;
        if (b == "sbsSunken") style |= SS_SUNKEN;
        break;
      }
      case ControlKind::Edit:
      case ControlKind::MaskEdit: {
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        ex |= WS_EX_CLIENTEDGE;
        std::string pc = c.GetText("PasswordChar").value_or("#0");
        if (pc != "#0" && !pc.empty()) style |= ES_PASSWORD;
        const std::string cc = c.Identifier("CharCase", "ecNormal");
        if (cc == "ecUpperCase") style |= ES_UPPERCASE;
        if (cc == "ecLowerCase") style |= ES_LOWERCASE;
        break;
      }
      case ControlKind::HTMLViewer:
        cls = kHtmlViewClass;
        style |= WS_TABSTOP | WS_VSCROLL;
        ex |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Memo:
      case ControlKind::RichEdit: {
        cls = n.kind == ControlKind::RichEdit && Libraries().richEdit ? L"RichEdit20W" : L"EDIT";
        style |= WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
        ex |= WS_EX_CLIENTEDGE;
        const std::string sb = n.kind == ControlKind::Memo ? c.Identifier("ScrollBars", "ssNone") : "ssVertical";
        if (sb == "ssVertical" || sb == "ssBoth") style |= WS_VSCROLL;
        if (sb == "ssHorizontal" || sb == "ssBoth") style |= WS_HSCROLL;
        if (n.kind == ControlKind::Memo && !c.Boolean("WordWrap", true)) style |= ES_AUTOHSCROLL;
        break;
      }
      case ControlKind::Button:
      case ControlKind::BitBtn:
      case ControlKind::RzBmpButton:
      case ControlKind::SpeedButton:
        cls = L"BUTTON";
        style |= (c.Boolean("Default") ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        if (n.kind != ControlKind::SpeedButton) style |= WS_TABSTOP;
        if (c.Boolean("WordWrap")) style |= BS_MULTILINE;
        break;
      case ControlKind::RzCheckBox:
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP | (c.Boolean("WordWrap") ? BS_MULTILINE : 0);
        if (alignment == "taLeftJustify") style |= BS_LEFTTEXT;
        break;
      case ControlKind::RzRadioButton:
        cls = L"BUTTON";
        style |= BS_RADIOBUTTON | WS_TABSTOP | (c.Boolean("WordWrap") ? BS_MULTILINE : 0);
        if (alignment == "taLeftJustify") style |= BS_LEFTTEXT;
        break;
      case ControlKind::GroupBox:
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
      case ControlKind::ListBox:
      case ControlKind::FileListBox:
      case ControlKind::DirectoryListBox:
      case ControlKind::PTShellList:
        cls = L"LISTBOX";
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
        ex |= WS_EX_CLIENTEDGE;
        if (n.kind == ControlKind::ListBox && c.Boolean("MultiSelect"))
          style |= c.Boolean("ExtendedSelect", true) ? LBS_EXTENDEDSEL : LBS_MULTIPLESEL;
        break;
      case ControlKind::CheckListBox:
        cls = WC_LISTVIEWW;
        style |= WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
        ex |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::ComboBox:
      case ControlKind::DriveComboBox:
      case ControlKind::FilterComboBox:
      case ControlKind::PTShellCombo: {
        cls = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL;
        const std::string s = n.kind == ControlKind::ComboBox ? c.Identifier("Style", "csDropDown") : "csDropDownList";
        style |= s == "csSimple" ? CBS_SIMPLE : s == "csDropDown" ? CBS_DROPDOWN : CBS_DROPDOWNLIST;
        break;
      }
      case ControlKind::ProgressBar:
      case ControlKind::Gauge:
        cls = PROGRESS_CLASSW;
        if (n.kind == ControlKind::ProgressBar) {
          if (c.Boolean("Smooth")) style |= PBS_SMOOTH;
          if (c.Identifier("Orientation") == "pbVertical") style |= PBS_VERTICAL;
          if (c.Identifier("Style") == "pbstMarquee") style |= PBS_MARQUEE;
        } else if (c.Identifier("Kind", "gkHorizontalBar") == "gkVerticalBar") {
          style |= PBS_VERTICAL;
        }
        break;
      case ControlKind::TrackBar:
        cls = TRACKBAR_CLASSW;
        style |= WS_TABSTOP | TBS_AUTOTICKS | (c.Identifier("Orientation") == "trVertical" ? TBS_VERT : TBS_HORZ);
        break;
      case ControlKind::UpDown:
        cls = UPDOWN_CLASSW;
        style |= UDS_SETBUDDYINT | UDS_ARROWKEYS | (c.Identifier("AlignButton", "udRight") == "udLeft" ? UDS_ALIGNLEFT : UDS_ALIGNRIGHT);
        if (c.Identifier("Orientation", "udVertical") == "udHorizontal") style |= UDS_HORZ;
        break;
      case ControlKind::PageControl:
        cls = WC_TABCONTROLW;
        style |= WS_TABSTOP | WS_CLIPSIBLINGS;
        break;
      case ControlKind::TreeView:
      case ControlKind::PTShellTree:
        cls = WC_TREEVIEWW;
        style |= WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
        ex |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::TabSheet:
      case ControlKind::VistaGlass:
        return;  // a sheet is drawn by its page control; the glass frame has no window
      default:
        // Panels, bevels, shapes, images and every kind without a native twin are drawn
        // by the page: at least a frame and their text.
        cls = L"STATIC";
        style |= SS_OWNERDRAW | SS_NOTIFY;
        if (n.kind == ControlKind::Image || n.kind == ControlKind::RzFormShape) LoadPicture(p, n);
        break;
    }
    int w = n.rect.right - n.rect.left, h = n.rect.bottom - n.rect.top;
    // A drop-down combo box's window includes its list.
    if (cls == L"COMBOBOX" && (style & 3) != CBS_SIMPLE) {
      h += p.Scale(16) * static_cast<int>(std::max<std::int64_t>(c.Integer("DropDownCount", 8), 1));
    }
    n.hwnd = CreateWindowExW(ex, cls.c_str(), L"", style, n.rect.left, n.rect.top, w, h, p.Hwnd(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(n.id)), GetModuleHandleW(nullptr), nullptr);
    if (!n.hwnd) return;
    SendMessageW(n.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(n.font), FALSE);
    if (n.kind == ControlKind::CheckListBox) {
      SendMessageW(n.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
      LVCOLUMNW col{};
      col.mask = LVCF_WIDTH;
      col.cx = w - GetSystemMetrics(SM_CXVSCROLL) - 4;
      SendMessageW(n.hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    }
    if (n.kind == ControlKind::TreeView && c.Tag() == 1) {
      if (HIMAGELIST images = ComponentImages(p.Scale(16)))
        SendMessageW(n.hwnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    }
    if (n.kind == ControlKind::RichEdit) {
      SendMessageW(n.hwnd, EM_SETBKGNDCOLOR, 0, n.back);
    }
    if (HtmlView* view = HtmlView::From(n.hwnd)) {
      HtmlView::Options o;
      o.codePage = CodePage();
      o.baseFolder = runtime.SupportFolder();
      o.back = n.back;
      o.fore = n.fore;
      Page* page = &p;
      o.refresh = [this, page](HtmlView& v, const html::MetaRefresh& r) { ArmMetaRefresh(*page, v, r); };
      view->Configure(std::move(o));
    }
    if (n.kind == ControlKind::ProgressBar && (style & PBS_MARQUEE)) SendMessageW(n.hwnd, PBM_SETMARQUEE, TRUE, 30);
    if (n.kind == ControlKind::BitBtn || n.kind == ControlKind::SpeedButton) {
      LoadPicture(p, n);
      if (n.picture.Get()) SendMessageW(n.hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(n.picture.Get()));
    }
  }

  // Decodes the control's picture and composites it over its background.
  void LoadPicture(Page& p, Native& n) {
    Control c = n.Model();
    const bool glyph = n.kind == ControlKind::BitBtn || n.kind == ControlKind::SpeedButton;
    std::optional<std::string> data = c.Graphic(glyph ? "Glyph" : "Picture");
    if (!data || data->empty()) return;
    try {
      pictures::Image image = pictures::DecodeFormGraphic(*data);
      if (glyph) {
        // A glyph may hold several images side by side; the first is the normal state.
        std::int64_t count = std::max<std::int64_t>(c.Integer("NumGlyphs", 1), 1);
        if (count > 1 && image.width >= count) {
          pictures::Image first = pictures::AllocateImage(image.width / count, image.height);
          for (std::uint32_t y = 0; y < first.height; ++y)
            std::copy_n(image.Pixel(0, y), first.width * 4, first.Pixel(0, y));
          image = std::move(first);
        }
        if (pictures::GraphicClassName(*data) != "TPngImage") pictures::MakeBottomLeftColorTransparent(image);
      } else if (c.Boolean("Transparent") && pictures::DetectPictureFormat(pictures::GraphicPayload(*data)) ==
                                                  pictures::PictureFormat::Bmp) {
        pictures::MakeBottomLeftColorTransparent(image);
      }
      const COLORREF back = glyph ? GetSysColor(COLOR_BTNFACE) : n.back;
      GdiObject bmp = PictureOverBackground(image, back);
      if (!bmp.Get()) return;
      n.picture = std::move(bmp);
      n.pictureWidth = static_cast<int>(image.width);
      n.pictureHeight = static_cast<int>(image.height);
    } catch (const pictures::PictureError& e) {
      n.pictureError = e.what();
    }
    (void)p;
  }

  // --- Drawing of the page's own controls -------------------------------------------

  void Draw(Page& p, Native& n, const DRAWITEMSTRUCT& di) {
    HDC dc = di.hDC;
    RECT r = di.rcItem;
    Control c = n.Model();
    FillRect(dc, &r, n.brush);
    HGDIOBJ oldFont = SelectObject(dc, n.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, c.Boolean("Enabled", true) ? n.fore : GetSysColor(COLOR_GRAYTEXT));
    auto text = [&](const std::string& s, UINT flags, RECT box) {
      std::wstring w = W(s);
      DrawTextW(dc, w.c_str(), -1, &box, flags);
    };
    switch (n.kind) {
      case ControlKind::Panel: {
        auto edge = [&](const std::string& cut, RECT& box) {
          if (cut == "bvRaised") DrawEdge(dc, &box, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
          else if (cut == "bvLowered") DrawEdge(dc, &box, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
        };
        RECT box = r;
        if (c.Identifier("BorderStyle", "bsNone") == "bsSingle") {
          FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
          InflateRect(&box, -1, -1);
        }
        edge(c.Identifier("BevelOuter", "bvRaised"), box);
        edge(c.Identifier("BevelInner", "bvNone"), box);
        const std::string align = c.Identifier("Alignment", "taCenter");
        text(c.Caption(), DT_SINGLELINE | DT_VCENTER |
                              (align == "taCenter" ? DT_CENTER : align == "taRightJustify" ? DT_RIGHT : DT_LEFT),
             box);
        break;
      }
      case ControlKind::Bevel: {
        const std::string shape = c.Identifier("Shape", "bsBox");
        const UINT edge = c.Identifier("Style", "bsLowered") == "bsLowered" ? EDGE_ETCHED : EDGE_BUMP;
        UINT flags = shape == "bsTopLine" ? BF_TOP : shape == "bsBottomLine" ? BF_BOTTOM : shape == "bsLeftLine" ? BF_LEFT
                     : shape == "bsRightLine" ? BF_RIGHT : shape == "bsSpacer" ? 0 : BF_RECT;
        if (shape == "bsBottomLine") r.top = r.bottom - 2;
        if (shape == "bsRightLine") r.left = r.right - 2;
        if (flags) DrawEdge(dc, &r, edge, flags);
        break;
      }
      case ControlKind::Shape: {
        GdiObject pen(CreatePen(PS_SOLID, std::max(1, p.Scale(c.Integer("Pen.Width", 1))),
                                ColorOf(c.GetText("Pen.Color").value_or("clBlack"), 0)));
        GdiObject brush(CreateSolidBrush(ColorOf(c.GetText("Brush.Color").value_or("clWhite"), 0xFFFFFF)));
        HGDIOBJ op = SelectObject(dc, pen.Get());
        HGDIOBJ ob = SelectObject(dc, c.Identifier("Brush.Style") == "bsClear" ? GetStockObject(NULL_BRUSH) : brush.Get());
        const std::string s = c.Identifier("Shape", "stRectangle");
        RECT box = r;
        if (s == "stSquare" || s == "stRoundSquare" || s == "stCircle") {
          int side = std::min(box.right - box.left, box.bottom - box.top);
          box.left += (box.right - box.left - side) / 2;
          box.top += (box.bottom - box.top - side) / 2;
          box.right = box.left + side;
          box.bottom = box.top + side;
        }
        if (s == "stEllipse" || s == "stCircle") Ellipse(dc, box.left, box.top, box.right, box.bottom);
        else if (s == "stRoundRect" || s == "stRoundSquare")
          RoundRect(dc, box.left, box.top, box.right, box.bottom, (box.right - box.left) / 4, (box.bottom - box.top) / 4);
        else Rectangle(dc, box.left, box.top, box.right, box.bottom);
        SelectObject(dc, op);
        SelectObject(dc, ob);
        break;
      }
      case ControlKind::Image:
      case ControlKind::RzFormShape:
        if (n.picture.Get()) {
          HDC mem = CreateCompatibleDC(dc);
          HGDIOBJ old = SelectObject(mem, n.picture.Get());
          int w = r.right - r.left, h = r.bottom - r.top, pw = n.pictureWidth, ph = n.pictureHeight;
          int dw = pw, dh = ph;
          if (c.Boolean("Stretch")) {
            dw = w;
            dh = h;
            if (c.Boolean("Proportional")) {
              double k = std::min(double(w) / pw, double(h) / ph);
              dw = int(pw * k);
              dh = int(ph * k);
            }
          } else if (p.dpi != p.designDpi) {
            dw = p.Scale(pw);
            dh = p.Scale(ph);
          }
          int x = c.Boolean("Center") ? (w - dw) / 2 : 0, y = c.Boolean("Center") ? (h - dh) / 2 : 0;
          SetStretchBltMode(dc, HALFTONE);
          StretchBlt(dc, r.left + x, r.top + y, dw, dh, mem, 0, 0, pw, ph, SRCCOPY);
          SelectObject(mem, old);
          DeleteDC(mem);
        } else if (!n.pictureError.empty()) {
          DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
          text(n.pictureError, DT_WORDBREAK | DT_CENTER, r);
        }
        break;
      default: {
        // A kind the page has no native control for: its frame and its text.
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        auto doc = p.dialog->documents.find(n.name);
        std::string shown = doc != p.dialog->documents.end() ? doc->second : c.Caption();
        if (shown.empty()) shown = n.name + ": " + n.className;
        InflateRect(&r, -4, -4);
        text(shown, DT_WORDBREAK | DT_NOPREFIX, r);
        break;
      }
    }
    SelectObject(dc, oldFont);
  }

  // --- Model to screen --------------------------------------------------------------

  bool OnActiveSheet(Page& p, const Native& n) {
    for (int s = n.sheet; s >= 0; s = p.controls[s]->sheet) {
      const Native& sheet = *p.controls[s];
      auto it = p.activeSheets.find(sheet.pageControl);
      if (it != p.activeSheets.end() && it->second != s) return false;
    }
    return true;
  }

  void SetItems(Native& n, const std::vector<std::string>& items) {
    if (n.items && *n.items == items) return;
    n.items = items;
    HWND h = n.hwnd;
    if (n.kind == ControlKind::CheckListBox) {
      SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
      for (std::size_t i = 0; i < items.size(); ++i) {
        std::wstring w = W(items[i]);
        LVITEMW it{};
        it.mask = LVIF_TEXT;
        it.iItem = static_cast<int>(i);
        it.pszText = w.data();
        SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
      }
      n.checks.clear();
      return;
    }
    const bool combo = n.kind == ControlKind::ComboBox || n.kind == ControlKind::DriveComboBox ||
                       n.kind == ControlKind::FilterComboBox || n.kind == ControlKind::PTShellCombo;
    SendMessageW(h, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
      SendMessageW(h, combo ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item).c_str()));
    n.selected.clear();
  }

  // Entries of a folder for the file, folder and shell lists.
  std::vector<std::string> FolderEntries(const std::string& folder, bool wantFolders, bool wantFiles) {
    std::vector<std::string> entries;
    if (folder.empty()) return entries;
    WIN32_FIND_DATAW fd;
    FindHandle find(FindFirstFileW(W(dialogs::WithBackslash(folder) + "*").c_str(), &fd));
    if (!find.Valid()) return entries;
    do {
      std::string name = A(fd.cFileName);
      if (name == "." || name == "..") continue;
      const bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isFolder && wantFolders) entries.push_back("[" + name + "]");
      else if (!isFolder && wantFiles) entries.push_back(name);
    } while (FindNextFileW(find.Get(), &fd) && entries.size() < 2000);
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  void Sync(Page& p) {
    if (!p.Hwnd()) return;
    syncing = true;
    Dialog& d = *p.dialog;
    Control form = d.model.Form();
    if (p.caption != form.Caption()) {
      p.caption = form.Caption();
      SetWindowTextW(p.Hwnd(), W(*p.caption).c_str());
    }
    for (auto& np : p.controls) {
      Native& n = *np;
      if (!n.hwnd) continue;
      Control c = n.Model();
      const bool visible = c.Boolean("Visible", true) && OnActiveSheet(p, n);
      if (n.visible != int(visible)) {
        n.visible = visible;
        ShowWindow(n.hwnd, visible ? SW_SHOWNA : SW_HIDE);
      }
      const bool enabled = c.Boolean("Enabled", true);
      if (n.enabled != int(enabled)) {
        n.enabled = enabled;
        EnableWindow(n.hwnd, enabled);
        InvalidateRect(n.hwnd, nullptr, TRUE);
      }
      auto setText = [&](const std::string& t) {
        if (n.text == t) return;
        n.text = t;
        SetWindowTextW(n.hwnd, W(t).c_str());
        if (n.kind == ControlKind::Label || n.kind == ControlKind::StaticText) {
          // Labels show their parent's background: repaint what lay under the old text.
          RECT r = n.rect;
          InvalidateRect(p.Hwnd(), &r, TRUE);
        }
        InvalidateRect(n.hwnd, nullptr, TRUE);
      };
      auto document = [&]() -> std::string {
        auto it = d.documents.find(n.name);
        return it == d.documents.end() ? std::string() : it->second;
      };
      switch (n.kind) {
        case ControlKind::Label:
        case ControlKind::StaticText:
        case ControlKind::Button:
        case ControlKind::BitBtn:
        case ControlKind::RzBmpButton:
        case ControlKind::SpeedButton:
        case ControlKind::GroupBox:
        case ControlKind::Panel:
          setText(c.Caption());
          break;
        case ControlKind::RzCheckBox:
        case ControlKind::RzRadioButton: {
          setText(c.Caption());
          const bool checked = c.Boolean("Checked");
          if (n.checked != int(checked)) {
            n.checked = checked;
            SendMessageW(n.hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
          }
          break;
        }
        case ControlKind::Edit:
        case ControlKind::MaskEdit:
        case ControlKind::Memo:
        case ControlKind::RichEdit: {
          const bool memo = n.kind == ControlKind::Memo || n.kind == ControlKind::RichEdit;
          const std::string rtf = n.kind == ControlKind::RichEdit ? document() : std::string();
          if (!rtf.empty()) {
            if (n.document != rtf) {
              n.document = rtf;
              n.text.reset();
              StreamRichText(n.hwnd, rtf);
            }
          } else {
            n.document.clear();
            setText(memo ? dialogs::JoinLines(c.Strings("Lines")) : c.String("Text"));
          }
          const bool ro = c.Boolean("ReadOnly");
          if (n.readOnly != int(ro)) {
            n.readOnly = ro;
            SendMessageW(n.hwnd, EM_SETREADONLY, ro, 0);
          }
          std::int64_t max = c.Integer("MaxLength", 0);
          if (n.maxLength != max) {
            n.maxLength = max;
            SendMessageW(n.hwnd, EM_LIMITTEXT, max <= 0 || max >= 0x7FFFFFFE ? 0 : static_cast<WPARAM>(max), 0);
          }
          break;
        }
        case ControlKind::HTMLViewer: {
          // A new page from the binding replaces what the view shows; the pages the
          // user followed stay while the binding's page is the same.
          auto file = d.documentFiles.find(n.name);
          const std::string from = file == d.documentFiles.end() ? std::string() : file->second;
          const std::string shown = from + '\0' + document();
          if (n.document != shown) {
            n.document = shown;
            if (HtmlView* view = HtmlView::From(n.hwnd)) {
              if (from.empty()) view->ShowText(document());
              else view->ShowPage(document(), from);
            }
          }
          break;
        }
        case ControlKind::ListBox: {
          SetItems(n, c.Strings("Items"));
          const std::vector<int>& sel = d.List(n.name).selected;
          if (n.selected != sel) {
            n.selected = sel;
            if (GetWindowLongW(n.hwnd, GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) {
              SendMessageW(n.hwnd, LB_SETSEL, FALSE, -1);
              for (int i : sel) SendMessageW(n.hwnd, LB_SETSEL, TRUE, i);
            } else {
              SendMessageW(n.hwnd, LB_SETCURSEL, sel.empty() ? -1 : sel.front(), 0);
            }
          }
          break;
        }
        case ControlKind::CheckListBox: {
          SetItems(n, c.Strings("Items"));
          const std::vector<bool>& checks = d.List(n.name).checked;
          if (n.checks != checks) {
            n.checks = checks;
            for (std::size_t i = 0; i < checks.size(); ++i) {
              LVITEMW it{};
              it.stateMask = LVIS_STATEIMAGEMASK;
              it.state = INDEXTOSTATEIMAGEMASK(checks[i] ? 2 : 1);
              SendMessageW(n.hwnd, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&it));
            }
          }
          break;
        }
        case ControlKind::ComboBox: {
          SetItems(n, c.Strings("Items"));
          const std::int64_t index = c.Integer("ItemIndex", -1);
          if (c.Identifier("Style", "csDropDown") == "csDropDownList") {
            if (n.position != index) {
              n.position = index;
              SendMessageW(n.hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
            }
          } else {
            setText(c.String("Text"));
          }
          break;
        }
        case ControlKind::DriveComboBox:
        case ControlKind::PTShellCombo:
        case ControlKind::FilterComboBox: {
          std::vector<std::string> items;
          if (n.kind == ControlKind::FilterComboBox) {
            items.push_back(c.GetText("Filter").value_or("All files (*.*)"));
          } else {
            wchar_t drives[512] = {};
            DWORD len = GetLogicalDriveStringsW(511, drives);
            for (const wchar_t* s = drives; len && *s; s += wcslen(s) + 1) items.push_back(A(s));
            if (n.kind == ControlKind::PTShellCombo && !document().empty() &&
                std::find(items.begin(), items.end(), document()) == items.end())
              items.push_back(document());
          }
          SetItems(n, items);
          int at = 0;
          for (std::size_t i = 0; i < items.size(); ++i)
            if (SameText(items[i], document())) at = static_cast<int>(i);
          if (n.position != at) {
            n.position = at;
            SendMessageW(n.hwnd, CB_SETCURSEL, at, 0);
          }
          break;
        }
        case ControlKind::FileListBox:
        case ControlKind::DirectoryListBox:
        case ControlKind::PTShellList: {
          const std::string folder = document();
          if (n.document != folder || !n.items) {
            n.document = folder;
            std::vector<std::string> entries;
            if (n.kind == ControlKind::DirectoryListBox) {
              entries.push_back(folder.empty() ? "(no folder)" : folder);
              for (const std::string& e : FolderEntries(folder, true, false)) entries.push_back("  " + e);
            } else {
              entries = FolderEntries(folder, n.kind == ControlKind::PTShellList, true);
            }
            SetItems(n, entries);
          }
          break;
        }
        case ControlKind::TreeView: {
          dialogs::TreeState* state = d.Tree(n.name);
          if (!state) break;
          const auto& nodes = state->tree.Nodes();
          if (n.treeFill != state->fill) {
            // A new filling: the items again, parents before children, all expanded.
            n.treeFill = state->fill;
            SendMessageW(n.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
            n.treeItems.assign(nodes.size(), nullptr);
            n.treeImages.assign(nodes.size(), -1);
            for (std::size_t i : state->tree.DisplayOrder()) {
              std::wstring text = W(nodes[i].Text);
              TVINSERTSTRUCTW ins{};
              ins.hParent = nodes[i].Parent < 0 ? TVI_ROOT : n.treeItems[static_cast<std::size_t>(nodes[i].Parent)];
              ins.hInsertAfter = TVI_LAST;
              ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
              ins.item.pszText = text.data();
              ins.item.lParam = static_cast<LPARAM>(i);
              ins.item.iImage = ins.item.iSelectedImage = nodes[i].Image;
              n.treeItems[i] = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
              n.treeImages[i] = nodes[i].Image;
            }
            for (HTREEITEM item : n.treeItems)
              if (item) SendMessageW(n.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
            if (!n.treeItems.empty())
              SendMessageW(n.hwnd, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(n.treeItems[state->tree.DisplayOrder().front()]));
            break;
          }
          for (std::size_t i = 0; i < nodes.size() && i < n.treeItems.size(); ++i) {
            if (n.treeImages[i] == nodes[i].Image || !n.treeItems[i]) continue;
            n.treeImages[i] = nodes[i].Image;
            TVITEMW it{};
            it.mask = TVIF_HANDLE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
            it.hItem = n.treeItems[i];
            it.iImage = it.iSelectedImage = nodes[i].Image;
            SendMessageW(n.hwnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
          }
          break;
        }
        case ControlKind::PTShellTree: {
          const std::string folder = document();
          if (n.document != folder) {
            n.document = folder;
            SendMessageW(n.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
            std::wstring root = W(folder.empty() ? std::string("Desktop") : folder);
            TVINSERTSTRUCTW ins{};
            ins.hParent = TVI_ROOT;
            ins.hInsertAfter = TVI_LAST;
            ins.item.mask = TVIF_TEXT;
            ins.item.pszText = root.data();
            auto parent = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
            for (const std::string& e : FolderEntries(folder, true, false)) {
              std::wstring w = W(e.substr(1, e.size() - 2));
              ins.hParent = parent;
              ins.item.pszText = w.data();
              SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
            }
            SendMessageW(n.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
            SendMessageW(n.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(parent));
          }
          break;
        }
        case ControlKind::ProgressBar:
        case ControlKind::Gauge:
        case ControlKind::TrackBar:
        case ControlKind::UpDown: {
          const bool gauge = n.kind == ControlKind::Gauge;
          const std::int64_t min = c.Integer(gauge ? "MinValue" : "Min", 0);
          const std::int64_t max = c.Integer(gauge ? "MaxValue" : "Max", n.kind == ControlKind::TrackBar ? 10 : 100);
          const std::int64_t pos = c.Integer(gauge ? "Progress" : "Position", 0);
          if (n.kind == ControlKind::ProgressBar) {
            // A marquee runs while the model asks for one (one step per 100 ms); the bar
            // comes back with its range and position afterwards.
            const bool marquee = c.Identifier("Style") == "pbstMarquee";
            if (n.marquee != int(marquee)) {
              n.marquee = marquee;
              const LONG style = GetWindowLongW(n.hwnd, GWL_STYLE);
              if (marquee) {
                SetWindowLongW(n.hwnd, GWL_STYLE, style | PBS_MARQUEE);
                SendMessageW(n.hwnd, PBM_SETMARQUEE, TRUE, 100);
              } else {
                SendMessageW(n.hwnd, PBM_SETMARQUEE, FALSE, 0);
                SetWindowLongW(n.hwnd, GWL_STYLE, style & ~PBS_MARQUEE);
                n.position = LLONG_MIN;
              }
              InvalidateRect(n.hwnd, nullptr, TRUE);
            }
            if (marquee) break;
          }
          if (n.position == pos && n.rangeMin == min && n.rangeMax == max) break;
          n.position = pos;
          n.rangeMin = min;
          n.rangeMax = max;
          if (n.kind == ControlKind::TrackBar) {
            SendMessageW(n.hwnd, TBM_SETRANGEMIN, FALSE, static_cast<LPARAM>(min));
            SendMessageW(n.hwnd, TBM_SETRANGEMAX, TRUE, static_cast<LPARAM>(max));
            SendMessageW(n.hwnd, TBM_SETPOS, TRUE, static_cast<LPARAM>(pos));
          } else if (n.kind == ControlKind::UpDown) {
            SendMessageW(n.hwnd, UDM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
            SendMessageW(n.hwnd, UDM_SETPOS32, 0, static_cast<LPARAM>(pos));
          } else {
            SendMessageW(n.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
            SendMessageW(n.hwnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
          }
          break;
        }
        default: {
          // Drawn by the page: repaint when what it shows changed.
          std::string shown = document() + "\n" + c.Caption();
          if (n.document != shown) {
            n.document = shown;
            InvalidateRect(n.hwnd, nullptr, TRUE);
          }
          break;
        }
      }
    }
    syncing = false;
  }

  struct RichSource {
    const std::string* text;
    std::size_t at;
  };
  static DWORD CALLBACK ReadRichText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
    auto* s = reinterpret_cast<RichSource*>(cookie);
    LONG n = static_cast<LONG>(std::min<std::size_t>(static_cast<std::size_t>(size), s->text->size() - s->at));
    std::copy_n(s->text->data() + s->at, n, buffer);
    s->at += n;
    *done = n;
    return 0;
  }
  static void StreamRichText(HWND h, const std::string& rtf) {
    RichSource source{&rtf, 0};
    EDITSTREAM es{};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    es.pfnCallback = ReadRichText;
    SendMessageW(h, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es));
  }

  // --- Screen to model: the user's input ---------------------------------------------

  void AfterEvent(Page& p) {
    Sync(p);
    CheckScrollEnd(p);
  }

  void OnCommand(Page& p, Native& n, int code) {
    if (syncing) return;
    Dialog& d = *p.dialog;
    Control c = n.Model();
    switch (n.kind) {
      case ControlKind::Button:
      case ControlKind::BitBtn:
      case ControlKind::RzBmpButton:
      case ControlKind::SpeedButton:
        if (code != BN_CLICKED) return;
        runtime.Click(d, n.name, *this);
        break;
      case ControlKind::Label:
      case ControlKind::Image:
      case ControlKind::Shape:
        if (code != STN_CLICKED) return;
        runtime.Click(d, n.name, *this);
        break;
      case ControlKind::RzCheckBox: {
        if (code != BN_CLICKED) return;
        const bool checked = SendMessageW(n.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
        n.checked = checked;
        c.Set("Checked", forms::Value::Boolean(checked));
        runtime.Click(d, n.name, *this);
        break;
      }
      case ControlKind::RzRadioButton: {
        if (code != BN_CLICKED) return;
        // Radio buttons are grouped by their parent.
        const FormObject* parent = ParentOf(d.model.Root(), n.object);
        for (auto& other : p.controls) {
          if (other->kind != ControlKind::RzRadioButton || ParentOf(d.model.Root(), other->object) != parent) continue;
          other->Model().Set("Checked", forms::Value::Boolean(other.get() == &n));
        }
        runtime.Click(d, n.name, *this);
        break;
      }
      case ControlKind::Edit:
      case ControlKind::MaskEdit:
      case ControlKind::Memo:
      case ControlKind::RichEdit: {
        if (code != EN_CHANGE) return;
        std::string text = WindowText(n.hwnd);
        n.text = text;
        if (n.kind == ControlKind::Memo || n.kind == ControlKind::RichEdit)
          c.Set("Lines", forms::Value::StringList(dialogs::SplitLines(text)));
        else
          c.Set("Text", forms::Value::Str(text));
        runtime.Change(d, n.name, *this);
        break;
      }
      case ControlKind::ListBox: {
        if (code != LBN_SELCHANGE) return;
        std::vector<int> sel;
        if (GetWindowLongW(n.hwnd, GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) {
          int count = static_cast<int>(SendMessageW(n.hwnd, LB_GETSELCOUNT, 0, 0));
          if (count > 0) {
            sel.resize(count);
            SendMessageW(n.hwnd, LB_GETSELITEMS, count, reinterpret_cast<LPARAM>(sel.data()));
          }
        } else {
          int i = static_cast<int>(SendMessageW(n.hwnd, LB_GETCURSEL, 0, 0));
          if (i >= 0) sel.push_back(i);
        }
        d.List(n.name).selected = sel;
        n.selected = sel;
        runtime.Click(d, n.name, *this);
        break;
      }
      case ControlKind::ComboBox: {
        if (code == CBN_SELCHANGE) {
          int i = static_cast<int>(SendMessageW(n.hwnd, CB_GETCURSEL, 0, 0));
          std::vector<std::string> items = c.Strings("Items");
          c.Set("ItemIndex", forms::Value::Integer(i));
          if (i >= 0 && i < static_cast<int>(items.size())) {
            c.Set("Text", forms::Value::Str(items[i]));
            n.text = items[i];
          }
          n.position = i;
          runtime.Click(d, n.name, *this);
          runtime.Change(d, n.name, *this);
        } else if (code == CBN_EDITCHANGE) {
          std::string text = WindowText(n.hwnd);
          n.text = text;
          c.Set("Text", forms::Value::Str(text));
          runtime.Change(d, n.name, *this);
        } else {
          return;
        }
        break;
      }
      default: return;
    }
    AfterEvent(p);
  }

  static const FormObject* ParentOf(const FormObject& root, const FormObject* child) {
    for (const FormObject& c : root.children) {
      if (&c == child) return &root;
      if (const FormObject* found = ParentOf(c, child)) return found;
    }
    return nullptr;
  }

  void OnScroll(Page& p, Native& n) {
    if (syncing || n.kind != ControlKind::TrackBar) return;
    const std::int64_t pos = SendMessageW(n.hwnd, TBM_GETPOS, 0, 0);
    Control c = n.Model();
    if (c.Integer("Position") == pos) return;
    c.Set("Position", forms::Value::Integer(pos));
    n.position = LLONG_MIN;
    runtime.Change(*p.dialog, n.name, *this);
    AfterEvent(p);
  }

  void OnNotify(Page& p, NMHDR& h) {
    Native* n = p.ById(static_cast<int>(h.idFrom));
    if (!n || syncing) return;
    if (n->kind == ControlKind::CheckListBox && h.code == LVN_ITEMCHANGED) {
      auto& lv = reinterpret_cast<NMLISTVIEW&>(h);
      if (lv.iItem < 0) return;
      dialogs::ListState& state = p.dialog->List(n->name);
      if ((lv.uChanged & LVIF_STATE) && ((lv.uNewState ^ lv.uOldState) & LVIS_STATEIMAGEMASK)) {
        const bool checked = ((lv.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
        if (static_cast<std::size_t>(lv.iItem) >= state.checked.size()) state.checked.resize(lv.iItem + 1, false);
        if (state.checked[lv.iItem] == checked) return;
        state.checked[lv.iItem] = checked;
        n->checks = state.checked;
        runtime.ClickCheck(*p.dialog, n->name);
      } else if ((lv.uNewState & LVIS_SELECTED) && !(lv.uOldState & LVIS_SELECTED)) {
        state.selected = {lv.iItem};
        runtime.Click(*p.dialog, n->name, *this);
      } else {
        return;
      }
      AfterEvent(p);
    } else if (n->kind == ControlKind::TreeView && p.dialog->Tree(n->name)) {
      Dialog& d = *p.dialog;
      switch (h.code) {
        case TVN_SELCHANGEDW:
          runtime.TreeChange(d, n->name, NodeOf(*n, reinterpret_cast<NMTREEVIEWW&>(h).itemNew.hItem));
          break;
        case NM_CLICK: {
          // A click on a node's image switches the node and its sub-tree.
          TVHITTESTINFO hit{};
          const DWORD pos = GetMessagePos();
          hit.pt = {GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
          ScreenToClient(n->hwnd, &hit.pt);
          HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(n->hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
          if (!item || !(hit.flags & TVHT_ONITEMICON)) return;
          if (std::optional<std::size_t> node = NodeOf(*n, item)) runtime.ToggleComponent(d, n->name, *node);
          break;
        }
        case TVN_KEYDOWN: {
          if (reinterpret_cast<NMTVKEYDOWN&>(h).wVKey != VK_SPACE) return;
          HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(n->hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
          if (std::optional<std::size_t> node = NodeOf(*n, item)) runtime.ToggleComponent(d, n->name, *node);
          break;
        }
        default: return;
      }
      AfterEvent(p);
    } else if (n->kind == ControlKind::PageControl && h.code == TCN_SELCHANGE) {
      const int tab = static_cast<int>(SendMessageW(n->hwnd, TCM_GETCURSEL, 0, 0));
      const int pc = n->id - kFirstControlId;
      int seen = 0;
      for (std::size_t i = 0; i < p.controls.size(); ++i) {
        if (p.controls[i]->kind == ControlKind::TabSheet && p.controls[i]->pageControl == pc && seen++ == tab)
          p.activeSheets[pc] = static_cast<int>(i);
      }
      for (auto& c : p.controls) c->visible = -1;
      Sync(p);
    }
  }

  // --- Scroll tracking ---------------------------------------------------------------

  void Hook(Page& p) {
    for (const std::string* name : {&p.dialog->hookedMemo, &p.dialog->hookedRichEdit}) {
      if (name->empty()) continue;
      Native* n = p.ByName(*name);
      if (!n || !n->hwnd || n->savedProc) continue;
      SetWindowLongPtrW(n->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(n));
      n->savedProc = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(n->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrackedEditProc)));
    }
  }

  void Unhook(Page& p) {
    for (auto& n : p.controls) {
      if (!n->savedProc) continue;
      SetWindowLongPtrW(n->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(n->savedProc));
      n->savedProc = nullptr;
    }
  }

  // Whether the tracked text has been scrolled to its end (or never needed scrolling).
  static bool AtEnd(HWND h) {
    if (!(GetWindowLongW(h, GWL_STYLE) & WS_VSCROLL)) return true;
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    if (!GetScrollInfo(h, SB_VERT, &si)) return true;
    if (si.nPage == 0 || si.nMax - si.nMin + 1 <= static_cast<int>(si.nPage)) return true;
    return si.nMax - si.nPos <= static_cast<int>(si.nPage);
  }

  void CheckScrollEnd(Page& p) {
    for (const std::string* name : {&p.dialog->hookedMemo, &p.dialog->hookedRichEdit}) {
      if (name->empty()) continue;
      Native* n = p.ByName(*name);
      if (!n || !n->hwnd || n->Model().Integer("MaxLength") == dialogs::kScrollEndMarker) continue;
      if (AtEnd(n->hwnd)) {
        runtime.ScrolledToEnd(*p.dialog, n->name);
        Sync(p);
      }
    }
  }

  // --- DialogPort ---------------------------------------------------------------------

  bool Confirm(Dialog& d, const std::string& text, const std::string& caption) override {
    Page* p = PageOf(d.key);
    runtime.PromptProgressState(true, true);
    const bool yes = MessageBoxW(p ? p->Hwnd() : nullptr, W(text).c_str(), W(caption).c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    runtime.PromptProgressState(false, false);
    return yes;
  }

  std::optional<std::string> BrowseFolder(Dialog& d) override {
    WindowLibraries& libs = Libraries();
    using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOW);
    using PathFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPWSTR);
    using OleInitFn = HRESULT(WINAPI*)(LPVOID);
    using FreeFn = void(WINAPI*)(LPVOID);
    auto browse = libs.shell.Function<BrowseFn>("SHBrowseForFolderW");
    auto path = libs.shell.Function<PathFn>("SHGetPathFromIDListW");
    auto freeMem = libs.ole.Function<FreeFn>("CoTaskMemFree");
    if (!browse || !path) return std::nullopt;
    if (!libs.oleReady) {
      if (auto init = libs.ole.Function<OleInitFn>("OleInitialize")) libs.oleReady = SUCCEEDED(init(nullptr));
    }
    Page* p = PageOf(d.key);
    BROWSEINFOW bi{};
    bi.hwndOwner = p ? p->Hwnd() : nullptr;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST item = browse(&bi);
    if (!item) return std::nullopt;
    wchar_t wide[MAX_PATH + 1] = {};
    std::string chosen;
    if (path(item, wide)) {
      chosen = A(wide);
      // A name the code page cannot hold: its short form stays usable by the engine.
      if (W(chosen) != std::wstring(wide)) {
        wchar_t shortName[MAX_PATH + 1] = {};
        DWORD n = GetShortPathNameW(wide, shortName, MAX_PATH + 1);
        if (n > 0 && n <= MAX_PATH) chosen = A(shortName);
      }
    }
    if (freeMem) freeMem(item);
    return chosen;
  }

  void FocusTabOrder(Dialog& d, std::int64_t tabOrder) override {
    Page* p = PageOf(d.key);
    if (!p) return;
    for (auto& n : p->controls) {
      if (n->hwnd && n->Model().Integer("TabOrder", -1) == tabOrder && IsWindowVisible(n->hwnd) &&
          IsWindowEnabled(n->hwnd)) {
        SetFocus(n->hwnd);
        return;
      }
    }
  }

  void About(Dialog& d) override {
    Page* p = PageOf(d.key);
    std::string text = ctx.Data.ProductTitle;
    if (!ctx.Data.ProductVersion.empty()) text += "\r\nVersion " + ctx.Data.ProductVersion;
    if (!ctx.Data.CompanyName.empty()) text += "\r\n" + ctx.Data.CompanyName;
    MessageBoxW(p ? p->Hwnd() : nullptr, W(text).c_str(), W(ctx.WindowCaption()).c_str(), MB_OK | MB_ICONINFORMATION);
  }

  // --- Display ------------------------------------------------------------------------

  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  void FormShow(Page& p) {
    runtime.FormShow(*p.dialog);
    // The system menu: Close greyed, and the About entry.
    GetSystemMenu(p.Hwnd(), TRUE);
    HMENU menu = GetSystemMenu(p.Hwnd(), FALSE);
    if (menu) {
      EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, kAboutCommand, L"&About...");
    }
  }

  // Shows the page in front with the focus on its default button (Next), else on the
  // first control that takes it.
  void Reveal(Page& p) {
    ShowWindow(p.Hwnd(), SW_SHOW);
    SetWindowPos(p.Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(p.Hwnd());
    // The focus goes to the default button (Next), else to the first control that takes it.
    HWND first = nullptr;
    for (auto& n : p.controls)
      if (n->hwnd && n->Model().Boolean("Default") && IsWindowEnabled(n->hwnd) && IsWindowVisible(n->hwnd)) {
        first = n->hwnd;
        break;
      }
    if (!first) first = GetNextDlgTabItem(p.Hwnd(), nullptr, FALSE);
    if (first) SetFocus(first);
  }

  void BringToScreen(Page& p) {
    p.dialog->closingAllowed = false;
    // Minimised to the tray: the page waits for the user to bring the setup back.
    if (ctx.State.MinimizedToTray) {
      pending = &p;
    } else {
      pending = nullptr;
      Reveal(p);
      // The new page is painted before the old one goes: no flicker between pages.
      RedrawWindow(p.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    Pump();
    if (current && current != &p) {
      current->dialog->closingAllowed = true;
      ShowWindow(current->Hwnd(), SW_HIDE);
    }
    if (lastUnbound && lastUnbound != &p) ShowWindow(lastUnbound->Hwnd(), SW_HIDE);
    if (!pending) RunCloseWhenCovered();
    Pump();
    current = &p;
  }

  // A click on the tray icon, or a refused close while the icon shows: the page displayed
  // while minimised comes on screen, the page on screen comes back restored and in front.
  void RestoreFromTray() {
    Page* shown = current;
    if (ctx.State.MinimizedToTray) {
      ctx.State.MinimizedToTray = false;
      // The pending page may be on its way to the screen (its display runs messages).
      if (Page* p = std::exchange(pending, nullptr)) {
        Reveal(*p);
        Pump();
        RunCloseWhenCovered();
        shown = p;
      }
      if (shown) {
        ShowWindow(shown->Hwnd(), SW_SHOW);
        SetWindowPos(shown->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SendMessageW(shown->Hwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
      }
    } else if (shown) {
      ShowWindow(shown->Hwnd(), SW_SHOW);
      SetWindowPos(shown->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    if (shown) SetForegroundWindow(shown->Hwnd());
  }

  std::uintptr_t Show(Interpreter& in, const std::string& key, bool modal, std::string& custom) {
    ctx.Vars.SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
    custom.clear();
    // The taskbar button of the page on screen shows the progress.
    UiService* ui = &in.Machine().Ui;
    runtime.Taskbar = [this, ui](const dialogs::TaskbarProgress& t) {
      if (current && current->Hwnd())
        ui->SetTaskbarProgress(reinterpret_cast<std::uintptr_t>(current->Hwnd()), t.state, t.withValue, t.completed,
                               t.total);
    };
    // Silent runs show nothing: every modal display goes on, a non-modal one leaves no
    // window behind.
    if (ctx.Startup.SilentMode) return modal ? dialogs::kResultNext : 0;
    wchar_t saved[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, saved);
    SetCurrentDirectoryW(W(runtime.SupportFolder()).c_str());
    currentKey = key;
    Page* p = PageOf(key);
    if (!p) throw std::runtime_error("Dialog not loaded: " + key);
    Dialog& d = *p->dialog;

    RECT wr;
    GetWindowRect(p->Hwnd(), &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    auto& last = runtime.LastDialogPosition;
    if (!runtime.RecentreNext && (w != last.width || h != last.height)) runtime.RecentreNext = true;
    int x = last.left, y = last.top;
    if (runtime.RecentreNext) {
      RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      x = work.left + (work.right - work.left - w) / 2;
      y = work.top + (work.bottom - work.top - h) / 2;
      last.width = w;
      last.height = h;
    }
    runtime.RecentreNext = false;
    SetWindowPos(p->Hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ctx.Vars.SetVar("VRAX_IsCancelled", "FALSE", "ShowDesign");
    FormShow(*p);

    std::uintptr_t code;
    if (modal) {
      d.resultCode = dialogs::kResultWaiting;
      BringToScreen(*p);
      CheckScrollEnd(*p);
      while (d.resultCode == dialogs::kResultWaiting) {
        MSG msg;
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
          // The session ends: the page is cancelled and the quit passed on.
          PostQuitMessage(static_cast<int>(msg.wParam));
          d.resultCode = dialogs::kResultCancel;
          break;
        }
        if (r < 0) break;
        if (IsDialogMessageW(p->Hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      code = static_cast<std::uintptr_t>(d.resultCode);
      if (d.resultCode == dialogs::kResultCustom) custom = d.customResult;
      currentKey.clear();
    } else {
      code = reinterpret_cast<std::uintptr_t>(p->Hwnd());
      BringToScreen(*p);
      CheckScrollEnd(*p);
    }
    GetWindowRect(p->Hwnd(), &wr);
    last.left = wr.left;
    last.top = wr.top;
    if (GetFileAttributesW(saved) != INVALID_FILE_ATTRIBUTES) SetCurrentDirectoryW(saved);
    return code;
  }

  void Bind(const std::string& key) {
    if (ctx.Startup.SilentMode) return;
    Page* p = PageOf(key);
    if (!p) throw std::runtime_error("Dialog not loaded: " + key);
    // The non-modal page on screen does not repaint while the next one is filled.
    HWND nonModal = reinterpret_cast<HWND>(ctx.State.WindowHandleOfNonModal);
    if (nonModal) LockWindowUpdate(nonModal);
    try {
      runtime.Bind(*p->dialog);
      Sync(*p);
      Hook(*p);
    } catch (...) {
      if (nonModal) LockWindowUpdate(nullptr);
      throw;
    }
    if (nonModal) LockWindowUpdate(nullptr);
  }

  void Unbind(const std::string& key) {
    if (ctx.Startup.SilentMode) return;
    Page* p = PageOf(key);
    if (!p) return;
    Unhook(*p);
    runtime.Unbind(*p->dialog);
    Sync(*p);
    lastUnbound = p;
  }

  void Hide() {
    Page* p = currentKey.empty() ? nullptr : PageOf(currentKey);
    if (!p) return;
    p->dialog->closingAllowed = true;
    ShowWindow(p->Hwnd(), SW_HIDE);
    if (current) ShowWindow(current->Hwnd(), SW_HIDE);
    if (lastUnbound) ShowWindow(lastUnbound->Hwnd(), SW_HIDE);
    Pump();
    if (current == p) current = nullptr;
    if (pending == p) pending = nullptr;
    currentKey.clear();
    RECT wr;
    GetWindowRect(p->Hwnd(), &wr);
    runtime.LastDialogPosition.left = wr.left;
    runtime.LastDialogPosition.top = wr.top;
  }

  void HideAll() {
    RunCloseWhenCovered();
    for (auto& [key, p] : pages) {
      p->dialog->closingAllowed = true;
      if (p->Hwnd()) ShowWindow(p->Hwnd(), SW_HIDE);
    }
    current = nullptr;
    pending = nullptr;
    lastUnbound = nullptr;
    currentKey.clear();
  }

  // The page shows the progress channel as the workers left it; the cancel state goes to
  // the copy the installer session reads.
  void RefreshFromChannel(Page& p) {
    const bool cancelled = IsTrue(ctx.Vars.Get("VRAX_IsCancelled"));
    ctx.Vars.SetVar("VRAX_thCancelled", cancelled ? "TRUE" : "FALSE", "RefreshProgress");
    const ProgressReport report = ReadProgress(ctx.Vars);
    runtime.RefreshProgress(*p.dialog, report.Text, report.Min, report.Max, report.Position);
    Sync(p);
  }

  // The page on screen shows the text and position now (silent runs show nothing).
  void RefreshNow(const std::string& text, std::int64_t position) {
    if (ctx.Startup.SilentMode || !current || !current->Hwnd()) return;
    runtime.RefreshProgress(*current->dialog, text, 0, 100, position);
    Sync(*current);
    UpdateWindow(current->Hwnd());
  }

  void WriteProgress(const std::string& text, std::int64_t position) {
    HWND nonModal = reinterpret_cast<HWND>(ctx.State.WindowHandleOfNonModal);
    for (auto& [key, p] : pages) {
      if (!nonModal || p->Hwnd() != nonModal) continue;
      runtime.RefreshProgress(*p->dialog, text, 0, 100, position);
      Sync(*p);
      UpdateWindow(p->Hwnd());
    }
  }

  // --- Window procedures --------------------------------------------------------------

  LRESULT PageMessage(Page& p, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_COMMAND: {
        if (lp == 0) break;
        if (Native* n = p.ById(LOWORD(wp))) OnCommand(p, *n, HIWORD(wp));
        return 0;
      }
      case WM_NOTIFY:
        OnNotify(p, *reinterpret_cast<NMHDR*>(lp));
        return 0;
      case WM_CONTEXTMENU: {
        // A right click on a component tree, or the menu key or Shift+F10 in it.
        Native* n = p.ByHwnd(reinterpret_cast<HWND>(wp));
        if (n && n->kind == ControlKind::TreeView && p.dialog->Tree(n->name) && !syncing) {
          ComponentContextMenu(p, *n, lp);
          return 0;
        }
        break;
      }
      case WM_HSCROLL:
      case WM_VSCROLL:
        if (lp)
          if (Native* n = p.ByHwnd(reinterpret_cast<HWND>(lp))) OnScroll(p, *n);
        return 0;
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN: {
        Native* n = p.ByHwnd(reinterpret_cast<HWND>(lp));
        if (!n) break;
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, n->fore);
        SetBkColor(dc, n->back);
        return reinterpret_cast<LRESULT>(n->brush);
      }
      case WM_DRAWITEM: {
        auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (Native* n = p.ById(static_cast<int>(di->CtlID))) {
          Draw(p, *n, *di);
          return TRUE;
        }
        break;
      }
      case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, p.backBrush);
        return 1;
      }
      case DM_GETDEFID:
        for (auto& n : p.controls)
          if (n->hwnd && (GetWindowLongW(n->hwnd, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON &&
              (n->kind == ControlKind::Button || n->kind == ControlKind::BitBtn))
            return MAKELRESULT(n->id, DC_HASDEFID);
        return 0;
      case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_CLOSE && !p.dialog->closingAllowed) {
          RefuseClose(p);
          return 0;
        }
        if (wp == kAboutCommand) {
          About(*p.dialog);
          return 0;
        }
        if ((wp & 0xFFF0) == SC_MINIMIZE && ctx.State.TrayIconVisible) {
          // With the tray icon showing, a minimised page leaves the taskbar: it comes
          // back through the icon.
          DefWindowProcW(hwnd, msg, wp, lp);
          ShowWindow(hwnd, SW_HIDE);
          ctx.State.MinimizedToTray = true;
          return 0;
        }
        break;
      case WM_CLOSE:
        if (!p.dialog->closingAllowed) RefuseClose(p);
        else ShowWindow(hwnd, SW_HIDE);
        return 0;
      case WM_TIMER:
        // The progress timer: every page ticks, so a waiting display sees a message at
        // least once a second; while a worker runs, the page on screen shows its channel.
        if (wp == kProgressTimer && ctx.State.WorkerActive && current == &p) RefreshFromChannel(p);
        if (wp == kMetaTimer) MetaRefreshDue(p);
        return 0;
      default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  // An HTML view loaded a page with a timed refresh: when the target exists below the
  // support folder, the page's meta timer is set to load it.
  void ArmMetaRefresh(Page& p, HtmlView& view, const html::MetaRefresh& refresh) {
    const std::string target = html::MetaRefreshTarget(runtime.SupportFolder(), refresh.url);
    const DWORD a = GetFileAttributesW(W(target).c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return;
    for (auto& n : p.controls)
      if (HtmlView::From(n->hwnd) == &view) p.metaView = n->hwnd;
    p.metaDocument = view.DocumentFile();
    p.metaTarget = target;
    if (p.Hwnd()) SetTimer(p.Hwnd(), kMetaTimer, html::MetaRefreshInterval(refresh.delay), nullptr);
  }

  // The refresh is due: it happens only while the view still shows the page that set it;
  // the page's caption becomes the new page's title.
  void MetaRefreshDue(Page& p) {
    KillTimer(p.Hwnd(), kMetaTimer);
    HtmlView* view = HtmlView::From(p.metaView);
    if (!view || !SameText(view->DocumentFile(), p.metaDocument)) return;
    const std::string target = p.metaTarget;
    if (!view->LoadFile(target)) return;
    SetWindowTextW(p.Hwnd(), W(view->Title()).c_str());
  }

  void RefuseClose(Page&) {
    if (ctx.State.TrayIconVisible) {
      RestoreFromTray();
      return;
    }
    if (!current) return;
    ShowWindow(current->Hwnd(), SW_RESTORE);
    SetWindowPos(current->Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(current->Hwnd());
  }

  LRESULT TrackedEdit(Native& n, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    WNDPROC saved = n.savedProc;
    LRESULT r = CallWindowProcW(saved, hwnd, msg, wp, lp);
    // Keys scroll the text as well as the bar and the wheel do.
    if ((msg == WM_VSCROLL || msg == WM_MOUSEWHEEL || msg == WM_KEYDOWN) &&
        n.Model().Integer("MaxLength") != dialogs::kScrollEndMarker && AtEnd(hwnd)) {
      runtime.ScrolledToEnd(*n.page->dialog, n.name);
      Sync(*n.page);
    }
    return r;
  }
};

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* p = reinterpret_cast<Page*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!p || !p->host) return DefWindowProcW(hwnd, msg, wp, lp);
  if (!p->window.Get()) {
    // Still being created: the page's window is not recorded yet.
    if (msg == WM_ERASEBKGND || msg == WM_CTLCOLORSTATIC) return DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return p->host->PageMessage(*p, hwnd, msg, wp, lp);
  } catch (const std::exception& e) {
    // A handler must not unwind through the system's code; the failure is shown.
    MessageBoxA(hwnd, e.what(), nullptr, MB_OK | MB_ICONERROR);
    return 0;
  }
}

LRESULT CALLBACK TrackedEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* n = reinterpret_cast<Native*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!n || !n->savedProc) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return n->page->host->TrackedEdit(*n, hwnd, msg, wp, lp);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

DialogHost::DialogHost(EngineContext& context, FileService& files) : impl_(std::make_unique<Impl>(context, files)) {}

DialogHost::~DialogHost() = default;

void DialogHost::Init(const std::string& supportFolder) {
  impl_->runtime.Init(supportFolder);
  impl_->pages.clear();
  impl_->registered.clear();
}

void DialogHost::Load(const std::string& key, const std::string& path) {
  if (impl_->ctx.Startup.SilentMode) {
    impl_->registered[UpperCase(key)] = path;
    return;
  }
  impl_->LoadPage(key, path);
}

DialogOperations DialogHost::Operations() {
  DialogOperations ops;
  Impl* impl = impl_.get();
  ops.Present = [impl](Interpreter& in, const std::string& key, bool modal, std::string& custom) {
    return impl->Show(in, key, modal, custom);
  };
  ops.Bind = [impl](Interpreter&, const std::string& key) { impl->Bind(key); };
  ops.Unbind = [impl](Interpreter&, const std::string& key) { impl->Unbind(key); };
  ops.Hide = [impl](Interpreter&) { impl->Hide(); };
  ops.Refresh = [impl](const std::string& text, std::int64_t position) { impl->RefreshNow(text, position); };
  ops.PromptState = [impl](bool prompt, bool error) { impl->runtime.PromptProgressState(prompt, error); };
  ops.RestoreFromTray = [impl](Interpreter&) { impl->RestoreFromTray(); };
  return ops;
}

void DialogHost::CloseWhenCovered(std::function<void()> close) { impl_->closeWhenCovered = std::move(close); }

void DialogHost::WriteProgress(const std::string& text, std::int64_t position) { impl_->WriteProgress(text, position); }

void DialogHost::HideAll() { impl_->HideAll(); }

std::uintptr_t DialogHost::WindowOf(const std::string& key) const {
  auto it = impl_->pages.find(UpperCase(key));
  return it == impl_->pages.end() ? 0 : reinterpret_cast<std::uintptr_t>(it->second->Hwnd());
}

dialogs::DialogRuntime& DialogHost::Runtime() { return impl_->runtime; }

}  // namespace kem::platform
