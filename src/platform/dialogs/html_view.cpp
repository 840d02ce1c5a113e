#include "platform/dialogs/html_view.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "common/text.h"
#include "dialogs/html/html_layout.h"
#include "dialogs/html/html_links.h"
#include "dialogs/pictures/picture.h"
#include "platform/dialogs/picture_bitmap.h"
#include "platform/dialogs/wide_text.h"
#include "platform/handles.h"
#include "platform/process/system_library.h"
#include "platform/text/text.h"

namespace kem::platform {

namespace {

constexpr std::uint64_t kMaxFileBytes = 16u * 1024 * 1024;

std::optional<std::string> ReadLocalFile(const std::string& path, std::uint32_t codePage) {
  std::u16string w = AnsiToUtf16(path, codePage);
  UniqueHandle file(CreateFileW(reinterpret_cast<const wchar_t*>(w.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxFileBytes)
    return std::nullopt;
  std::string data(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!data.empty() && (!ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) ||
                        read != data.size()))
    return std::nullopt;
  return data;
}

bool IsPictureFile(const std::string& path) {
  const std::string lower = LowerCase(path);
  for (const char* ext : {".png", ".jpg", ".jpeg", ".bmp", ".ico"})
    if (EndsWith(lower, ext)) return true;
  return false;
}

RECT ToRect(const html::LayoutRect& r) { return {r.left, r.top, r.right, r.bottom}; }

int Luminance(COLORREF c) { return (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000; }

// The system's link colour, or a plain blue where that hardly stands out from the view's
// background (some themes give a pale one).
COLORREF LinkColor(COLORREF back) {
  const COLORREF hot = GetSysColor(COLOR_HOTLIGHT);
  if (std::abs(Luminance(hot) - Luminance(back)) >= 96) return hot;
  return Luminance(back) >= 128 ? RGB(0, 0, 204) : RGB(128, 176, 255);
}

}  // namespace

using Box = html::LayoutBox;

struct Picture {
  GdiObject bitmap;  // composited over the view's background
  int width = 0, height = 0;
};

struct HtmlView::Impl {
  HWND hwnd;
  Options options;
  html::Document doc;
  std::string file;
  HFONT baseFont = nullptr;
  std::map<int, GdiObject> fonts;
  std::map<std::string, std::optional<Picture>> pictures;
  std::vector<Box> boxes;
  int contentHeight = 0;
  int layoutWidth = -1;
  int scroll = 0;
  int focusLink = -1;
  int pressLink = -1;
  int dpi = 96;
  std::optional<SystemLibrary> winmm, shell;

  explicit Impl(HWND h) : hwnd(h) {
    HDC dc = GetDC(h);
    dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(h, dc);
    if (dpi <= 0) dpi = 96;
  }

  int Px(int v) const { return MulDiv(v, dpi, 96); }
  std::wstring W(std::string_view s) const { return Wide(s, options.codePage); }

  // --- Fonts ------------------------------------------------------------------------

  HFONT Font(int key) {
    auto it = fonts.find(key);
    if (it != fonts.end()) return static_cast<HFONT>(it->second.Get());
    LOGFONTW lf{};
    HFONT base = baseFont ? baseFont : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    GetObjectW(base, sizeof(lf), &lf);
    if (lf.lfHeight == 0) lf.lfHeight = -Px(11);
    lf.lfHeight = MulDiv(lf.lfHeight, html::FontSizePercent(html::FontSizeOf(key)), 100);
    if (html::FontBold(key)) lf.lfWeight = FW_BOLD;
    if (html::FontItalic(key)) lf.lfItalic = TRUE;
    if (html::FontUnderline(key)) lf.lfUnderline = TRUE;
    HFONT f = CreateFontIndirectW(&lf);
    if (!f) return base;
    fonts.emplace(key, GdiObject(f));
    return f;
  }

  // --- Pictures -----------------------------------------------------------------------

  const Picture* PictureOf(const std::string& path) {
    auto it = pictures.find(path);
    if (it != pictures.end()) return it->second ? &*it->second : nullptr;
    std::optional<Picture> result;
    try {
      if (std::optional<std::string> data = path.empty() ? std::nullopt : ReadLocalFile(path, options.codePage)) {
        pictures::Image image = pictures::DecodePicture(*data);
        if (GdiObject bmp = PictureOverBackground(image, options.back); bmp.Get())
          result = Picture{std::move(bmp), static_cast<int>(image.width), static_cast<int>(image.height)};
      }
    } catch (const pictures::PictureError&) {
      result.reset();
    }
    auto& slot = pictures[path];
    slot = std::move(result);
    return slot ? &*slot : nullptr;
  }

  // --- Layout -------------------------------------------------------------------------

  // Measures on the view's fonts through a screen device context.
  struct GdiMeasurer final : html::TextMeasurer {
    Impl& view;
    HDC dc;
    explicit GdiMeasurer(Impl& v, HDC d) : view(v), dc(d) {}
    html::FontMetrics Metrics(int font) override {
      SelectObject(dc, view.Font(font));
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      return {tm.tmHeight, tm.tmAscent, tm.tmDescent};
    }
    int Width(int font, std::u16string_view text) override {
      SelectObject(dc, view.Font(font));
      SIZE s{};
      GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), &s);
      return s.cx;
    }
    std::size_t Fit(int font, std::u16string_view text, int width) override {
      SelectObject(dc, view.Font(font));
      int fit = 0;
      SIZE s{};
      GetTextExtentExPointW(dc, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), width,
                            &fit, nullptr, &s);
      return static_cast<std::size_t>(std::max(fit, 0));
    }
    std::optional<Size> PictureSize(const std::string& path) override {
      const Picture* picture = view.PictureOf(path);
      if (!picture) return std::nullopt;
      return Size{picture->width, picture->height};
    }
    std::u16string Widen(std::string_view text) override { return AnsiToUtf16(text, view.options.codePage); }
  };

  html::LayoutOptions LayoutOptionsNow(int width) const {
    html::LayoutOptions o;
    o.width = width;
    o.dpi = dpi;
    o.file = file;
    o.baseFolder = options.baseFolder;
    return o;
  }

  void Layout() {
    RECT client;
    GetClientRect(hwnd, &client);
    layoutWidth = client.right;
    boxes.clear();
    HDC dc = GetDC(hwnd);
    if (!dc) return;
    HGDIOBJ oldFont = SelectObject(dc, Font(0));
    GdiMeasurer measure(*this, dc);
    html::PageLayout layout = html::LayOutPage(doc, LayoutOptionsNow(client.right), measure);
    boxes = std::move(layout.boxes);
    contentHeight = layout.contentHeight;
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd, dc);
    UpdateScrollBar();
  }

  int PageHeight() const {
    RECT client;
    GetClientRect(hwnd, &client);
    return client.bottom;
  }

  void UpdateScrollBar() {
    const int page = PageHeight();
    scroll = std::clamp(scroll, 0, std::max(0, contentHeight - page));
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    si.nMin = 0;
    si.nMax = std::max(contentHeight - 1, 0);
    si.nPage = static_cast<UINT>(std::max(page, 0));
    si.nPos = scroll;
    SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
  }

  void ScrollTo(int position) {
    const int old = scroll;
    scroll = std::clamp(position, 0, std::max(0, contentHeight - PageHeight()));
    if (scroll == old) return;
    UpdateScrollBar();
    InvalidateRect(hwnd, nullptr, FALSE);
  }

  void EnsureLayout() {
    RECT client;
    GetClientRect(hwnd, &client);
    if (client.right != layoutWidth) Layout();
  }

  // --- Pages --------------------------------------------------------------------------

  void Show(html::Document page, std::string from) {
    doc = std::move(page);
    file = std::move(from);
    pictures.clear();
    scroll = 0;
    focusLink = -1;
    pressLink = -1;
    Layout();
    SetWindowTextW(hwnd, W(doc.Text()).c_str());
    InvalidateRect(hwnd, nullptr, TRUE);
    if (doc.refresh && options.refresh) options.refresh(*owner, *doc.refresh);
  }

  html::Document Parse(const std::string& text) {
    const std::uint32_t cp = options.codePage;
    return html::ParseHtml(text, [cp](char32_t c) -> std::string {
      std::u16string u;
      if (c >= 0x10000) {
        c -= 0x10000;
        u.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        u.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      } else {
        u.push_back(static_cast<char16_t>(c));
      }
      if (!CodePageHolds(u, cp)) return c == 0xA0 ? " " : "?";
      return Utf16ToAnsi(u, cp);
    });
  }

  bool Load(const std::string& path) {
    std::optional<std::string> data = ReadLocalFile(path, options.codePage);
    if (!data) return false;
    if (EndsWith(LowerCase(path), ".txt")) {
      Show(html::PlainTextDocument(*data), path);
    } else if (IsPictureFile(path)) {
      html::Document page;
      html::Block block;
      html::Run image;
      image.kind = html::Run::Kind::Image;
      image.source = path;
      block.runs.push_back(std::move(image));
      page.blocks.push_back(std::move(block));
      Show(std::move(page), path);
    } else {
      Show(Parse(*data), path);
    }
    return true;
  }

  void ScrollToAnchor(const std::string& name) {
    if (name.empty()) return;
    for (const html::Anchor& a : doc.anchors) {
      if (a.name != name) continue;
      EnsureLayout();
      const int top = AnchorTop(a.block);
      ScrollTo(top);
      return;
    }
  }

  // Top of the anchor's block: found by laying out only the blocks before it.
  int AnchorTop(std::size_t block) {
    HDC dc = GetDC(hwnd);
    if (!dc) return 0;
    HGDIOBJ oldFont = SelectObject(dc, Font(0));
    GdiMeasurer measure(*this, dc);
    const int top = html::AnchorTop(doc, block, LayoutOptionsNow(layoutWidth), measure);
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd, dc);
    return top;
  }

  // --- Links --------------------------------------------------------------------------

  int HitLink(POINT client) const {
    for (const Box& b : boxes)
      if (b.link >= 0 && b.rect.Contains(client.x, client.y + scroll)) return b.link;
    return -1;
  }

  bool LinkShown(int link) const {
    return std::any_of(boxes.begin(), boxes.end(), [&](const Box& b) { return b.link == link; });
  }

  // The next link shown after (or before) the focused one, -1 when there is none.
  int NextLink(bool back) const {
    const int count = static_cast<int>(doc.links.size());
    for (int i = focusLink + (back ? -1 : 1); back ? i >= 0 : i < count; i += back ? -1 : 1) {
      if (back && focusLink < 0) break;
      if (LinkShown(i)) return i;
    }
    return -1;
  }

  void FocusLink(int link) {
    focusLink = link;
    // Scroll the link into view.
    const int page = PageHeight();
    for (const Box& b : boxes) {
      if (b.link != link) continue;
      if (b.rect.top < scroll) ScrollTo(b.rect.top);
      else if (b.rect.bottom > scroll + page) ScrollTo(b.rect.bottom - page);
      break;
    }
    InvalidateRect(hwnd, nullptr, FALSE);
  }

  // A link was clicked or chosen with Enter. Failures of the action are ignored.
  void Activate(int link) {
    if (link < 0 || link >= static_cast<int>(doc.links.size())) return;
    const html::HotSpot spot = html::DecideHotSpot(doc.links[static_cast<std::size_t>(link)], file, options.baseFolder);
    switch (spot.action) {
      case html::HotSpot::Action::PlaySound: {
        if (!winmm) winmm.emplace(L"winmm.dll");
        using Fn = BOOL(WINAPI*)(LPCWSTR, UINT);
        if (auto play = winmm->Function<Fn>("sndPlaySoundW")) play(W(spot.target).c_str(), 0x0001 /* SND_ASYNC */);
        break;
      }
      case html::HotSpot::Action::RunProgram: {
        std::wstring line = L"\"" + W(spot.target) + L"\"";
        if (!spot.parameters.empty()) line += L" " + W(spot.parameters);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOW;
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
          CloseHandle(pi.hThread);
          CloseHandle(pi.hProcess);
        }
        break;
      }
      case html::HotSpot::Action::OpenShell: {
        if (!shell) shell.emplace(L"shell32.dll");
        using Fn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
        if (auto open = shell->Function<Fn>("ShellExecuteW"))
          open(hwnd, nullptr, W(spot.target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        break;
      }
      case html::HotSpot::Action::Navigate:
        if (spot.target.empty() || SameText(spot.target, file)) {
          ScrollToAnchor(spot.fragment);
        } else {
          const DWORD a = GetFileAttributesW(W(spot.target).c_str());
          if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) break;
          if (Load(spot.target)) ScrollToAnchor(spot.fragment);
        }
        break;
      case html::HotSpot::Action::None: break;
    }
  }

  // --- Painting -----------------------------------------------------------------------

  void Paint(HDC target) {
    EnsureLayout();
    RECT client;
    GetClientRect(hwnd, &client);
    const int w = std::max<int>(client.right, 1), h = std::max<int>(client.bottom, 1);
    HDC dc = CreateCompatibleDC(target);
    GdiObject buffer(CreateCompatibleBitmap(target, w, h));
    HGDIOBJ oldBitmap = SelectObject(dc, buffer.Get());
    GdiObject back(CreateSolidBrush(options.back));
    FillRect(dc, &client, static_cast<HBRUSH>(back.Get()));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, Font(0));
    const COLORREF linkColor = LinkColor(options.back);
    const bool enabled = IsWindowEnabled(hwnd) != FALSE;
    const COLORREF fore = enabled ? options.fore : GetSysColor(COLOR_GRAYTEXT);
    for (const Box& b : boxes) {
      RECT r = ToRect(b.rect);
      OffsetRect(&r, 0, -scroll);
      if (r.bottom < 0 || r.top > h) continue;
      switch (b.kind) {
        case Box::Kind::Text:
        case Box::Kind::Number:
          SelectObject(dc, Font(b.font));
          SetTextColor(dc, b.link >= 0 && enabled ? linkColor : fore);
          TextOutW(dc, r.left, r.top, reinterpret_cast<const wchar_t*>(b.text.c_str()), static_cast<int>(b.text.size()));
          break;
        case Box::Kind::Picture: {
          auto it = pictures.find(b.picture);
          const Picture* picture = it != pictures.end() && it->second ? &*it->second : nullptr;
          if (picture) {
            HDC src = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(src, picture->bitmap.Get());
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0, picture->width,
                       picture->height, SRCCOPY);
            SelectObject(src, old);
            DeleteDC(src);
          } else {
            // A picture that cannot be shown: its frame and alternative text.
            GdiObject pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_GRAYTEXT)));
            HGDIOBJ oldPen = SelectObject(dc, pen.Get());
            HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
            Rectangle(dc, r.left, r.top, r.right, r.bottom);
            SelectObject(dc, oldBrush);
            SelectObject(dc, oldPen);
            SelectObject(dc, Font(b.font));
            SetTextColor(dc, fore);
            RECT t = r;
            InflateRect(&t, -Px(3), -Px(2));
            DrawTextW(dc, reinterpret_cast<const wchar_t*>(b.text.c_str()), static_cast<int>(b.text.size()), &t,
                      DT_LEFT | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
          }
          break;
        }
        case Box::Kind::Bullet: {
          GdiObject brush(CreateSolidBrush(fore));
          GdiObject pen(CreatePen(PS_SOLID, 1, fore));
          HGDIOBJ oldBrush = SelectObject(dc, brush.Get());
          HGDIOBJ oldPen = SelectObject(dc, pen.Get());
          Ellipse(dc, r.left, r.top, r.right, r.bottom);
          SelectObject(dc, oldBrush);
          SelectObject(dc, oldPen);
          break;
        }
        case Box::Kind::Rule: DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP); break;
      }
    }
    if (GetFocus() == hwnd && focusLink >= 0) {
      SetTextColor(dc, fore);
      for (const Box& b : boxes) {
        if (b.link != focusLink) continue;
        RECT r = ToRect(b.rect);
        OffsetRect(&r, 0, -scroll);
        InflateRect(&r, 1, 1);
        DrawFocusRect(dc, &r);
      }
    }
    BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
  }

  // --- Messages -----------------------------------------------------------------------

  int LineStep() const { return Px(16); }

  LRESULT Message(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_SETFONT:
        baseFont = reinterpret_cast<HFONT>(wp);
        fonts.clear();
        Layout();
        if (LOWORD(lp)) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      case WM_GETFONT: return reinterpret_cast<LRESULT>(baseFont);
      case WM_SIZE:
        Layout();
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      case WM_ERASEBKGND: return 1;
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) Paint(dc);
        EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wp));
        return 0;
      case WM_ENABLE: InvalidateRect(hwnd, nullptr, FALSE); return 0;
      case WM_VSCROLL: {
        SCROLLINFO si{};
        si.cbSize = sizeof(si);
        si.fMask = SIF_TRACKPOS;
        GetScrollInfo(hwnd, SB_VERT, &si);
        const int page = PageHeight();
        switch (LOWORD(wp)) {
          case SB_LINEUP: ScrollTo(scroll - LineStep()); break;
          case SB_LINEDOWN: ScrollTo(scroll + LineStep()); break;
          case SB_PAGEUP: ScrollTo(scroll - page); break;
          case SB_PAGEDOWN: ScrollTo(scroll + page); break;
          case SB_TOP: ScrollTo(0); break;
          case SB_BOTTOM: ScrollTo(contentHeight); break;
          case SB_THUMBTRACK:
          case SB_THUMBPOSITION: ScrollTo(si.nTrackPos); break;
          default: break;
        }
        return 0;
      }
      case WM_MOUSEWHEEL:
        ScrollTo(scroll - MulDiv(GET_WHEEL_DELTA_WPARAM(wp), 3 * LineStep(), WHEEL_DELTA));
        return 0;
      case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTARROWS;
        const MSG* m = reinterpret_cast<const MSG*>(lp);
        if (m && m->message == WM_KEYDOWN) {
          if (m->wParam == VK_TAB && NextLink(GetKeyState(VK_SHIFT) < 0) >= 0) code |= DLGC_WANTTAB;
          if (m->wParam == VK_RETURN && focusLink >= 0) code |= DLGC_WANTMESSAGE;
        }
        return code;
      }
      case WM_SETFOCUS:
        // Entering with Tab focuses the first link (the last with Shift+Tab).
        if (focusLink < 0 && GetKeyState(VK_TAB) < 0) {
          const bool back = GetKeyState(VK_SHIFT) < 0;
          for (int i = 0; i < static_cast<int>(doc.links.size()); ++i) {
            const int link = back ? static_cast<int>(doc.links.size()) - 1 - i : i;
            if (LinkShown(link)) {
              FocusLink(link);
              break;
            }
          }
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      case WM_KILLFOCUS: InvalidateRect(hwnd, nullptr, FALSE); return 0;
      case WM_KEYDOWN:
        switch (wp) {
          case VK_TAB: {
            const int next = NextLink(GetKeyState(VK_SHIFT) < 0);
            if (next >= 0) FocusLink(next);
            else SendMessageW(GetParent(hwnd), WM_NEXTDLGCTL, GetKeyState(VK_SHIFT) < 0, FALSE);
            return 0;
          }
          case VK_RETURN: Activate(focusLink); return 0;
          case VK_UP: ScrollTo(scroll - LineStep()); return 0;
          case VK_DOWN: ScrollTo(scroll + LineStep()); return 0;
          case VK_PRIOR: ScrollTo(scroll - PageHeight()); return 0;
          case VK_NEXT: ScrollTo(scroll + PageHeight()); return 0;
          case VK_HOME: ScrollTo(0); return 0;
          case VK_END: ScrollTo(contentHeight); return 0;
          default: break;
        }
        break;
      case WM_CHAR:
        if (wp == L'\t' || wp == L'\r') return 0;
        break;
      case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) {
          POINT at;
          GetCursorPos(&at);
          ScreenToClient(hwnd, &at);
          if (HitLink(at) >= 0) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
            return TRUE;
          }
        }
        break;
      case WM_LBUTTONDOWN: {
        SetFocus(hwnd);
        pressLink = HitLink({GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        if (pressLink >= 0) FocusLink(pressLink);
        return 0;
      }
      case WM_LBUTTONUP: {
        const int link = HitLink({GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        const int pressed = std::exchange(pressLink, -1);
        if (link >= 0 && link == pressed) Activate(link);
        return 0;
      }
      case kHtmlViewLinkCount: return static_cast<LRESULT>(doc.links.size());
      case kHtmlViewLinkPoint: {
        EnsureLayout();
        const int page = PageHeight();
        for (const Box& b : boxes) {
          if (b.link != static_cast<int>(wp)) continue;
          const int cx = (b.rect.left + b.rect.right) / 2, cy = (b.rect.top + b.rect.bottom) / 2 - scroll;
          if (cy < 0 || cy >= page) return -1;
          return MAKELONG(cx, cy);
        }
        return -1;
      }
      default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  HtmlView* owner = nullptr;
};

namespace {

LRESULT CALLBACK HtmlViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* view = new HtmlView(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<HtmlView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!view) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete view;
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return view->Internals().Message(msg, wp, lp);
  } catch (const std::exception&) {
    // A page that cannot be drawn or followed leaves the view as it was.
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

HtmlView::HtmlView(HWND window) : impl_(std::make_unique<Impl>(window)) { impl_->owner = this; }
HtmlView::~HtmlView() = default;

void HtmlView::Register(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExW(instance, kHtmlViewClass, &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = HtmlViewProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kHtmlViewClass;
  RegisterClassExW(&wc);
}

HtmlView* HtmlView::From(HWND window) {
  wchar_t cls[64] = {};
  if (!window || !GetClassNameW(window, cls, 64) || lstrcmpiW(cls, kHtmlViewClass) != 0) return nullptr;
  return reinterpret_cast<HtmlView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void HtmlView::Configure(Options options) {
  impl_->options = std::move(options);
  impl_->pictures.clear();
  impl_->Layout();
  InvalidateRect(impl_->hwnd, nullptr, TRUE);
}

void HtmlView::ShowPage(const std::string& html, const std::string& file) { impl_->Show(impl_->Parse(html), file); }

void HtmlView::ShowText(const std::string& text) { impl_->Show(html::PlainTextDocument(text), {}); }

bool HtmlView::LoadFile(const std::string& file) { return impl_->Load(file); }

const std::string& HtmlView::DocumentFile() const { return impl_->file; }

const std::string& HtmlView::Title() const { return impl_->doc.title; }

}  // namespace kem::platform
