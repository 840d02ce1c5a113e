#include "platform/language/language_win32.h"

#include <windows.h>

#include "platform/files/files.h"
#include "script/language/language_names.h"

namespace kem::platform {
namespace {

int LocaleValue(LCID locale, LCTYPE type) {
  char buffer[16] = {};
  if (GetLocaleInfoA(locale, type, buffer, sizeof(buffer)) <= 0) return 0;
  return LocaleNumber(buffer);
}

std::string EnglishName(int id) {
  char buffer[128] = {};
  if (GetLocaleInfoA(MAKELCID(static_cast<WORD>(id), SORT_DEFAULT), LOCALE_SENGLANGUAGE, buffer, sizeof(buffer)) <= 0)
    return {};
  return buffer;
}

// The selection window: dialog border, client 241 by 127, Tahoma 8 point, centred.
constexpr char kClass[] = "TSetLanguage";
constexpr int kClientWidth = 241, kClientHeight = 127;
constexpr int kComboId = 100;

struct WindowState {
  int result = 0;  // 1 OK, 2 Cancel
};

LRESULT CALLBACK SetLanguageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (state && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        state->result = LOWORD(wParam) == IDOK ? 1 : 2;
        return 0;
      }
      break;
    case WM_CLOSE:
      if (state) state->result = 2;
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class Win32Languages : public LanguageService {
 public:
  std::vector<std::string> ListFiles(const std::string& folder, const std::string& prefix) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
  }

  std::optional<std::string> ReadFile(const std::string& path) override {
    if (!FileExists(path)) return std::nullopt;
    try {
      return ReadFileFrom(path, 0);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }

  int UserLanguageId() override { return LocaleValue(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE); }
  int UserDefaultLanguageId() override { return LocaleValue(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTLANGUAGE); }
  std::string EnglishLanguageName(int id) override { return EnglishName(id); }

  std::optional<std::size_t> ChooseLanguage(const Choice& choice) override {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    if (!GetClassInfoA(inst, kClass, &wc)) {
      wc.lpfnWndProc = SetLanguageProc;
      wc.hInstance = inst;
      wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      wc.lpszClassName = kClass;
      RegisterClassA(&wc);
    }
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, top = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    WindowState state;
    HWND window =
        CreateWindowExA(exStyle, kClass, choice.Caption.c_str(), style, left, top, w, h, nullptr, nullptr, inst, nullptr);
    if (!window) return choice.Preselected;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    HDC dc = GetDC(window);
    const int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(window, dc);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
    auto child = [&](const char* cls, const std::string& text, DWORD s, int x, int y, int cw, int ch, int id) {
      HWND c = CreateWindowExA(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | s, x, y, cw, ch, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
      SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      return c;
    };
    child("STATIC", choice.Label, SS_LEFT, 56, 16, 169, 33, 0);
    HWND combo = child("COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 56, 56, 169, 200, kComboId);
    for (const std::string& language : choice.Languages)
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(language.c_str()));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(choice.Preselected), 0);
    child("BUTTON", choice.Ok, BS_DEFPUSHBUTTON | WS_TABSTOP, 69, 92, 75, 25, IDOK);
    child("BUTTON", choice.Cancel, BS_PUSHBUTTON | WS_TABSTOP, 150, 92, 75, 25, IDCANCEL);
    // Image1 on Windows XP and later, Image2 before, as in the preparing window.
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&v);
#pragma GCC diagnostic pop
    const bool modern = v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion != 0);
    HWND icon = child("STATIC", modern ? "Image1" : "Image2", SS_ICON, 16, 16, 32, 32, 0);
    SendMessageA(icon, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIcon(nullptr, modern ? IDI_INFORMATION : IDI_APPLICATION)), 0);

    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(combo);
    MSG msg;
    while (state.result == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (IsDialogMessageA(window, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    DestroyWindow(window);
    DeleteObject(font);
    if (state.result != 1) return std::nullopt;
    return selected < 0 ? choice.Preselected : static_cast<std::size_t>(selected);
  }
};

}  // namespace

std::string UserLanguageName() {
  return LanguageNameOf(LocaleValue(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE), EnglishName);
}

std::shared_ptr<LanguageService> CreateLanguageService() { return std::make_shared<Win32Languages>(); }

}  // namespace kem::platform
