/* A program for the end-to-end tests: records its command line and working folder in the
   file named by KEM_RECORD, then exits with the code given as "/exit=N" or, with "/hang",
   never ends by itself. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  const char* line = GetCommandLineA();
  char path[MAX_PATH] = "", folder[MAX_PATH] = "";
  if (GetEnvironmentVariableA("KEM_RECORD", path, sizeof(path))) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD wrote;
      GetCurrentDirectoryA(sizeof(folder), folder);
      WriteFile(h, line, (DWORD)strlen(line), &wrote, NULL);
      WriteFile(h, "\r\n", 2, &wrote, NULL);
      WriteFile(h, folder, (DWORD)strlen(folder), &wrote, NULL);
      CloseHandle(h);
    }
  }
  if (strstr(line, "/hang")) Sleep(INFINITE);
  const char* code = strstr(line, "/exit=");
  return code ? atoi(code + 6) : 0;
}
