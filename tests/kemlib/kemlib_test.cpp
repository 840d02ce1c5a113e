// kem.lib through its four exports, over the table of archives that 7zz built; and the
// engine's list and extract operations over it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "media/archive_operations.h"
#include "platform/archive/archive_host.h"
#include "kemlib/archive_library.h"
#include "tests/sevenzip/archive_fixtures.h"
#include "tests/sevenzip/archive_writer.h"

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

// Owns a handle and closes it with its own function (CloseHandle, FindClose).
template <BOOL(WINAPI* Close)(HANDLE)>
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) Close(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};
using FileHandle = Handle<CloseHandle>;
using FindHandle = Handle<FindClose>;

bool ReadAll(const std::wstring& path, std::string& out) {
  FileHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  return true;
}

// Calls f(name, data) for each entry of the folder (without "." and "..").
template <typename F>
void ForEachIn(const std::wstring& dir, F&& f) {
  WIN32_FIND_DATAW fd;
  FindHandle h(FindFirstFileW((dir + L"\\*").c_str(), &fd));
  if (h.get() == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name != L"." && name != L"..") f(name, fd);
  } while (FindNextFileW(h.get(), &fd));
}

// Every file and folder below dir, relative, folders with a trailing backslash.
void CollectTree(const std::wstring& dir, const std::wstring& prefix, std::set<std::wstring>& out) {
  ForEachIn(dir, [&](const std::wstring& name, const WIN32_FIND_DATAW& fd) {
    bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.insert(prefix + name + (folder ? L"\\" : L""));
    if (folder) CollectTree(dir + L"\\" + name, prefix + name + L"\\", out);
  });
}

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wide_ = std::wstring(temp) + L"kemlib-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(wide_.c_str(), nullptr);
    int n = WideCharToMultiByte(CP_ACP, 0, wide_.c_str(), -1, nullptr, 0, nullptr, nullptr);
    path_.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide_.c_str(), -1, path_.data(), n, nullptr, nullptr);
    path_.resize(static_cast<size_t>(n) - 1);
  }
  ~TempFolder() { Remove(wide_); }
  const std::string& str() const { return path_; }
  const std::wstring& wide() const { return wide_; }
  std::string operator/(const std::string& p) const { return path_ + "\\" + p; }
  // Files below the folder.
  size_t CountFiles() const {
    std::set<std::wstring> tree;
    CollectTree(wide_, L"", tree);
    return static_cast<size_t>(std::count_if(tree.begin(), tree.end(), [](auto& p) { return p.back() != L'\\'; }));
  }
  std::set<std::wstring> Tree() const {
    std::set<std::wstring> tree;
    CollectTree(wide_, L"", tree);
    return tree;
  }

 private:
  static void Remove(const std::wstring& dir) {
    ForEachIn(dir, [&](const std::wstring& name, const WIN32_FIND_DATAW& fd) {
      std::wstring p = dir + L"\\" + name;
      SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        Remove(p);
      else
        DeleteFileW(p.c_str());
    });
    RemoveDirectoryW(dir.c_str());
  }
  std::wstring wide_;
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
  // The layout of the 32-bit library; in a 64-bit build the name pointer and the index take
  // 16 bytes, and everything after them moves by 8.
  const std::size_t shift = sizeof(void*) == 8 ? 8 : 0;
  EXPECT_EQ(sizeof(ArchiveListEntry), 48u + shift);
  EXPECT_EQ(offsetof(ArchiveListEntry, size), 8u + shift);
  EXPECT_EQ(offsetof(ArchiveListEntry, packedSize), 16u + shift);
  EXPECT_EQ(offsetof(ArchiveListEntry, modificationTime), 32u + shift);
  EXPECT_EQ(offsetof(ArchiveListEntry, attributes), 40u + shift);
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
  EXPECT_TRUE(kem::ExtractSupportArchive(*kem::platform::CreateArchiveHost(), ArchivePath("lzma2"), dest.str(), error));
  EXPECT_EQ(error, "");
  std::string text;
  EXPECT_TRUE(ReadAll(Wide(dest / "sub\\deeper\\small.txt", CP_ACP), text));
  EXPECT_EQ(text, "small file\n");
  // Extracting again replaces the files (the overwrite flag is set).
  EXPECT_TRUE(kem::ExtractSupportArchive(*kem::platform::CreateArchiveHost(), ArchivePath("lzma2"), dest.str(), error));

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
    EXPECT_FALSE(kem::ExtractFromArchive(*kem::platform::CreateArchiveHost(), c.archive, c.password, out.str(), {}, c.withNames ? &names : nullptr, true,
                                         true, error));
    EXPECT_EQ(error, c.text);
  }
  // The right password through the operation, and a listing with its receivers.
  TempFolder out;
  EXPECT_TRUE(kem::ExtractFromArchive(*kem::platform::CreateArchiveHost(), ArchivePath("aes_header"), "Secret", out.str(), {}, nullptr, true, true, error))
      << error;
  std::vector<std::string> names, sizes, dates;
  kem::ArchiveListReceivers receivers;
  receivers.names = &names;
  receivers.sizes = &sizes;
  receivers.dates = &dates;
  EXPECT_TRUE(kem::ListArchive(*kem::platform::CreateArchiveHost(), ArchivePath("lzma2"), "", nullptr, receivers, error));
  ASSERT_EQ(names.size(), 10u);
  ASSERT_EQ(sizes.size(), 10u);
  EXPECT_EQ(dates[0].size(), 19u);
}

std::string Ansi(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return std::wstring(full, n);
}

// Writes a crafted archive into the folder and returns its path.
std::string Craft(const TempFolder& work, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = work / name;
  kem::test::WriteBytes(path, bytes);
  return path;
}

std::vector<std::string> g_progressNames;
int32_t __stdcall RecordingProgress(const char* name, uint32_t, uint32_t, uint32_t, uint32_t) {
  g_progressNames.push_back(name);
  return 1;
}

// The process code page is the one the test entry asks for (the 932 twin runs under a
// Japanese locale); a prefix that silently fell back to another would prove nothing.
TEST(KemLibNames, ProcessCodePageIsTheOneAskedFor) {
  const char* want = std::getenv("KEM_WINE_CODE_PAGE");
  if (want) {
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(want)));
  }
}

// Names are checked and written in UTF-16: the trail bytes 0x7C (ポ) and 0x5C (ソ, 表) of
// code page 932 neither refuse a name nor split a folder, and characters outside the code
// page (✓, and a character beyond the basic plane) keep their own names. Listed names, and
// the names handed to the callbacks, are in the process code page.
TEST(KemLibNames, WideNamesAreWrittenUnderTheirOwnNames) {
  const std::set<std::wstring> want = {L"\u30DD\u30FC\u30C8.txt", L"\u30BD\\", L"\u30BD\\\u8868.txt", L"\u8868\\",
                                       L"\u8868\\\u30BD.txt", L"\u2713.txt", L"\U0001F600.txt"};
  std::set<std::string> wantListed;
  for (const std::wstring& w : want) wantListed.insert(Ansi(w.back() == L'\\' ? w.substr(0, w.size() - 1) : w));
  std::vector<std::string> listed = ListNames("wide_names", nullptr);
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), wantListed);
  for (bool byName : {false, true}) {
    SCOPED_TRACE(byName ? "listed names selected" : "every entry");
    TempFolder dest;
    g_progressNames.clear();
    std::vector<std::string> names = listed;
    std::vector<char*> pointers;
    for (auto& n : names) pointers.push_back(n.data());
    TSZW_TARGETFILES selection{pointers.data(), static_cast<int32_t>(pointers.size())};
    int32_t ok = ExtractArchive(ArchivePath("wide_names").c_str(), 1, dest.str().c_str(), byName ? &selection : nullptr,
                                0, "", nullptr, RecordingProgress, nullptr, nullptr);
    ASSERT_NE(ok, 0) << GetLastArchiveError(0);
    EXPECT_EQ(dest.Tree(), want);
    std::string text;
    EXPECT_TRUE(ReadAll(dest.wide() + L"\\\u30BD\\\u8868.txt", text));
    EXPECT_EQ(text, "table\n");
    for (const std::string& name : g_progressNames) EXPECT_TRUE(wantListed.count(name)) << name;
  }
}

// Crafted names over the path limit or the depth limit fail before anything is written.
TEST(KemLibHardening, PathLengthAndDepthLimits) {
  TempFolder work;
  TempFolder dest;
  const size_t base = FullPath(dest.wide()).size() + 1;  // the destination and a separator
  auto name = [&](size_t total) { return std::u16string(total - base, u'n'); };
  struct Case {
    const char* what;
    std::u16string name;
    bool folder;
    int32_t code;
  } cases[] = {
      {"file path of 259 characters", name(MAX_PATH - 1), false, 0},
      {"file path of 260 characters", name(MAX_PATH), false, codes::kWriteError},
      {"folder path of 247 characters", name(MAX_PATH - 13), true, 0},
      {"folder path of 248 characters", name(MAX_PATH - 12), true, codes::kWriteError},
      {"4,500 characters across folders", kem::test::LongPathName(), false, codes::kWriteError},
      {"one name of 65,541 characters", std::u16string(65541, u'x'), false, codes::kWriteError},
      {"20,000 nested folders", kem::test::DeepFolderName(), true, codes::kUnsafeName},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archive = Craft(work, "limits" + std::to_string(n++) + ".7z", kem::test::NamedEntryFixture(c.name, c.folder));
    int32_t ok = ExtractArchive(archive.c_str(), 1, dest.str().c_str(), nullptr, 0, "", nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(ok ? 0 : GetLastArchiveError(0), c.code);
    std::set<std::wstring> tree = dest.Tree();
    if (c.code != 0) {
      EXPECT_TRUE(tree.empty()) << tree.size() << " written";
      continue;
    }
    EXPECT_EQ(tree.size(), 2u);
    std::wstring target = dest.wide() + L"\\" + std::wstring(c.name.begin(), c.name.end());
    DWORD a = GetFileAttributesW(target.c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && ((a & FILE_ATTRIBUTE_DIRECTORY) != 0) == c.folder);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    c.folder ? RemoveDirectoryW(target.c_str()) : DeleteFileW(target.c_str());
    DeleteFileW((dest.wide() + L"\\first.txt").c_str());
  }
}

// A million entries named "a", the last with data: the engine lists them and extracts the
// million listed names within seconds, and the last entry is the file left.
TEST(KemLibHardening, DuplicateNamesThroughTheEngine) {
  TempFolder work;
  std::string archive = Craft(work, "duplicates.7z", kem::test::DuplicateNamesFixture());
  TempFolder dest;
  auto start = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  kem::ArchiveListReceivers receivers;
  receivers.names = &names;
  std::string error;
  ASSERT_TRUE(kem::ListArchive(*kem::platform::CreateArchiveHost(), archive, "", nullptr, receivers, error)) << error;
  ASSERT_EQ(names.size(), 1000000u);
  ASSERT_TRUE(kem::ExtractFromArchive(*kem::platform::CreateArchiveHost(), archive, "", dest.str(), {}, &names, true, true, error)) << error;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 30.0);
  std::string text;
  EXPECT_TRUE(ReadAll(dest.wide() + L"\\a", text));
  EXPECT_EQ(text, "last\n");
  EXPECT_EQ(dest.Tree().size(), 1u);
}

// 200 encrypted folders that share the key derivation's salt cost about one derivation.
TEST(KemLibHardening, EncryptedFoldersShareOneKeyDerivation) {
  auto timed = [](const char* archive) {
    TempFolder dest;
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(ExtractArchive(ArchivePath(archive).c_str(), 1, dest.str().c_str(), nullptr, 0, "Secret", nullptr,
                             nullptr, nullptr, nullptr),
              0)
        << archive << " " << GetLastArchiveError(0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return std::make_pair(seconds, dest.CountFiles());
  };
  auto [one, oneFiles] = timed("aes_copy");  // a single folder: one derivation
  auto [many, manyFiles] = timed("aes_many");
  EXPECT_EQ(manyFiles, 200u);
  EXPECT_LT(many, 10 * one + 1.0) << "one folder " << one << " s";
}

// The support archive is refused with 1007, before anything is written, when its listed
// sizes do not fit the free space of the destination's volume.
class SpaceHost : public kem::ArchiveHost {
 public:
  std::string DateText(uint64_t fileTime) override { return kem::platform::ArchiveDateText(fileTime); }
  std::optional<DiskSpace> FreeSpace(const std::string& folder) override {
    askedFor = folder;
    return DiskSpace{freeBytes, 4096};
  }
  std::string askedFor;
  uint64_t freeBytes = 0;
};

TEST(ArchiveOperations, SupportArchiveMustFitTheFreeSpace) {
  struct Case {
    uint64_t freeBytes;
    bool fits;
  } cases[] = {{100000, false}, {1ull << 40, true}};
  SpaceHost space;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freeBytes);
    TempFolder dest;
    space.freeBytes = c.freeBytes;
    std::string error;
    EXPECT_EQ(kem::ExtractSupportArchive(space, ArchivePath("lzma2"), dest / "support", error), c.fits);
    EXPECT_EQ(error, c.fits ? "" : "#1007");
    EXPECT_EQ(space.askedFor, dest / "support");
    EXPECT_EQ(dest.CountFiles(), c.fits ? 7u : 0u);
  }
  // The real figure of the test's volume lets it through.
  TempFolder dest;
  std::string error;
  EXPECT_TRUE(kem::ExtractSupportArchive(*kem::platform::CreateArchiveHost(), ArchivePath("lzma2"), dest.str(), error))
      << error;
  EXPECT_TRUE(kem::platform::QueryDiskSpace(dest / "not\\yet\\made").has_value());
}

}  // namespace
