// The page's window: made when the page is first shown, sized from the form at the
// screen's resolution (the design's pixels per inch against the screen's), with one
// native window per control as its kind's adapter asks, the fonts of the form and its
// controls, and the pictures of images and glyph buttons.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "common/text.h"
#include "dialogs/forms/property_text.h"
#include "dialogs/pictures/metafile.h"
#include "dialogs/pictures/picture.h"
#include "platform/dialogs/host_internals.h"
#include "platform/dialogs/html_view.h"
#include "platform/dialogs/picture_bitmap.h"
#include "platform/text/text.h"

namespace kem::platform {

using namespace pages;

namespace pages {

WindowLibraries::WindowLibraries() {
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
WindowLibraries& Libraries() {
  static WindowLibraries libraries;
  return libraries;
}

COLORREF ColorOf(std::string_view text, COLORREF fallback) {
  std::optional<std::int64_t> n = forms::ColorNumber(text);
  if (!n) return fallback;
  if ((*n & 0xFF000000) == 0x80000000 || (*n & 0xFF000000) == 0xFF000000) return GetSysColor(static_cast<int>(*n & 0xFF));
  return static_cast<COLORREF>(*n & 0xFFFFFF);
}

}  // namespace pages

void DialogHost::Impl::RegisterClass() {
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

HFONT DialogHost::Impl::MakeFont(Page& p, const forms::FontSpec& spec) {
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

bool DialogHost::Impl::OwnFont(const FormObject& o) {
  for (const forms::Property& prop : o.properties) {
    if (StartsWith(LowerCase(prop.name), "font.")) return true;
    if (SameText(prop.name, "ParentFont") && prop.value.kind == forms::ValueKind::False) return true;
  }
  return false;
}

bool DialogHost::Impl::Stored(const FormObject& o, std::string_view name) {
  for (const forms::Property& prop : o.properties)
    if (SameText(prop.name, name)) return true;
  return false;
}

void DialogHost::Impl::BuildWindow(Page& p) {
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
void DialogHost::Impl::CreateTree(Page& p, FormObject& object, RECT& area, HFONT parentFont, COLORREF parentBack, int sheet,
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

void DialogHost::Impl::CreateNative(Page& p, Native& n) {
  const ControlAdapter& adapter = AdapterOf(n.kind);
  NativeSpec spec;
  if (adapter.create) adapter.create(*this, p, n, spec);
  if (spec.cls.empty()) return;
  const int w = n.rect.right - n.rect.left, h = n.rect.bottom - n.rect.top + spec.extraHeight;
  n.hwnd = CreateWindowExW(spec.ex, spec.cls.c_str(), L"", spec.style, n.rect.left, n.rect.top, w, h, p.Hwnd(),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(n.id)), GetModuleHandleW(nullptr), nullptr);
  if (!n.hwnd) return;
  SendMessageW(n.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(n.font), FALSE);
  if (adapter.created) adapter.created(*this, p, n);
}

// Decodes the control's picture and composites it over its background.
void DialogHost::Impl::LoadPicture(Page& p, Native& n) {
  Control c = n.Model();
  const bool glyph = n.kind == ControlKind::BitBtn || n.kind == ControlKind::SpeedButton;
  std::optional<std::string> data = c.Graphic(glyph ? "Glyph" : "Picture");
  if (!data || data->empty()) return;
  if (!glyph) {
    // A metafile is drawn by the system at the control's size.
    if (std::optional<pictures::MetafileInfo> meta = pictures::ReadMetafile(pictures::GraphicPayload(*data))) {
      const auto* bytes = reinterpret_cast<const BYTE*>(meta->records.data());
      const auto size = static_cast<UINT>(meta->records.size());
      HENHMETAFILE h = nullptr;
      if (meta->kind == pictures::MetafileInfo::Kind::Enhanced) {
        h = SetEnhMetaFileBits(size, bytes);
      } else {
        METAFILEPICT mfp{MM_ANISOTROPIC, MulDiv(meta->width, 2540, 96), MulDiv(meta->height, 2540, 96), nullptr};
        h = SetWinMetaFileBits(size, bytes, nullptr, meta->width ? &mfp : nullptr);
      }
      if (!h) {
        n.pictureError = "The metafile cannot be shown.";
        return;
      }
      n.metafile = EnhMetafile(h);
      n.pictureWidth = meta->width;
      n.pictureHeight = meta->height;
      return;
    }
  }
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

}  // namespace kem::platform
