#include "platform/ui/startup_windows.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/process/process.h"
#include "platform/process/system_library.h"
#include "platform/ui/ui.h"

namespace kem::platform {
namespace {

constexpr const char* kSplashClass = "TSetupSplash";
constexpr const char* kInitClass = "TSetupInit";
constexpr int kInitClientWidth = 369;
constexpr int kInitClientHeight = 89;

LRESULT CALLBACK PlainWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_CLOSE) return 0;  // the start-up windows are closed by the launcher only
  return DefWindowProcA(h, m, w, l);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  // The common controls (the progress bar) stay loaded for the rest of the process. By
  // name from the system folder, so that the manifest's side-by-side redirection gives the
  // themed version 6 (a full path would load the old version 5 instead, for the pages as
  // well); by full path where the system cannot restrict the search to its folder.
  static HMODULE controls = [] {
    HMODULE m = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!m) {
      static const SystemLibrary fallback(L"comctl32.dll");
      m = GetModuleHandleW(L"comctl32.dll");
    }
    return m;
  }();
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
  auto init = controls ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")))
                       : nullptr;
  if (init) init(&icc);
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kSplashClass;
  RegisterClassA(&wc);
  wc.lpszClassName = kInitClass;
  RegisterClassA(&wc);
}

}  // namespace

struct StartupWindows::Impl {
  HWND splash = nullptr;
  HWND splashImage = nullptr;
  HBITMAP bitmap = nullptr;
  HWND init = nullptr;
  HWND label = nullptr;
  HWND progress = nullptr;
  HFONT font = nullptr;

  ~Impl() { Destroy(); }
  void Destroy() {
    if (init) DestroyWindow(init);
    if (splash) DestroyWindow(splash);
    init = splash = nullptr;
    if (bitmap) DeleteObject(bitmap);
    if (font) DeleteObject(font);
    bitmap = nullptr;
    font = nullptr;
  }
};

StartupWindows::StartupWindows() : impl_(std::make_unique<Impl>()) {}
StartupWindows::~StartupWindows() = default;

void StartupWindows::Show(const std::string& splashBitmapPath, const std::string& caption, const std::string& label) {
  RegisterClasses();
  HINSTANCE inst = GetModuleHandleA(nullptr);
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);

  // Splash: borderless, sized to its image (105 by 105 until a picture is loaded).
  RECT splashRect{0, 0, 105, 105};
  bool haveSplash = false;
  if (!splashBitmapPath.empty() && GetFileAttributesA(splashBitmapPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    impl_->bitmap = static_cast<HBITMAP>(
        LoadImageA(nullptr, splashBitmapPath.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    int w = 105, h = 105;
    if (impl_->bitmap) {
      BITMAP bm{};
      GetObjectA(impl_->bitmap, sizeof(bm), &bm);
      w = bm.bmWidth;
      h = bm.bmHeight;
    }
    int left = (screenW - w) / 2, top = (screenH - h) / 2;
    impl_->splash = CreateWindowExA(WS_EX_TOOLWINDOW, kSplashClass, "", WS_POPUP, left, top, w, h, nullptr, nullptr,
                                    inst, nullptr);
    if (impl_->splash) {
      impl_->splashImage = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, w, h,
                                           impl_->splash, nullptr, inst, nullptr);
      if (impl_->bitmap) SendMessageA(impl_->splashImage, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(impl_->bitmap));
      ShowWindow(impl_->splash, SW_SHOWNOACTIVATE);
      UpdateWindow(impl_->splash);
      GetWindowRect(impl_->splash, &splashRect);
      haveSplash = true;
    }
  }

  // Preparing window: single border, no border icons, client 369 by 89, Tahoma 8 point.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER;
  RECT r{0, 0, kInitClientWidth, kInitClientHeight};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  int left, top;
  if (haveSplash) {
    const int sw = splashRect.right - splashRect.left, sh = splashRect.bottom - splashRect.top;
    left = splashRect.left + sw / 2 + 50;
    top = splashRect.top + sh + 25;
    if (top > screenH - h - 45) top = screenH - h - 45;
    if (left > screenW - w - 25) left = screenW - w - 25;
  } else {
    left = (screenW - w) / 2;
    top = (screenH - h) / 2;
  }
  impl_->init = CreateWindowExA(0, kInitClass, caption.c_str(), style, left, top, w, h, nullptr, nullptr, inst, nullptr);
  if (!impl_->init) return;
  HDC dc = GetDC(impl_->init);
  int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(impl_->init, dc);
  impl_->font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
  impl_->label = CreateWindowExA(0, "STATIC", label.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 56, 16, 297, 33,
                                 impl_->init, nullptr, inst, nullptr);
  SendMessageA(impl_->label, WM_SETFONT, reinterpret_cast<WPARAM>(impl_->font), TRUE);
  // Image1 on Windows XP and later, Image2 before.
  OsVersion v = WindowsVersion();
  bool modern = v.Major > 5 || (v.Major == 5 && v.Minor != 0);
  HWND icon = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ICON, 16, 16, 32, 32, impl_->init,
                              nullptr, inst, nullptr);
  SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIcon(nullptr, modern ? IDI_INFORMATION : IDI_APPLICATION)), 0);
  SetWindowTextA(icon, modern ? "Image1" : "Image2");
  impl_->progress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 16, 56, 337, 17, impl_->init,
                                    nullptr, inst, nullptr);
  ShowWindow(impl_->init, SW_SHOW);
  UpdateWindow(impl_->init);
  PumpMessages();
}

bool StartupWindows::Created() const { return impl_->init != nullptr; }

void StartupWindows::SetProgressRange(int maximum) {
  if (!impl_->progress) return;
  SendMessageA(impl_->progress, PBM_SETRANGE32, 0, maximum);
  SendMessageA(impl_->progress, PBM_SETPOS, 1, 0);
  UpdateWindow(impl_->init);
}

void StartupWindows::Advance() {
  if (!impl_->progress) return;
  SendMessageA(impl_->progress, PBM_DELTAPOS, 1, 0);
  UpdateWindow(impl_->init);
  if (impl_->splash && IsWindowVisible(impl_->splash)) UpdateWindow(impl_->splash);
  PumpMessages();
}

void* StartupWindows::Owner() const { return impl_->init; }

// Under Wine on an X display without a window manager, the hide of the preparing window (it
// has a caption) holds this thread for 2 s: Wine waits for a window manager to confirm the
// window was mapped before it takes it off the screen. Every page hidden behind the next one
// waits the same way, and Windows does not wait at all, so nothing here works around it; the
// Wine harness can tell the prefix that no window manager is present (KEM_WINE_UNMANAGED).
void StartupWindows::Close() {
  if (impl_->init) ShowWindow(impl_->init, SW_HIDE);
  if (impl_->splash) ShowWindow(impl_->splash, SW_HIDE);
  impl_->Destroy();
}

}  // namespace kem::platform
