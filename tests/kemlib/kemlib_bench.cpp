// Extraction through kem.lib's exports, for the benchmark script under Wine:
// kemlib_bench ARCHIVE DEST [PASSWORD]; prints the seconds the extraction took.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kemlib/archive_library.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* password = argc > 3 ? argv[3] : "";
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  ArchiveListEntry* entries = nullptr;
  int32_t count = 0;
  intptr_t list = OpenListArchive(argv[1], 0, nullptr, 0, 0, 0, password, &entries, &count);
  if (!list) {
    std::printf("list failed: %d\n", GetLastArchiveError(0));
    return 1;
  }
  std::vector<std::string> names;
  for (int32_t i = 0; i < count; ++i) names.push_back(entries[i].name);
  CloseListArchive(list);
  std::vector<char*> pointers;
  for (auto& n : names) pointers.push_back(n.data());
  TSZW_TARGETFILES selection{pointers.data(), static_cast<int32_t>(pointers.size())};
  if (!ExtractArchive(argv[1], 1, argv[2], &selection, 0, password, nullptr, nullptr, nullptr, nullptr)) {
    std::printf("extract failed: %d\n", GetLastArchiveError(0));
    return 1;
  }
  QueryPerformanceCounter(&end);
  std::printf("seconds=%.3f\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
  return 0;
}
