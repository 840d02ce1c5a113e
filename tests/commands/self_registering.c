/* A self-registering library for the end-to-end tests: its registration entry points write
   "register" or "unregister" and the current folder into the file named by KEM_RECORD. */
#include <windows.h>
#include <string.h>

static HRESULT Record(const char* what) {
  char path[MAX_PATH] = "", folder[MAX_PATH] = "";
  if (!GetEnvironmentVariableA("KEM_RECORD", path, sizeof(path))) return E_FAIL;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return E_FAIL;
  DWORD wrote;
  GetCurrentDirectoryA(sizeof(folder), folder);
  WriteFile(h, what, (DWORD)strlen(what), &wrote, NULL);
  WriteFile(h, "\r\n", 2, &wrote, NULL);
  WriteFile(h, folder, (DWORD)strlen(folder), &wrote, NULL);
  CloseHandle(h);
  return S_OK;
}

HRESULT __stdcall DllRegisterServer(void) { return Record("register"); }
HRESULT __stdcall DllUnregisterServer(void) { return Record("unregister"); }
