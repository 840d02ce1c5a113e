// The peer of the plug-in benchmark: the least a program can do for one plug-in call -
// load the library, call RunTimeExecute for the length and again for the result, free
// the library - with a variables text of the given size.
//   plugin_loop DLL VARIABLES CALLS
// Prints the time of all calls in ms.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using Entry = int(__stdcall*)(void*, const char*, const char*, void*, int*, char*);

static unsigned char __stdcall Progress(int, const char*) { return 1; }

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int variables = std::atoi(argv[2]), calls = std::atoi(argv[3]);
  std::string text;
  for (int i = 0; i < variables; ++i) text += (i ? ",PAD" : "PAD") + std::to_string(i) + ",\"padding value, 24 chars\"";
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  int slot = 0;
  for (int i = 0; i < calls; ++i) {
    HMODULE m = LoadLibraryA(argv[1]);
    if (!m) return 3;
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m, "RunTimeExecute")));
    int length = entry(nullptr, text.c_str(), "echo", reinterpret_cast<void*>(&Progress), &slot, nullptr);
    if (length >= 0) {
      std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
      entry(nullptr, text.c_str(), "echo", reinterpret_cast<void*>(&Progress), &slot, buffer.data());
      text.assign(buffer.data());
    }
    FreeLibrary(m);
  }
  QueryPerformanceCounter(&b);
  std::printf("%.0f\n", (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart);
  return 0;
}
