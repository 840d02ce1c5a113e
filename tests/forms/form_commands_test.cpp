// The builder's form-compile and form-text commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "dialogs/forms/form_binary.h"
#include "kembuild/form_commands.h"

namespace kem {
namespace {

class FormCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kem_form_commands_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  void Write(const char* name, const std::string& text) const { std::ofstream(Path(name), std::ios::binary) << text; }

  std::filesystem::path dir_;
};

constexpr const char* kForm = "object Dlg: TPoolTemplate\r\n  Caption = 'Hello'\r\n  object Button1: TButton\r\n    Tag = 1\r\n  end\r\nend\r\n";

TEST_F(FormCommands, CompileThenShowAsText) {
  Write("dlg.txt", kForm);
  ASSERT_EQ(RunFormCompile({Path("dlg.txt"), Path("dlg.dfm")}), 0);
  std::string binary = forms::ReadFileBytes(Path("dlg.dfm"));
  EXPECT_EQ(binary, CompileTextForm(kForm, "dlg.txt"));
  EXPECT_EQ(binary.substr(0, 3), std::string("\xFF\x0A\x00", 3));
  EXPECT_NE(binary.find("TPF0"), std::string::npos);

  testing::internal::CaptureStdout();
  EXPECT_EQ(RunFormText({Path("dlg.dfm")}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kForm);
}

TEST_F(FormCommands, ErrorsNameTheFile) {
  Write("bad.txt", "object Dlg: TPoolTemplate\n  Caption = 'open\nend\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunFormCompile({Path("bad.txt"), Path("bad.dfm")}), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(Path("bad.txt") + ":2: unterminated string"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(Path("bad.dfm")));

  Write("junk.dfm", "not a form");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunFormText({Path("junk.dfm")}), 1);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(Path("junk.dfm") + ": form signature \"TPF0\" not found"), std::string::npos) << err;

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunFormText({Path("missing.dfm")}), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("missing.dfm: cannot open"), std::string::npos);

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunFormCompile({Path("dlg.txt")}), 2);
  EXPECT_EQ(RunFormText({}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("usage"), std::string::npos);

  try {
    CompileTextForm("object X: T\n  A = \n", "x.txt");
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("x.txt:3: ", 0), 0u) << e.what();
  }
}

}  // namespace
}  // namespace kem
