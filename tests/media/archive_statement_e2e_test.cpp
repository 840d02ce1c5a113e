// "Extract 7Zip Archive" run by the real engine under Wine: the result variable is written
// to a report file and the unpacked files are checked on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

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
