// "Extract 7Zip Archive" run by the real engine under Wine: the result variable is written
// to a report file and the unpacked files are checked on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/engine_runner.h"
#include "support/script_builder.h"

namespace kem::test {
namespace {

const std::string kRoot = "C:\\kem-e2e\\media";
constexpr const char* kCannotOpen = "The archive cannot be opened: unsupported archive or incorrect password";

class ArchiveStatementE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ParseEngineFilesFromTestArguments(); }
  void SetUp() override {
    if (Files().Library.empty()) GTEST_SKIP() << "kem.lib is not part of this build";
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kRoot + "\\" + name;
    temp_ = dir_ + "-temp";
    RemoveTree(dir_);
    RemoveTree(temp_);
    MakeFolder(temp_);
    MakeFolder(dir_);
    report_ = dir_ + "\\report.txt";
    sealed_ = dir_ + "\\sealed.7z";
    open_ = dir_ + "\\open names.7z";
    ASSERT_TRUE(CopyFileA(Beside("media_sealed.7z").c_str(), sealed_.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Beside("media_open.7z").c_str(), open_.c_str(), FALSE));
  }
  void Extract(const std::string& archive, const std::string& destination, const std::string& password,
               const std::string& label) {
    script_.Add("Extract 7Zip Archive", {archive, destination, "RESULT", password, "TRUE", "TRUE"});
    script_.Add("Write to Text File", {report_, label + "=$RESULT$", "FALSE"});
  }
  RunResult Run() {
    script_.Add("Terminate with Exit Code", {"7"});
    std::string exe = ComposeSetup(dir_ + "\\setup", "setup", script_.Data());
    return RunEngine(exe, "/s", 60000, temp_);
  }
  ScriptBuilder script_;
  std::string dir_, temp_, report_, sealed_, open_;
};

TEST_F(ArchiveStatementE2E, GoodArchiveUnpacksAndBadOnesReportTheirFailure) {
  script_.Add("Set Variable", {"PASS", "kem pass"});
  script_.Add("Set Variable", {"HERE", dir_});
  // The destination is made with its parents; the paths are expanded and cleaned.
  Extract("$HERE$\\\\sealed.7z", "$HERE$\\out\\deep", "$PASS$", "good");
  Extract(sealed_, dir_ + "\\wrong", "not it", "sealed");
  Extract(open_, dir_ + "\\wrong2", "not it", "open");
  Extract(dir_ + "\\missing.7z", dir_ + "\\none", "", "missing");
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  // A wrong password on readable names passes the listing and fails in the extraction:
  // the library's code.
  EXPECT_EQ(ReadFileBytes(report_), std::string("good=SUCCESS\r\nsealed=") + kCannotOpen +
                                        "\r\nopen=#1003\r\nmissing=The archive file was not found\r\n");
  EXPECT_EQ(ReadFileBytes(dir_ + "\\out\\deep\\hello.txt"), "hello from the archive\r\n");
  EXPECT_EQ(ReadFileBytes(dir_ + "\\out\\deep\\sub\\inner.txt"), "inner file\r\n");
}

// Links already in the destination, to a file and to a folder elsewhere, are never written
// through: the extraction refuses the entry that would go there (a write failure, #1007)
// and what the links lead to keeps its bytes. Under Wine the links are the host's and look
// like a plain file and a plain folder.
TEST_F(ArchiveStatementE2E, NeverWritesThroughLinksInTheDestination) {
  const std::wstring outside = Widen(dir_) + L"-outside";
  const std::wstring fileLink = Widen(dir_) + L"\\out1\\hello.txt";
  const std::wstring folderLink = Widen(dir_) + L"\\out2\\sub";
  RemoveLinks({fileLink, folderLink});
  RemoveTreeW(outside);
  MakeFolderW(outside + L"\\folder");
  WriteFileW(outside + L"\\hello.txt", "precious");
  WriteFileW(outside + L"\\folder\\keep.txt", "keep");
  MakeFolder(dir_ + "\\out1");
  MakeFolder(dir_ + "\\out2");
  if (!MakeLink(fileLink, outside + L"\\hello.txt", false) || !MakeLink(folderLink, outside + L"\\folder", true))
    GTEST_SKIP() << "no way to make a link on this system";
  Extract(sealed_, dir_ + "\\out1", "kem pass", "file");
  Extract(sealed_, dir_ + "\\out2", "kem pass", "folder");
  RunResult r = Run();
  RemoveLinks({fileLink, folderLink});
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "file=#1007\r\nfolder=#1007\r\n");
  EXPECT_EQ(FolderEntriesW(outside), (std::vector<std::wstring>{L"folder\\", L"folder\\keep.txt", L"hello.txt"}));
  EXPECT_EQ(ReadFileBytes(Narrow(outside) + "\\hello.txt"), "precious");
}

TEST_F(ArchiveStatementE2E, CancelledExtractionReportsTheCancelAndCarriesOn) {
  script_.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script_.Add("Set Variable", {"VRAX_IsCancelled", "TRUE"});
  Extract(sealed_, dir_ + "\\out", "kem pass", "cancelled");
  script_.Add("Write to Text File", {report_, "aborted=$ABORTEDONERROR$", "FALSE"});
  RunResult r = Run();
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitCode, 7u);
  EXPECT_EQ(ReadFileBytes(report_), "cancelled=#1006\r\naborted=TRUE\r\n");
  EXPECT_FALSE(PathExists(dir_ + "\\out\\hello.txt"));
}

}  // namespace
}  // namespace kem::test
