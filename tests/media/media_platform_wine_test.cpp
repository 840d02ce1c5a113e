// The Windows file service of media copying and the retry question, on a real (Wine) disk
// and desktop.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/media/media_win32.h"

namespace kem::test {
namespace {

const std::wstring kRoot = L"C:\\kem-e2e\\media-platform";

void RemoveTreeW(const std::wstring& path) {
  WIN32_FIND_DATAW d{};
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = d.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTreeW(child);
      } else if (!DeleteFileW(child.c_str())) {
        RemoveDirectoryW(child.c_str());
      }
    } while (FindNextFileW(h, &d));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

void WriteW(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

bool ExistsW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

class MediaPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTreeW(kRoot);
    CreateDirectoryW(L"C:\\kem-e2e", nullptr);
    CreateDirectoryW(kRoot.c_str(), nullptr);
  }
  void TearDown() override { RemoveTreeW(kRoot); }
};

TEST_F(MediaPlatform, MovesNamesOutsideTheCodePageUnderTheirOwnNamesAndLeavesLinksAlone) {
  const std::wstring src = kRoot + L"\\src", dst = kRoot + L"\\dst", outside = kRoot + L"\\outside";
  CreateDirectoryW(src.c_str(), nullptr);
  CreateDirectoryW((src + L"\\sub").c_str(), nullptr);
  CreateDirectoryW(outside.c_str(), nullptr);
  const std::wstring wide = L"\x0416urnal file.txt";  // not in code page 1252
  WriteW(src + L"\\" + wide, "wide");
  WriteW(src + L"\\sub\\plain.txt", "plain");
  const std::wstring wideFolder = L"\x0414ata";
  CreateDirectoryW((src + L"\\" + wideFolder).c_str(), nullptr);
  WriteW(src + L"\\" + wideFolder + L"\\inner.txt", "inner");
  WriteW(outside + L"\\keep.txt", "keep");
  SetFileAttributesW((src + L"\\sub\\plain.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const bool linked =
      CreateSymbolicLinkW((src + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;

  auto files = platform::CreateMediaFileService(1252);
  bool sawWide = false;
  for (const MediaEntry& e : files->List(Narrow(src) + "\\")) {
    if (e.WideName.empty() || e.Folder) continue;
    sawWide = true;
    EXPECT_EQ(std::wstring(e.WideName.begin(), e.WideName.end()), wide);
    // The entry is addressable by the name the listing gives.
    EXPECT_TRUE(files->FileExists(Narrow(src) + "\\" + e.Name)) << e.Name;
  }
  EXPECT_TRUE(sawWide);

  ASSERT_TRUE(TransferFolder(*files, Narrow(src), Narrow(dst), true));
  EXPECT_TRUE(ExistsW(dst + L"\\" + wide));
  EXPECT_TRUE(ExistsW(dst + L"\\sub\\plain.txt"));
  EXPECT_TRUE(ExistsW(dst + L"\\" + wideFolder + L"\\inner.txt"));
  EXPECT_FALSE(ExistsW(src));
  EXPECT_TRUE(ExistsW(outside + L"\\keep.txt"));
  if (linked) {
    EXPECT_FALSE(ExistsW(dst + L"\\link\\keep.txt"));
  }
}

TEST_F(MediaPlatform, FoldersFilesAndUniqueStagingFolders) {
  auto files = platform::CreateMediaFileService(0);
  const std::string root = Narrow(kRoot);
  ASSERT_TRUE(files->CreateFolders(root + "\\a\\b\\c\\"));
  EXPECT_TRUE(files->FolderExists(root + "\\a\\b\\c\\"));
  ASSERT_TRUE(files->CreateEmptyFile(root + "\\a\\marker"));
  EXPECT_EQ(files->FileSize(root + "\\a\\marker"), std::optional<std::uint64_t>(0));
  const std::string one = files->CreateUniqueFolder(root + "\\", "blk");
  const std::string two = files->CreateUniqueFolder(root + "\\", "blk");
  ASSERT_FALSE(one.empty());
  EXPECT_NE(one, two);
  EXPECT_TRUE(files->FolderExists(one));
  EXPECT_TRUE(files->FolderExists(two));
  // Moves never replace; copies replace only when asked.
  WriteW(kRoot + L"\\x.txt", "x");
  WriteW(kRoot + L"\\y.txt", "y");
  EXPECT_FALSE(files->MoveTo(root + "\\x.txt", root + "\\y.txt"));
  EXPECT_FALSE(files->CopyTo(root + "\\x.txt", root + "\\y.txt", true));
  EXPECT_TRUE(files->CopyTo(root + "\\x.txt", root + "\\y.txt", false));
  EXPECT_TRUE(EmptyFolder(*files, root + "\\a\\", true));
  EXPECT_FALSE(files->FolderExists(root + "\\a\\"));
}

// Finds the question's window and acts on it from another thread.
void AnswerWhenShown(const std::function<void(HWND)>& act, std::atomic<bool>& done) {
  for (int i = 0; i < 500 && !done; ++i) {
    HWND w = FindWindowA("TkemExtract", nullptr);
    if (w && IsWindowVisible(w)) {
      act(w);
      return;
    }
    Sleep(20);
  }
}

TEST(ExtractRetryWindow, TimerChoosesDownloadAndTheUserCanChooseEitherOrCancel) {
  auto message = [](int n) { return n == 33 ? std::string("Retry Extraction?") : "text " + std::to_string(n); };
  {
    auto prompt = platform::CreateExtractRetryPrompt(std::chrono::milliseconds(300));
    bool timedOut = false;
    EXPECT_EQ(prompt->Ask(0, message, timedOut), ExtractRetryChoice::Download);
    EXPECT_TRUE(timedOut);
  }
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    ExtractRetryChoice expected;
  } cases[] = {
      {"extract then OK",
       [](HWND w) {
         char caption[64] = {};
         GetWindowTextA(w, caption, sizeof(caption));
         if (std::string(caption) != "Retry Extraction?") return;
         SendMessageA(GetDlgItem(w, 102), BM_CLICK, 0, 0);
         PostMessageA(w, WM_COMMAND, IDOK, 0);
       },
       ExtractRetryChoice::Extract},
      {"OK as shown", [](HWND w) { PostMessageA(w, WM_COMMAND, IDOK, 0); }, ExtractRetryChoice::Download},
      {"Cancel", [](HWND w) { PostMessageA(w, WM_COMMAND, IDCANCEL, 0); }, ExtractRetryChoice::Cancel},
      {"closed", [](HWND w) { PostMessageA(w, WM_CLOSE, 0, 0); }, ExtractRetryChoice::Cancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto prompt = platform::CreateExtractRetryPrompt(std::chrono::milliseconds(20000));
    std::atomic<bool> done{false};
    std::thread user(AnswerWhenShown, c.act, std::ref(done));
    bool timedOut = true;
    const ExtractRetryChoice choice = prompt->Ask(0, message, timedOut);
    done = true;
    user.join();
    EXPECT_EQ(choice, c.expected);
    EXPECT_FALSE(timedOut);
  }
}

}  // namespace
}  // namespace kem::test
