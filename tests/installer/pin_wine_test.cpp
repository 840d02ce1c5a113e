// The Windows half of shortcut pinning under Wine: the shell's verbs of a file listed by
// name, the pinned folders and the verb names' case.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/shell/pin_win32.h"

namespace kem::test {
namespace {

const std::string kFolder = "C:\\kem-pin-test";

void WriteText(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

TEST(PinServiceWine, VerbsOfAFileAreListedByName) {
  CreateDirectoryA(kFolder.c_str(), nullptr);
  const std::string file = kFolder + "\\sample.txt";
  WriteText(file, "x");
  auto pins = platform::CreateShortcutPinService();
  const std::vector<std::string> verbs = pins->Verbs(file);
  std::string all;
  for (const auto& v : verbs) all += v + ";";
  // Names as the shell writes them, accelerators included.
  EXPECT_NE(all.find("&Open;"), std::string::npos) << all;
  EXPECT_TRUE(pins->Verbs(kFolder + "\\missing.txt").empty());
  // A verb the file does not have is not run. (Wine's shell object does not run verbs at
  // all, so the pin verbs' effect shows only on Windows.)
  EXPECT_FALSE(pins->RunVerb(file, "No such verb"));
}

TEST(PinServiceWine, QuickLaunchMovesAndCase) {
  auto pins = platform::CreateShortcutPinService();
  const std::string quick = pins->QuickLaunchFolder();
  EXPECT_NE(quick.find("\\Microsoft\\Internet Explorer\\Quick Launch\\"), std::string::npos) << quick;
  EXPECT_EQ(pins->UpperCase("pin to taskbar"), "PIN TO TASKBAR");
  CreateDirectoryA(kFolder.c_str(), nullptr);
  WriteText(kFolder + "\\a.lnk", "x");
  DeleteFileA((kFolder + "\\b.lnk").c_str());
  EXPECT_TRUE(pins->MoveEntry(kFolder + "\\a.lnk", kFolder + "\\b.lnk"));
  EXPECT_TRUE(pins->FileExists(kFolder + "\\b.lnk"));
  EXPECT_FALSE(pins->FileExists(kFolder + "\\a.lnk"));
}

}  // namespace
}  // namespace kem::test
