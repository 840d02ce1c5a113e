// kem.lib through its four exports, over the table of archives that 7zz built; and the
// engine's list and extract operations over it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/archive_operations.h"
#include "platform/archive/archive_library.h"
#include "tests/sevenzip/archive_fixtures.h"

namespace {

namespace codes = kem::archive_codes;
using kem::test::kGoodArchives;

// The fixture folder as a Windows path (Wine maps the Unix root to Z:).
std::string Fixtures() {
  const char* unixPath = std::getenv("KEM_ARCHIVE_FIXTURES");
  std::string path = std::string("Z:") + (unixPath ? unixPath : "");
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ArchivePath(const std::string& name) { return Fixtures() + "\\" + name + ".7z"; }

std::wstring Wide(const std::string& text, UINT codePage) {
  int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.c_str(), -1, out.data(), n);
  out.resize(static_cast<size_t>(n) - 1);
  return out;
}

bool ReadAll(const std::wstring& path, std::string& out) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return true;
}

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "kemlib-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() { Remove(path_); }
  const std::string& str() const { return path_; }
  std::string operator/(const std::string& p) const { return path_ + "\\" + p; }
  size_t CountFiles() const { return Count(path_); }

 private:
  static size_t Count(const std::string& dir) {
    size_t n = 0;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        n += Count(dir + "\\" + name);
      else
        ++n;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
  }
  static void Remove(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        std::string p = dir + "\\" + name;
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Remove(p);
        else
          DeleteFileA(p.c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }
  std::string path_;
};

// The listed names of an archive, through the exports.
std::vector<std::string> ListNames(const std::string& archive, const char* password) {
  ArchiveListEntry* entries = nullptr;
  int32_t count = -1;
  intptr_t h = OpenListArchive(ArchivePath(archive).c_str(), 0, nullptr, 0, 0, 0, password ? password : "", &entries, &count);
  EXPECT_NE(h, 0) << archive << " code " << GetLastArchiveError(0);
  std::vector<std::string> names;
  for (int32_t i = 0; i < count; ++i) names.push_back(entries[i].name);
  if (h) CloseListArchive(h);
  return names;
}

struct Counters {
  int password = 0;
  int progress = 0;
  int entries = 0;
  int stopAt = 0;  // progress call that answers 0
  uint64_t lastDone = 0, lastTotal = 0;
  std::string passwordToGive;
};
Counters g;

int32_t __stdcall CountingPassword(char* buffer) {
  ++g.password;
  if (g.passwordToGive.empty()) return 0;
  strcpy(buffer, g.passwordToGive.c_str());
  return 1;
}

int32_t __stdcall CountingProgress(const char* name, uint32_t doneLow, uint32_t doneHigh, uint32_t totalLow,
                                   uint32_t totalHigh) {
  ++g.progress;
  g.lastDone = (uint64_t{doneHigh} << 32) | doneLow;
  g.lastTotal = (uint64_t{totalHigh} << 32) | totalLow;
  EXPECT_NE(name, nullptr);
  return g.progress == g.stopAt ? 0 : 1;
}

int32_t __stdcall CountingEntries(uint32_t, uint32_t) {
  ++g.entries;
  return 1;
}

int32_t g_overwriteAnswer = 4;
int32_t __stdcall AnswerOverwrite(const char*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                  uint32_t, uint32_t) {
  return g_overwriteAnswer;
}

// Extracts the named entries (every listed one when names is empty) and returns 0 or the code.
int32_t Extract(const std::string& archivePath, const std::string& dest, const char* password,
                std::vector<std::string> names, ArchivePasswordCallback passwordCallback = nullptr) {
  std::vector<char*> pointers;
  for (auto& n : names) pointers.push_back(n.data());
  TSZW_TARGETFILES selection{pointers.data(), static_cast<int32_t>(pointers.size())};
  int32_t ok = ExtractArchive(archivePath.c_str(), 1, dest.c_str(), &selection, 0, password ? password : "",
                              passwordCallback, CountingProgress, CountingEntries, AnswerOverwrite);
  return ok ? 0 : GetLastArchiveError(0);
}

TEST(KemLibExports, EntryLayoutIsFixed) {
  EXPECT_EQ(sizeof(ArchiveListEntry), 48u);
  EXPECT_EQ(offsetof(ArchiveListEntry, size), 8u);
  EXPECT_EQ(offsetof(ArchiveListEntry, packedSize), 16u);
  EXPECT_EQ(offsetof(ArchiveListEntry, modificationTime), 32u);
  EXPECT_EQ(offsetof(ArchiveListEntry, attributes), 40u);
  // The library is found by plain export names.
  HMODULE lib = GetModuleHandleA("kem.lib");
  ASSERT_NE(lib, nullptr);
  for (const char* name : {"ExtractArchive", "OpenListArchive", "CloseListArchive", "GetLastArchiveError"})
    EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(lib, name)), nullptr) << name;
}

TEST(KemLibExports, EveryArchiveOfTheTableExtracts) {
  for (const auto& c : kGoodArchives) {
    SCOPED_TRACE(c.name);
    TempFolder dest;
    g = Counters{};
    std::vector<std::string> names = ListNames(c.name, c.password);
    ASSERT_EQ(names.size(), 10u);
    ASSERT_EQ(Extract(ArchivePath(c.name), dest.str(), c.password, names), 0);
    EXPECT_EQ(g.lastDone, g.lastTotal);
    EXPECT_EQ(g.entries, 10);
    for (const char* f : kem::test::kTreeFiles) {
      std::wstring rel = Wide(f, CP_UTF8);
      for (auto& ch : rel)
        if (ch == L'/') ch = L'\\';
      std::string want, got;
      ASSERT_TRUE(ReadAll(Wide(Fixtures(), CP_ACP) + L"\\src\\" + rel, want)) << f;
      ASSERT_TRUE(ReadAll(Wide(dest.str(), CP_ACP) + L"\\" + rel, got)) << f;
      EXPECT_TRUE(want == got) << f;
    }
    DWORD a = GetFileAttributesA((dest / kem::test::kEmptyFolder).c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
  }
}

TEST(KemLibExports, ListingReportsSizesTimesAndAttributes) {
  ArchiveListEntry* entries = nullptr;
  int32_t count = 0;
  intptr_t h = OpenListArchive(ArchivePath("lzma2").c_str(), 0, nullptr, 0, 0, 0, "", &entries, &count);
  ASSERT_NE(h, 0);
  bool sawBin = false;
  for (int32_t i = 0; i < count; ++i) {
    std::string name = entries[i].name;
    EXPECT_NE(entries[i].modificationTime, 0u) << name;
    if (name == "sub\\b.bin") {
      sawBin = true;
      EXPECT_EQ(entries[i].size, 150000u);
    }
    if (name == "emptydir") {
      EXPECT_TRUE(entries[i].attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
  }
  EXPECT_TRUE(sawBin);
  CloseListArchive(h);
}

TEST(KemLibExports, FailuresCarryTheirCodes) {
  auto bytes = *kem::test::ReadBytes(ArchivePath("craft"));
  TempFolder work;
  std::string unsafe = work / "unsafe.7z";
  kem::test::WriteBytes(unsafe, kem::test::PatchCraftedName(bytes, "..\\aaa"));
  struct Case {
    const char* what;
    std::string archive;
    const char* password;
    std::vector<std::string> names;
    int32_t code;
    bool nothingWritten = true;
  } cases[] = {
      {"missing archive", ArchivePath("no-such-archive"), nullptr, {"a.txt"}, codes::kNotFound},
      {"name not in archive", ArchivePath("lzma2"), nullptr, {"nothing.txt"}, codes::kBadSelection},
      {"not a 7z archive", Fixtures() + "\\src\\a.txt", nullptr, {"a.txt"}, codes::kUnsupported},
      {"wrong password", ArchivePath("aes_lzma2"), "wrong", {"a.txt"}, codes::kUnsupported},
      {"missing password", ArchivePath("aes_copy"), nullptr, {"a.txt"}, codes::kUnsupported},
      {"encrypted header, wrong password", ArchivePath("aes_header"), "nope", {"a.txt"}, codes::kUnsupported},
      {"truncated", ArchivePath("truncated"), nullptr, {"a.txt"}, codes::kDataError},
      {"flipped bit", ArchivePath("flipped"), nullptr, ListNames("flipped", nullptr), codes::kDataError, false},
      {"parent folder in a name", unsafe, nullptr, {"..\\aaaevil.txt"}, codes::kUnsafeName},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder dest;
    g = Counters{};
    EXPECT_EQ(Extract(c.archive, dest / "out", c.password, c.names), c.code);
    if (c.nothingWritten) {
      EXPECT_EQ(dest.CountFiles(), 0u);
    }
  }
  // Listing fails the same way.
  ArchiveListEntry* entries = nullptr;
  int32_t count = 0;
  EXPECT_EQ(OpenListArchive(ArchivePath("aes_header").c_str(), 0, nullptr, 0, 0, 0, "", &entries, &count), 0);
  EXPECT_EQ(GetLastArchiveError(0), codes::kUnsupported);
  EXPECT_EQ(OpenListArchive(ArchivePath("missing").c_str(), 0, nullptr, 0, 0, 0, "", &entries, &count), 0);
  EXPECT_EQ(GetLastArchiveError(0), codes::kNotFound);
}

TEST(KemLibExports, PasswordCallbackIsAskedAtMostOnce) {
  struct Case {
    const char* archive;
    const char* give;
    int32_t code;
  } cases[] = {
      {"aes_lzma_header", "Secret", 0},  // several encrypted folders and the header: one question
      {"aes_lzma2", "", codes::kUnsupported},  // the callback has no password
      {"aes_copy", "bad", codes::kUnsupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    TempFolder dest;
    g = Counters{};
    g.passwordToGive = c.give;
    int32_t ok = ExtractArchive(ArchivePath(c.archive).c_str(), 1, dest.str().c_str(), nullptr, 0, "",
                                CountingPassword, CountingProgress, CountingEntries, AnswerOverwrite);
    EXPECT_EQ(ok ? 0 : GetLastArchiveError(0), c.code);
    EXPECT_EQ(g.password, 1);
  }
}

TEST(KemLibExports, ProgressCancelAndOverwriteAnswers) {
  {
    TempFolder dest;
    g = Counters{};
    g.stopAt = 2;
    EXPECT_EQ(Extract(ArchivePath("nonsolid"), dest.str(), nullptr, ListNames("nonsolid", nullptr)), codes::kCancelled);
    EXPECT_EQ(g.progress, 2);
  }
  for (int32_t answer : {1, 4}) {
    TempFolder dest;
    kem::test::WriteBytes(dest / "a.txt", {'o', 'l', 'd'});
    g = Counters{};
    g_overwriteAnswer = answer;
    EXPECT_EQ(Extract(ArchivePath("lzma2"), dest.str(), nullptr, {"a.txt"}), 0);
    EXPECT_EQ(kem::test::ReadBytes(dest / "a.txt")->size() == 3, answer == 1);
  }
  g_overwriteAnswer = 4;
}

TEST(KemLibExports, EmptyArchiveAndEmptySelection) {
  TempFolder dest;
  EXPECT_TRUE(ListNames("empty", nullptr).empty());
  g = Counters{};
  EXPECT_EQ(Extract(ArchivePath("empty"), dest.str(), nullptr, {}), 0);
  EXPECT_EQ(dest.CountFiles(), 0u);
}

TEST(ArchiveOperations, SupportArchiveAndErrorTexts) {
  TempFolder dest;
  std::string error = "stale";
  EXPECT_TRUE(kem::ExtractSupportArchive(ArchivePath("lzma2"), dest.str(), error));
  EXPECT_EQ(error, "");
  std::string text;
  EXPECT_TRUE(ReadAll(Wide(dest / "sub\\deeper\\small.txt", CP_ACP), text));
  EXPECT_EQ(text, "small file\n");
  // Extracting again replaces the files (the overwrite flag is set).
  EXPECT_TRUE(kem::ExtractSupportArchive(ArchivePath("lzma2"), dest.str(), error));

  struct Case {
    const char* what;
    std::string archive;
    const char* password;
    bool withNames;
    std::string text;
  } cases[] = {
      {"missing, listed first", ArchivePath("missing"), "", false, "The archive file was not found"},
      {"missing, names given", ArchivePath("missing"), "", true, "#1001"},
      {"wrong password on the header", ArchivePath("aes_header"), "x", false,
       "The archive cannot be opened: unsupported archive or incorrect password"},
      {"wrong password on the data", ArchivePath("aes_lzma2"), "x", false, "#1003"},
      {"damaged", ArchivePath("flipped"), "", false, "#1005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder out;
    std::vector<std::string> names{"a.txt"};
    EXPECT_FALSE(kem::ExtractFromArchive(c.archive, c.password, out.str(), {}, c.withNames ? &names : nullptr, true,
                                         true, error));
    EXPECT_EQ(error, c.text);
  }
  // The right password through the operation, and a listing with its receivers.
  TempFolder out;
  EXPECT_TRUE(kem::ExtractFromArchive(ArchivePath("aes_header"), "Secret", out.str(), {}, nullptr, true, true, error))
      << error;
  std::vector<std::string> names, sizes, dates;
  kem::ArchiveListReceivers receivers;
  receivers.names = &names;
  receivers.sizes = &sizes;
  receivers.dates = &dates;
  EXPECT_TRUE(kem::ListArchive(ArchivePath("lzma2"), "", nullptr, receivers, error));
  ASSERT_EQ(names.size(), 10u);
  ASSERT_EQ(sizes.size(), 10u);
  EXPECT_EQ(dates[0].size(), 19u);
}

}  // namespace
