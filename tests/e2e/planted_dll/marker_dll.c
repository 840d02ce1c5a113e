/* A library that only tells that it was loaded: on process attach it writes the file
 * "<its own file name>.loaded" (holding the path of the program that loaded it) into the
 * folder named by KEM_PLANTED_MARKERS, or beside itself when that is not set. The tests
 * plant copies of it under the names of system libraries beside a setup and in the
 * current folder; a marker file means the copy was mapped into the engine. */
#include <windows.h>

static void WriteMarker(HINSTANCE self) {
  wchar_t own[MAX_PATH + 1];
  wchar_t marker[2 * MAX_PATH + 16];
  wchar_t program[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(self, own, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  own[n] = L'\0';
  const wchar_t* name = own;
  for (const wchar_t* p = own; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  DWORD folder = GetEnvironmentVariableW(L"KEM_PLANTED_MARKERS", marker, MAX_PATH);
  if (folder == 0 || folder >= MAX_PATH) {
    lstrcpyW(marker, own);
  } else {
    if (marker[folder - 1] != L'\\') lstrcatW(marker, L"\\");
    lstrcatW(marker, name);
  }
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
  DWORD written = 0;
  WriteFile(file, program, length * sizeof(wchar_t), &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
  return TRUE;
}
